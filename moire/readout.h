// A short line of text as a 1-bit picture, white on black, in a small
// built-in 5 x 7 pixel face: for the frame-rate readout in a corner of the
// window. Digits, a few capitals and signs; other characters draw as blanks.
#pragma once

#include <string_view>

#include "moire/bitmap1.h"

namespace quellora::moire {

// Each face pixel becomes `scale` x `scale` screen pixels, and a margin of
// two face pixels runs round the text.
Bitmap1 RenderReadout(std::string_view text, int scale);

}  // namespace quellora::moire
