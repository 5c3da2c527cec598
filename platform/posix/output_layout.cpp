#include "platform/posix/output_layout.h"

#include <algorithm>
#include <numeric>

namespace quellora::posix {

void DeviceSize(const OutputDescription& o, int& width, int& height) {
    if (o.modeWidth > 0 && o.modeHeight > 0) {
        const bool quarter = (o.transform & 1) != 0;
        width = quarter ? o.modeHeight : o.modeWidth;
        height = quarter ? o.modeWidth : o.modeHeight;
        return;
    }
    const int scale = std::max(1, o.scale);
    width = std::max(0, o.logicalWidth) * scale;
    height = std::max(0, o.logicalHeight) * scale;
}

namespace {

// Whether two outputs share any of the layout: a lock screen's nested server
// reports every output at (0, 0).
bool AnyOverlap(const std::vector<OutputDescription>& outputs) {
    std::vector<Rect> rects;
    for (const OutputDescription& o : outputs) {
        int w = 0, h = 0;
        DeviceSize(o, w, h);
        const int scale = std::max(1, o.scale);
        const int lw = o.logicalWidth > 0 ? o.logicalWidth : w / scale;
        const int lh = o.logicalHeight > 0 ? o.logicalHeight : h / scale;
        rects.push_back(Rect{o.logicalX, o.logicalY, o.logicalX + lw, o.logicalY + lh});
    }
    for (size_t i = 0; i < rects.size(); ++i)
        for (size_t j = i + 1; j < rects.size(); ++j)
            if (!Intersect(rects[i], rects[j]).Empty()) return true;
    return false;
}

}  // namespace

std::vector<Monitor> LayOutOutputs(const std::vector<OutputDescription>& outputs) {
    if (AnyOverlap(outputs)) {
        // Outputs laid over one another would share the window's pixels:
        // each gets a place of its own instead, side by side in their order,
        // the first primary, so that each shows its own whole picture.
        std::vector<Monitor> monitors;
        int x = 0;
        for (const OutputDescription& o : outputs) {
            int w = 0, h = 0;
            DeviceSize(o, w, h);
            monitors.push_back(Monitor{Rect{x, 0, x + w, h}, monitors.empty()});
            x += w;
        }
        return monitors;
    }
    int s = 1;
    for (const OutputDescription& o : outputs) s = std::max(s, o.scale);
    size_t primary = 0;
    for (size_t i = 0; i < outputs.size(); ++i)
        if (outputs[i].logicalX == 0 && outputs[i].logicalY == 0) {
            primary = i;
            break;
        }
    std::vector<Monitor> monitors;
    if (outputs.empty()) return monitors;
    const int originX = outputs[primary].logicalX * s, originY = outputs[primary].logicalY * s;
    for (size_t i = 0; i < outputs.size(); ++i) {
        int w = 0, h = 0;
        DeviceSize(outputs[i], w, h);
        const int x = outputs[i].logicalX * s - originX, y = outputs[i].logicalY * s - originY;
        monitors.push_back(Monitor{Rect{x, y, x + w, y + h}, i == primary});
    }
    return monitors;
}

void SurfaceExtent(int device, int logical, int scale120, int& surface, int& buffer) {
    if (device <= 0 || logical <= 0) {
        surface = buffer = std::max(0, device);
        return;
    }
    const long long d = device;
    const long long k = scale120 > 0 ? scale120 : std::max(1LL, (d * 120 + logical / 2) / logical);
    // The fewest logical pixels that cover the device pixels, rounded up to
    // a count whose buffer pixels are whole.
    const long long step = 120 / std::gcd(k, 120LL);
    long long l = (d * 120 + k - 1) / k;
    l = (l + step - 1) / step * step;
    surface = static_cast<int>(l);
    buffer = static_cast<int>(l * k / 120);
}

}  // namespace quellora::posix
