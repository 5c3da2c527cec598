// The pictures built into the program: the files of assets/, embedded at build
// time, each decoded on first use.
#include "moire/assets.h"

#include "moire/bmp.h"

namespace quellora {

// Written at build time from assets/ (cmake/embed_assets.cmake), in the order
// of enum Asset.
std::span<const uint8_t> EmbeddedAsset(int index);

std::span<const uint8_t> AssetFile(Asset which) { return EmbeddedAsset(static_cast<int>(which)); }

const Bitmap1& Img1Picture() {
    static const Bitmap1 picture = DecodeBmp1(AssetFile(Asset::Pattern1));
    return picture;
}

const Bitmap1& Img2Picture() {
    static const Bitmap1 picture = DecodeBmp1(AssetFile(Asset::Pattern2));
    return picture;
}

const Bitmap1& TitlePicture() {
    static const Bitmap1 picture = DecodeBmp1(AssetFile(Asset::TitleCard));
    return picture;
}

const GreyPicture& SamplePicture() {
    static const GreyPicture picture = DecodeBmpGrey(AssetFile(Asset::Sample));
    return picture;
}

}  // namespace quellora
