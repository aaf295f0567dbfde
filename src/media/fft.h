// A radix-2 fast Fourier transform for the sound measures.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace vorlane {

// The discrete Fourier transform of `size` points (a power of two), with the
// twiddle factors and the bit-reversed order worked out once.
class FourierTransform {
public:
    explicit FourierTransform(size_t size);

    size_t size() const { return size_; }
    // Replaces `data` (exactly size() values) by its transform, X(k) = sum x(n) e^(-2 pi i k n / size).
    void transform(std::vector<std::complex<double>>& data) const;

private:
    size_t size_;
    std::vector<size_t> reversed_;                 // where each index goes in bit-reversed order
    std::vector<std::complex<double>> twiddles_;   // e^(-2 pi i k / size), k < size / 2
};

}  // namespace vorlane
