// The preview's picture, sampled from the screen the saver draws on.
#include "settings-window/preview_picture.h"

#include <algorithm>

namespace quellora::settings_window {

void FitPreview(int areaW, int areaH, int screenW, int screenH, int& width, int& height) {
    width = height = 1;
    if (screenW <= 0 || screenH <= 0 || areaW <= 0 || areaH <= 0) return;
    // The smaller of the two ratios area / screen, and never above 1.
    if (static_cast<int64_t>(areaW) * screenH <= static_cast<int64_t>(areaH) * screenW) {
        width = std::min(areaW, screenW);
        height = static_cast<int>(static_cast<int64_t>(width) * screenH / screenW);
    } else {
        height = std::min(areaH, screenH);
        width = static_cast<int>(static_cast<int64_t>(height) * screenW / screenH);
    }
    width = std::max(width, 1);
    height = std::max(height, 1);
}

void PreviewPicture::Resize(int screenW, int screenH, int width, int height) {
    screenW_ = screenW;
    screenH_ = screenH;
    width_ = width;
    height_ = height;
    srcX_.resize(static_cast<size_t>(width));
    srcY_.resize(static_cast<size_t>(height));
    for (int i = 0; i < width; ++i) srcX_[static_cast<size_t>(i)] = SourceOf(i, width, screenW);
    for (int i = 0; i < height; ++i) srcY_[static_cast<size_t>(i)] = SourceOf(i, height, screenH);
    pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kBlack);
}

void PreviewPicture::Span(const std::vector<int>& source, int from, int to, int& first, int& end) {
    first = static_cast<int>(std::lower_bound(source.begin(), source.end(), from) - source.begin());
    end = static_cast<int>(std::lower_bound(source.begin(), source.end(), to) - source.begin());
}

void PreviewPicture::FillBlack(const Rect& r, const Rect& clip) {
    const Rect c = Intersect(r, clip);
    if (c.Empty()) return;
    int x0, x1, y0, y1;
    Span(srcX_, c.left, c.right, x0, x1);
    Span(srcY_, c.top, c.bottom, y0, y1);
    for (int y = y0; y < y1; ++y) std::fill_n(&pixels_[static_cast<size_t>(y) * width_ + x0], x1 - x0, kBlack);
}

void PreviewPicture::PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy,
                                const Rect& clip) {
    const Rect c = Intersect(Rect{dx, dy, dx + w, dy + h}, clip);
    if (c.Empty()) return;
    int x0, x1, y0, y1;
    Span(srcX_, c.left, c.right, x0, x1);
    Span(srcY_, c.top, c.bottom, y0, y1);
    for (int y = y0; y < y1; ++y) {
        uint32_t* out = &pixels_[static_cast<size_t>(y) * width_];
        const int py = sy + srcY_[static_cast<size_t>(y)] - dy;
        for (int x = x0; x < x1; ++x)
            out[x] = picture.Get(sx + srcX_[static_cast<size_t>(x)] - dx, py) ? kBlack : kWhite;
    }
}

void PreviewPicture::PutGrey(const GreyPicture& picture, int x, int y, const Rect& clip) {
    const Rect c = Intersect(Rect{x, y, x + picture.width, y + picture.height}, clip);
    if (c.Empty()) return;
    int x0, x1, y0, y1;
    Span(srcX_, c.left, c.right, x0, x1);
    Span(srcY_, c.top, c.bottom, y0, y1);
    for (int py = y0; py < y1; ++py)
        for (int px = x0; px < x1; ++px) {
            const uint32_t level =
                picture.LevelAt(srcX_[static_cast<size_t>(px)] - x, srcY_[static_cast<size_t>(py)] - y);
            pixels_[static_cast<size_t>(py) * width_ + px] = 0xFF000000u | level << 16 | level << 8 | level;
        }
}

}  // namespace quellora::settings_window
