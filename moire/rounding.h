// Rounding to a pixel: to the nearest integer, an exact half to the even
// neighbour (28.5 gives 28, 29.5 gives 30, -28.5 gives -28).
#pragma once

#include <cmath>

namespace quellora {

inline int RoundHalfEven(double v) {
    const double f = std::floor(v);
    const double d = v - f;
    if (d < 0.5) return static_cast<int>(f);
    if (d > 0.5) return static_cast<int>(f) + 1;
    const int i = static_cast<int>(f);
    return (i % 2 == 0) ? i : i + 1;
}

// R(a / 2) for an integer a, exactly.
inline int HalfRoundedEven(int a) {
    return RoundHalfEven(a * 0.5);
}

}  // namespace quellora
