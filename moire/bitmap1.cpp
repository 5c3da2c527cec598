// 1-bit bitmap storage.
#include "moire/bitmap1.h"

#include <algorithm>
#include <bit>

namespace quellora {

void Bitmap1::Resize(int width, int height) {
    if (width < 0 || height < 0) width = height = 0;
    width_ = width;
    height_ = height;
    words_ = (width + 63) / 64;
    bits_.assign(static_cast<size_t>(words_) * height, 0);
}

void Bitmap1::Fill(bool black) {
    if (!black) {
        std::fill(bits_.begin(), bits_.end(), 0);
        return;
    }
    const int tail = width_ & 63;
    const uint64_t last = tail ? ~uint64_t{0} << (64 - tail) : ~uint64_t{0};
    for (int y = 0; y < height_; ++y) {
        uint64_t* r = row(y);
        std::fill(r, r + words_, ~uint64_t{0});
        if (words_) r[words_ - 1] = last;
    }
}

long long Bitmap1::CountBlack() const {
    long long n = 0;
    for (uint64_t w : bits_) n += std::popcount(w);
    return n;
}

}  // namespace quellora
