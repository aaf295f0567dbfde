#include "support/hub_double.h"

#include <algorithm>

#include "net/sha256.h"

namespace vorlane::testing {

std::vector<HubRequest> HubDouble::requests() const {
    std::vector<HubRequest> list;
    for (const JsonValue& item : session_.requests().items)
        list.push_back({member(item, "server").text, member(item, "method").text, member(item, "path").text,
                        member(item, "range").text, static_cast<long long>(decimalOr(member(item, "sent"), 0)),
                        isTrue(member(item, "ended"))});
    return list;
}

std::vector<std::string> HubDouble::sequence() const {
    std::vector<std::string> lines;
    for (const HubRequest& asked : requests())
        lines.push_back(asked.method + (asked.range.empty() ? "" : " " + asked.range));
    return lines;
}

// The file's name's SHA-256, over and over.
std::string HubDouble::fileBytes(const std::string& key, long long size) {
    Sha256Digest digest{};
    sha256(key, digest);
    std::string bytes;
    bytes.reserve(static_cast<size_t>(size));
    while (static_cast<long long>(bytes.size()) < size)
        bytes.append(reinterpret_cast<const char*>(digest.data()),
                     static_cast<size_t>(std::min<long long>(digest.size(), size - bytes.size())));
    return bytes;
}

}  // namespace vorlane::testing
