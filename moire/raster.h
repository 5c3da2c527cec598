// Rectangle copies between 1-bit bitmaps, 64 pixels at a time.
#pragma once

#include "moire/bitmap1.h"

namespace quellora::moire {

enum class RasterOp { Copy, Xor };  // plain copy (SRCCOPY) and exclusive-or (SRCINVERT)

// Combines the w x h rectangle of src at (sx, sy) into dst at (dx, dy).
// The rectangle is clipped to both bitmaps.
void Blit(Bitmap1& dst, int dx, int dy, const Bitmap1& src, int sx, int sy, int w, int h, RasterOp op);

// Extracts the w x h rectangle at (x, y); pixels outside `src` are white.
Bitmap1 Crop(const Bitmap1& src, int x, int y, int w, int h);

}  // namespace quellora::moire
