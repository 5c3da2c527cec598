// libFuzzer target: both BMP decoders on arbitrary bytes. Anything but a
// picture or a BmpError is a bug; a decoded picture must encode again and read
// back unchanged.
//
//   cmake --preset fuzz && cmake --build --preset fuzz --target fuzz_bmp
//   mkdir corpus && cp tests/fuzz_corpus/fuzz_bmp/* assets/title.bmp assets/sample.bmp corpus/
//   build/fuzz/tests/fuzz_bmp corpus -max_total_time=180
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "moire/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> file(data, size);
    try {
        const quellora::Bitmap1 picture = quellora::DecodeBmp1(file);
        if (!(quellora::DecodeBmp1(quellora::EncodeBmp1(picture)) == picture)) std::abort();
    } catch (const quellora::BmpError&) {
    }
    try {
        const quellora::GreyPicture picture = quellora::DecodeBmpGrey(file);
        if (!(quellora::DecodeBmpGrey(quellora::EncodeBmpGrey(picture)) == picture)) std::abort();
    } catch (const quellora::BmpError&) {
    }
    return 0;
}
