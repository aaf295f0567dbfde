// An open table from SHA-256 digests to numbers (a piece's place in some list
// that holds its digest): 4 bytes a slot and at least two slots for each
// number held, with no allocation per key, so that a plan of a million pieces
// stays small. The digest a number stands for is asked of `digestOf`.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "net/sha256.h"

namespace vorlane {

class DigestSlots {
public:
    static constexpr uint32_t kEmpty = UINT32_MAX;

    explicit DigestSlots(size_t most = 0) { reserve(most); }

    // Room for `most` numbers without growing; what the table holds is kept.
    template <typename DigestOf>
    void grow(size_t most, DigestOf digestOf) {
        if (2 * most <= slots_.size()) return;
        std::vector<uint32_t> held;
        for (uint32_t number : slots_)
            if (number != kEmpty) held.push_back(number);
        reserve(most);
        for (uint32_t number : held) find(digestOf(number), digestOf) = number;
    }

    // The slot of `digest`: the number held for it, or kEmpty, to be set, where it goes.
    template <typename DigestOf>
    uint32_t& find(const Sha256Digest& digest, DigestOf digestOf) {
        return slots_[slotOf(digest, digestOf)];
    }
    template <typename DigestOf>
    uint32_t find(const Sha256Digest& digest, DigestOf digestOf) const {
        return slots_[slotOf(digest, digestOf)];
    }

private:
    template <typename DigestOf>
    size_t slotOf(const Sha256Digest& digest, DigestOf digestOf) const {
        for (size_t i = DigestKey()(digest) & mask_;; i = (i + 1) & mask_)
            if (slots_[i] == kEmpty || digestOf(slots_[i]) == digest) return i;
    }

    void reserve(size_t most) {
        slots_.assign(std::bit_ceil(std::max<size_t>(2 * most, 16)), kEmpty);
        mask_ = slots_.size() - 1;
    }

    std::vector<uint32_t> slots_;
    size_t mask_ = 0;
};

}  // namespace vorlane
