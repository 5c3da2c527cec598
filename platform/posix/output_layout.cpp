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

std::vector<Monitor> LayOutOutputs(const std::vector<OutputDescription>& outputs) {
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
