#include "media/fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace vorlane {

FourierTransform::FourierTransform(size_t size) : size_(size), reversed_(size), twiddles_(size / 2) {
    size_t bits = 0;
    while ((size_t{1} << bits) < size) ++bits;
    for (size_t i = 0; i < size; ++i) {
        size_t r = 0;
        for (size_t b = 0; b < bits; ++b)
            if (i & (size_t{1} << b)) r |= size_t{1} << (bits - 1 - b);
        reversed_[i] = r;
    }
    for (size_t k = 0; k < size / 2; ++k)
        twiddles_[k] = std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size));
}

void FourierTransform::transform(std::vector<std::complex<double>>& data) const {
    for (size_t i = 0; i < size_; ++i)
        if (i < reversed_[i]) std::swap(data[i], data[reversed_[i]]);
    // Butterflies of growing span; a span of `half` pairs uses every (size / span)-th twiddle.
    for (size_t span = 2; span <= size_; span *= 2) {
        const size_t half = span / 2;
        const size_t stride = size_ / span;
        for (size_t start = 0; start < size_; start += span) {
            for (size_t j = 0; j < half; ++j) {
                const std::complex<double> odd = data[start + j + half] * twiddles_[j * stride];
                data[start + j + half] = data[start + j] - odd;
                data[start + j] += odd;
            }
        }
    }
}

}  // namespace vorlane
