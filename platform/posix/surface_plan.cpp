#include "platform/posix/surface_plan.h"

#include <algorithm>
#include <cmath>

#include "platform/posix/output_layout.h"

namespace quellora::posix {

namespace {

int LogicalWidthOf(const PlanOutput& o) {
    return o.logicalWidth > 0 ? o.logicalWidth : o.monitor.Width() / std::max(1, o.scale);
}
int LogicalHeightOf(const PlanOutput& o) {
    return o.logicalHeight > 0 ? o.logicalHeight : o.monitor.Height() / std::max(1, o.scale);
}

}  // namespace

SurfacePlan PlanSurface(const PlanInput& in) {
    const PlanOutput& o = in.output;
    const int scale = std::max(1, o.scale);
    const int deviceW = o.monitor.Width(), deviceH = o.monitor.Height();
    int outputW = 0, outputH = 0;
    OutputSurfaceSize(o, outputW, outputH);

    SurfacePlan plan;
    std::vector<Piece> pieces;
    int bw = 0, bh = 0;
    auto show = [&](int left, int top, const Rect& monitor) {
        // The monitor's device pixels with its top-left corner at (left, top)
        // of the surface, as far as both the surface and the window reach.
        plan.regions.push_back({Rect{left, top, left + monitor.Width(), top + monitor.Height()}, monitor});
        const Rect inBuffer = Intersect(Rect{left, top, left + monitor.Width(), top + monitor.Height()}, Rect{0, 0, bw, bh});
        const int dx = monitor.left - left, dy = monitor.top - top;
        const Rect src = Intersect(Rect{inBuffer.left + dx, inBuffer.top + dy, inBuffer.right + dx, inBuffer.bottom + dy},
                                   in.client);
        if (!src.Empty())
            pieces.push_back(Piece{Rect{src.left - dx, src.top - dy, src.right - dx, src.bottom - dy}, src.left, src.top});
    };

    // The whole layout's logical rectangle, for a compositor that makes one
    // full-screen toplevel over every output (cage).
    Rect layout;
    for (const PlanOutput& a : in.all)
        layout = Union(layout, Rect{a.logicalX, a.logicalY, a.logicalX + LogicalWidthOf(a), a.logicalY + LogicalHeightOf(a)});
    const bool spanning = in.toplevel && in.all.size() > 1 && in.configWidth == layout.Width() &&
                          in.configHeight == layout.Height() &&
                          (in.configWidth != outputW || in.configHeight != outputH);
    int lw = 0, lh = 0;
    if (spanning) {
        // Each output's device pixels where that output lies in it.
        lw = in.configWidth, lh = in.configHeight;
        bw = lw * scale, bh = lh * scale;
        for (const PlanOutput& a : in.all)
            show((a.logicalX - layout.left) * scale, (a.logicalY - layout.top) * scale, a.monitor);
    } else {
        // The output's own size; a configure bigger than the output (a first
        // one at the device size, before the compositor applies the scale)
        // is only a bound, one smaller is kept.
        const int cw = in.configWidth > 0 ? std::min(in.configWidth, outputW) : outputW;
        const int ch = in.configHeight > 0 ? std::min(in.configHeight, outputH) : outputH;
        if (!in.viewporter) {
            lw = cw, lh = ch;
            bw = lw * scale, bh = lh * scale;
        } else if (cw == outputW && ch == outputH) {
            SurfaceExtent(deviceW, outputW, in.preferredScale, lw, bw);
            SurfaceExtent(deviceH, outputH, in.preferredScale, lh, bh);
        } else {
            lw = cw, lh = ch;
            bw = std::min(deviceW, static_cast<int>((static_cast<long long>(deviceW) * cw + outputW - 1) / outputW));
            bh = std::min(deviceH, static_cast<int>((static_cast<long long>(deviceH) * ch + outputH - 1) / outputH));
        }
        show(0, 0, o.monitor);
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.dst.left < b.dst.left; });
    plan.logicalWidth = lw, plan.logicalHeight = lh;
    plan.deviceWidth = bw, plan.deviceHeight = bh;

    if (in.viewporter && !spanning && lw > 0 && lh > 0) {
        // The picture's part on this output, in the window and in the surface's device pixels.
        Rect picture;
        for (const Piece& p : pieces) {
            const Rect shown{p.srcX, p.srcY, p.srcX + p.dst.Width(), p.srcY + p.dst.Height()};
            for (const Rect& r : in.pictures) picture = Union(picture, Intersect(r, shown));
        }
        if (picture.Empty()) {
            plan.blackPixel = true;
            plan.bufferWidth = plan.bufferHeight = 1;
            return plan;
        }
        const Piece& p = pieces.front();
        const Rect d{picture.left - p.srcX + p.dst.left, picture.top - p.srcY + p.dst.top,
                     picture.right - p.srcX + p.dst.left, picture.bottom - p.srcY + p.dst.top};
        // Whole in device pixels: a whole number of them to each logical
        // pixel, and the picture's edges on whole logical pixels.
        const int k = bw / lw;
        const bool whole = in.subsurfaces && pieces.size() == 1 && k >= 1 && bw == lw * k && bh == lh * k &&
                           d.left % k == 0 && d.top % k == 0 && d.right % k == 0 && d.bottom % k == 0;
        if (whole) {
            plan.blackPixel = true;
            plan.bufferWidth = plan.bufferHeight = 1;
            plan.subX = d.left / k, plan.subY = d.top / k;
            plan.subWidth = d.Width() / k, plan.subHeight = d.Height() / k;
            plan.subPiece = Piece{Rect{0, 0, d.Width(), d.Height()}, picture.left, picture.top};
            return plan;
        }
    }
    plan.bufferWidth = bw, plan.bufferHeight = bh;
    plan.bufferScale = in.viewporter ? 1 : scale;
    plan.pieces = std::move(pieces);
    return plan;
}

void OutputSurfaceSize(const PlanOutput& o, int& width, int& height) {
    const int scale = std::max(1, o.scale);
    const int deviceW = o.monitor.Width(), deviceH = o.monitor.Height();
    const bool deviceLayout = scale > 1 && o.logicalWidth == deviceW && o.logicalHeight == deviceH;
    width = o.logicalWidth > 0 && !deviceLayout ? o.logicalWidth : deviceW / scale;
    height = o.logicalHeight > 0 && !deviceLayout ? o.logicalHeight : deviceH / scale;
}

void SurfaceToWindow(const SurfacePlan& plan, double sx, double sy, int& x, int& y) {
    // Surface coordinates are logical: the surface's device pixels per
    // logical pixel take them into its device pixels.
    const double fx = plan.logicalWidth > 0 ? static_cast<double>(plan.deviceWidth) / plan.logicalWidth : 1.0;
    const double fy = plan.logicalHeight > 0 ? static_cast<double>(plan.deviceHeight) / plan.logicalHeight : 1.0;
    const int dx = static_cast<int>(std::floor(sx * fx)), dy = static_cast<int>(std::floor(sy * fy));
    x = dx, y = dy;
    if (plan.regions.empty()) return;
    const SurfacePlan::Region* in = &plan.regions.front();
    for (const SurfacePlan::Region& r : plan.regions)
        if (r.where.Contains(dx, dy)) in = &r;
    // A point past the output's edge (a surface reaching a fraction of a
    // pixel beyond it) counts as the edge.
    const Rect& m = in->monitor;
    x = std::clamp(m.left + dx - in->where.left, m.left, std::max(m.left, m.right - 1));
    y = std::clamp(m.top + dy - in->where.top, m.top, std::max(m.top, m.bottom - 1));
}

}  // namespace quellora::posix
