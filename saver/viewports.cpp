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

std::vector<Monitor> DistinctMonitors(const std::vector<Monitor>& monitors) {
    // A monitor that holds another whole is only their sum (an X server's
    // screen beside the monitors made of it, a spanning set-up); mirrored
    // monitors show one picture.
    auto holds = [](const Rect& a, const Rect& b) {
        return a != b && a.left <= b.left && a.top <= b.top && a.right >= b.right && a.bottom >= b.bottom;
    };
    std::vector<Monitor> out;
    for (const Monitor& m : monitors) {
        if (m.rect.Empty()) continue;
        if (std::any_of(monitors.begin(), monitors.end(), [&](const Monitor& o) { return holds(m.rect, o.rect); }))
            continue;
        auto same = std::find_if(out.begin(), out.end(), [&](const Monitor& o) { return o.rect == m.rect; });
        if (same != out.end())
            same->primary = same->primary || m.primary;
        else
            out.push_back(m);
    }
    return out;
}

std::vector<Viewport> PlaceViewports(const std::vector<Monitor>& all, int originX, int originY, int scale,
                                     MonitorChoice choice) {
    const std::vector<Monitor> monitors = DistinctMonitors(all);
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
