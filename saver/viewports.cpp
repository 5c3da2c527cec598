// Viewports on monitors.
#include "saver/viewports.h"

#include <algorithm>

#include "moire/motion.h"
#include "moire/rounding.h"

namespace quellora {

int AutoScale(int width, int height) {
    const int n = std::min(width / moire::kViewportWidth, height / moire::kViewportHeight);
    return std::clamp(n, 1, kMaxScaleSetting);
}

Viewport CentredViewport(const Rect& area, int scale) {
    const int n = scale == kAutoScale ? AutoScale(area.Width(), area.Height()) : scale;
    const int w = moire::kViewportWidth * n, h = moire::kViewportHeight * n;
    const int left = area.left + HalfRoundedEven(area.Width() - w);
    const int top = area.top + HalfRoundedEven(area.Height() - h);
    return {Rect{left, top, left + w, top + h}, n};
}

std::vector<Viewport> PlaceViewports(const std::vector<Monitor>& monitors, int originX, int originY, int scale,
                                     MonitorChoice choice) {
    std::vector<Viewport> out;
    auto add = [&](const Monitor& m) {
        const Rect area{m.rect.left - originX, m.rect.top - originY, m.rect.right - originX, m.rect.bottom - originY};
        out.push_back(CentredViewport(area, scale));
    };
    const auto primary = std::find_if(monitors.begin(), monitors.end(), [](const Monitor& m) { return m.primary; });
    const auto first = primary != monitors.end() ? primary : monitors.begin();
    if (first == monitors.end()) return out;
    add(*first);
    if (choice == MonitorChoice::All)
        for (auto it = monitors.begin(); it != monitors.end(); ++it)
            if (it != first) add(*it);
    return out;
}

}  // namespace quellora
