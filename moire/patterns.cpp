// The band rules of the two patterns. A pixel is black when it lies inside a
// band of an odd number of the pattern's four band families; every family
// repeats each 36 pixels measured across its bands.
#include "moire/patterns.h"

#include <bit>
#include <cmath>
#include <vector>

namespace quellora {

namespace {

constexpr double kPeriod = 36.0;

// The diagonal families repeat every 36 * sqrt(2) pixels along an axis.
const double kDiagonalPeriod = 36.0 * std::sqrt(2.0);

// Band starts of a diagonal family: floor(phase + 36 sqrt(2) j) for every j.
// For each value v in [first, last] this gives v minus the start of the band
// holding v, or -1 when v lies in a gap. Bands are 26 values wide.
std::vector<int> DiagonalBands(double phase, int first, int last) {
    constexpr int kBandValues = 26;
    std::vector<int> into(static_cast<size_t>(last - first + 1), -1);
    int j = static_cast<int>(std::floor((first - kBandValues - phase) / kDiagonalPeriod));
    for (;; ++j) {
        const int start = static_cast<int>(std::floor(phase + kDiagonalPeriod * j));
        if (start > last) break;
        for (int v = start; v < start + kBandValues; ++v)
            if (v >= first && v <= last) into[static_cast<size_t>(v - first)] = v - start;
    }
    return into;
}

int Mod36(int v) { return ((v % 36) + 36) % 36; }

}  // namespace

Bitmap1 GeneratePattern1() {
    // Unit vectors across each family's bands, at 22.5 degrees apart, and the
    // phase of each family.
    constexpr double kCos22 = 0.92387953251128674;  // cos 22.5 degrees
    constexpr double kSin22 = 0.38268343236508978;  // sin 22.5 degrees
    struct Family {
        double cos, sin, phase;
    };
    constexpr Family kFamilies[4] = {
        {kCos22, kSin22, 11.01},    // 22.5 degrees
        {kSin22, kCos22, 26.42},    // 67.5 degrees
        {-kSin22, kCos22, 21.58},   // 112.5 degrees
        {-kCos22, kSin22, 5.92},    // 157.5 degrees
    };
    constexpr double kBand = 18.4;

    Bitmap1 p(kPatternWidth, kPatternHeight);
    // The column and row terms are rounded separately and then added, so the
    // result is the same whatever the compiler does with multiply-add.
    std::vector<double> column(kPatternWidth);
    for (int y = 0; y < kPatternHeight; ++y) {
        std::vector<uint8_t> odd(kPatternWidth, 0);
        for (const Family& f : kFamilies) {
            for (int x = 0; x < kPatternWidth; ++x) column[x] = x * f.cos;
            const double rowTerm = y * f.sin - f.phase;
            for (int x = 0; x < kPatternWidth; ++x) {
                double m = std::fmod(column[x] + rowTerm, kPeriod);  // exact
                if (m < 0) m += kPeriod;
                odd[x] ^= m < kBand;
            }
        }
        for (int x = 0; x < kPatternWidth; ++x)
            if (odd[x]) p.Set(x, y, true);
    }
    return p;
}

Bitmap1 GeneratePattern2() {
    constexpr int W = kPatternWidth, H = kPatternHeight;
    // x + y runs from 0 to W + H - 2; y - x from 1 - W to H - 1.
    const std::vector<int> rising = DiagonalBands(45.22, 0, W + H - 2);
    const std::vector<int> falling = DiagonalBands(73.10, 1 - W, H - 1);

    Bitmap1 p(W, H);
    for (int y = 0; y < H; ++y) {
        // The rising diagonal bands that meet the top edge end early in rows 0
        // to 4: at 21 past their start in row 0, 22 in row 1, 23 in row 2 and
        // 24 in rows 3 and 4, instead of 25. This cuts a small wedge off the
        // top end of each of them.
        const int risingLast = y < 5 ? 21 + (y < 3 ? y : 3) : 25;
        const bool horizontal = Mod36(y - 8) < 18;
        for (int x = 0; x < W; ++x) {
            const bool vertical = Mod36(x - 22) < 18;
            const int r = rising[static_cast<size_t>(x + y)];
            const bool up = r >= 0 && r <= risingLast;
            const bool down = falling[static_cast<size_t>(y - x + W - 1)] >= 0;
            if (vertical ^ horizontal ^ up ^ down) p.Set(x, y, true);
        }
    }
    return p;
}

namespace {

// Pixels that differ between row a and row b moved left by `shift` columns,
// over the first `count` columns.
long long DifferingInRow(const uint64_t* a, const uint64_t* b, int words, int shift, int count) {
    const int q = shift >> 6, r = shift & 63;
    long long n = 0;
    for (int i = 0; i * 64 < count; ++i) {
        const uint64_t hi = i + q < words ? b[i + q] : 0;
        const uint64_t lo = i + q + 1 < words ? b[i + q + 1] : 0;
        const uint64_t moved = r ? (hi << r) | (lo >> (64 - r)) : hi;
        uint64_t diff = a[i] ^ moved;
        const int left = count - i * 64;
        if (left < 64) diff &= ~uint64_t{0} << (64 - left);
        n += std::popcount(diff);
    }
    return n;
}

}  // namespace

double ShiftedDifference(const Bitmap1& picture, int dx, int dy) {
    const int w = picture.Width(), h = picture.Height();
    if (dx < 0 || dy < 0 || dx >= w || dy >= h) return 1.0;
    long long n = 0;
    for (int y = 0; y + dy < h; ++y)
        n += DifferingInRow(picture.Row(y), picture.Row(y + dy), picture.WordsPerRow(), dx, w - dx);
    return static_cast<double>(n) / (static_cast<double>(w - dx) * (h - dy));
}

ShiftFigure BestSidewaysShift(const Bitmap1& picture, int maxShift) {
    ShiftFigure best;
    for (int d = 1; d <= maxShift && d < picture.Width(); ++d)
        if (const double f = ShiftedDifference(picture, d, 0); f < best.differing) best = {d, f};
    return best;
}

ShiftFigure BestVerticalShift(const Bitmap1& picture, int maxShift) {
    ShiftFigure best;
    for (int d = 1; d <= maxShift && d < picture.Height(); ++d)
        if (const double f = ShiftedDifference(picture, 0, d); f < best.differing) best = {d, f};
    return best;
}

}  // namespace quellora
