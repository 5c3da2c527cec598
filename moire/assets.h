// The four pictures built into every binary: the two patterns, the title card
// and the preview's sample picture, decoded from the embedded BMP files.
#pragma once

#include <cstdint>
#include <span>

#include "moire/bitmap1.h"

namespace quellora {

enum class Asset { Pattern1, Pattern2, TitleCard, Sample };

// The embedded file, byte for byte as committed under assets/.
std::span<const uint8_t> AssetFile(Asset which);

// Decoded once and kept for the life of the process.
const Bitmap1& Img1Picture();         // first pattern, 1600 x 768
const Bitmap1& Img2Picture();         // second pattern, 1600 x 768
const Bitmap1& TitlePicture();        // title card, 320 x 240
const GreyPicture& SamplePicture();   // preview sample, 210 x 156

}  // namespace quellora
