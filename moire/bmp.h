// Reads and writes the saver's pictures as uncompressed Windows BMP files:
// 1-bit pictures with the white/black palette, and 8-bit grey pictures.
// Anything malformed or truncated is rejected with BmpError, never read past.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "moire/bitmap1.h"

namespace quellora {

class BmpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// 1 bit per pixel, 2 palette entries (0 white, 1 black), 2834 pixels per metre.
std::vector<uint8_t> EncodeBmp1(const Bitmap1& picture);
// 8 bits per pixel, one grey palette entry per level, all of them used and important.
std::vector<uint8_t> EncodeBmpGrey(const GreyPicture& picture);

// Decoders keep the stored palette indices. DecodeBmp1 requires a 1-bit file
// whose index 0 is white and index 1 black; DecodeBmpGrey an 8-bit file whose
// palette entries are all grey.
Bitmap1 DecodeBmp1(std::span<const uint8_t> file);
GreyPicture DecodeBmpGrey(std::span<const uint8_t> file);

}  // namespace quellora
