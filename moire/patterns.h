// The two pattern pictures, built from their band rules, and the figures that
// say how far each pattern is from repeating itself.
#pragma once

#include "moire/bitmap1.h"

namespace quellora {

// The size of both pattern pictures, and so of the display image and the
// bitmaps the frames are composed in.
inline constexpr int kPatternWidth = 1600;
inline constexpr int kPatternHeight = 768;

// First pattern: four band families at 22.5, 67.5, 112.5 and 157.5 degrees.
Bitmap1 GeneratePattern1();
// Second pattern: vertical, horizontal and both diagonal band families, with
// the diagonal bands that meet the top edge ending early in rows 0 to 4.
Bitmap1 GeneratePattern2();

// The fraction of pixels that differ between a picture and itself moved dx
// columns left and dy rows up, over the part where the two overlap (dx, dy >= 0).
double ShiftedDifference(const Bitmap1& picture, int dx, int dy);

// The shift at which a picture differs least from itself, and the fraction of
// the overlapping pixels that still differ there.
struct ShiftFigure {
    int shift = 0;
    double differing = 1.0;
};
// Shifts of 1 to maxShift columns (sideways) or rows (vertical).
ShiftFigure BestSidewaysShift(const Bitmap1& picture, int maxShift);
ShiftFigure BestVerticalShift(const Bitmap1& picture, int maxShift);

}  // namespace quellora
