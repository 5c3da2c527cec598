// The preview's picture: the saver's whole window (every monitor, in device
// pixels) made small enough to fit, each preview pixel the screen pixel under
// its centre, so the 1-bit frames stay black and white and never blur.
// The window's Surface draws into it; no toolkit is needed, so the unit
// tests check it against a picture made at full size.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace quellora::settings_window {

// The preview's size for a screen of `screenW` x `screenH` pixels in an area
// of `areaW` x `areaH`: the screen's shape, as large as fits, never larger
// than the screen itself, at least 1 x 1.
void FitPreview(int areaW, int areaH, int screenW, int screenH, int& width, int& height);

// The screen pixel a preview pixel shows, along one axis: the one under the
// pixel's centre, floor((i + 1/2) * screen / preview).
inline int SourceOf(int i, int preview, int screen) {
    return static_cast<int>((2 * static_cast<int64_t>(i) + 1) * screen / (2 * static_cast<int64_t>(preview)));
}

class PreviewPicture {
public:
    static constexpr uint32_t kBlack = 0xFF000000;
    static constexpr uint32_t kWhite = 0xFFFFFFFF;

    // A screen of `screenW` x `screenH` shown in `width` x `height` pixels;
    // all black.
    void Resize(int screenW, int screenH, int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    int ScreenWidth() const { return screenW_; }
    int ScreenHeight() const { return screenH_; }
    // Rows of 32-bit pixels, 0xAARRGGBB, top row first.
    const std::vector<uint32_t>& Pixels() const { return pixels_; }

    // What the saver's window draws on the screen: where the screen pixels
    // under the preview's pixels lie inside `clip`.
    void FillBlack(const Rect& r, const Rect& clip);
    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy, const Rect& clip);
    void PutGrey(const GreyPicture& picture, int x, int y, const Rect& clip);

private:
    // The preview's columns (or rows) whose screen pixels lie in [from, to).
    static void Span(const std::vector<int>& source, int from, int to, int& first, int& end);

    int screenW_ = 0, screenH_ = 0, width_ = 0, height_ = 0;
    std::vector<int> srcX_, srcY_;
    std::vector<uint32_t> pixels_;
};

}  // namespace quellora::settings_window
