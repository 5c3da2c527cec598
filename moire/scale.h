// Nearest-neighbour enlargement of a 1-bit picture by a whole factor: every
// pixel becomes an n x n block, so the picture stays 1-bit sharp. Works a
// byte of the source at a time through a table of its n-fold bits.
#pragma once

#include "moire/bitmap1.h"

namespace quellora::moire {

inline constexpr int kMaxScale = 8;

// out becomes (w * n) x (h * n) pixels of the w x h rectangle at (x, y) of
// `src`, which lies inside it; 1 <= n <= kMaxScale. `out` keeps its storage
// from call to call when the size stays.
void ScaleUp(const Bitmap1& src, int x, int y, int w, int h, int n, Bitmap1& out);

}  // namespace quellora::moire
