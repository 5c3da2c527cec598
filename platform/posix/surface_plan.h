// What a compositor's surface on one output shows of the saver's window:
// its size, the black around the picture, and the buffers that carry the
// picture, in whole pixels. Worked out from the output, the compositor's
// configure and where the picture lies, without a compositor, so that a
// table test can run it.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace quellora::posix {

// A part of a buffer that shows the window: `dst` in the buffer's pixels,
// its top-left corner showing the window's (srcX, srcY).
struct Piece {
    Rect dst;
    int srcX = 0, srcY = 0;
    bool operator==(const Piece&) const = default;
};

// An output as a surface plan sees it.
struct PlanOutput {
    Rect monitor;                             // its device pixels, in the window's coordinates
    int logicalX = 0, logicalY = 0;           // its place in the compositor's layout
    int logicalWidth = 0, logicalHeight = 0;  // its size there; 0: unknown
    int scale = 1;                            // its integer scale
};

struct PlanInput {
    PlanOutput output;             // the surface's own
    std::vector<PlanOutput> all;   // every output the window covers, its own among them
    int configWidth = 0, configHeight = 0;  // the last configure's size, logical; 0: ours to choose
    bool toplevel = false;         // a full-screen toplevel (a compositor may make it span every output)
    bool viewporter = false;       // wp_viewporter is there
    bool subsurfaces = false;      // wl_subcompositor is there
    int preferredScale = 0;        // wp_fractional_scale_v1's, in 120ths; 0: none said
    Rect client;                   // the window
    std::vector<Rect> pictures;    // where the picture lies in the window; black elsewhere
};

struct SurfacePlan {
    // The surface's size in its logical pixels (the viewport's destination),
    // and what that size covers in device pixels.
    int logicalWidth = 0, logicalHeight = 0;
    int deviceWidth = 0, deviceHeight = 0;
    // Its own buffer: one black pixel stretched over it, or a buffer of
    // bufferWidth x bufferHeight (at bufferScale without a viewport) showing
    // `pieces`, black around them.
    bool blackPixel = false;
    int bufferWidth = 0, bufferHeight = 0, bufferScale = 1;
    std::vector<Piece> pieces;
    // The picture on a subsurface of its own, at (subX, subY) of the surface
    // and subWidth x subHeight of its logical pixels, from a buffer of the
    // picture's device pixels that shows `subPiece`; subWidth 0: none.
    int subX = 0, subY = 0, subWidth = 0, subHeight = 0;
    Piece subPiece;
    // Where each output lies in the surface (in its device pixels, `where`)
    // and in the window (`monitor`): a toplevel over every output holds them
    // all, any other surface its own.
    struct Region {
        Rect where, monitor;
        bool operator==(const Region&) const = default;
    };
    std::vector<Region> regions;

    bool operator==(const SurfacePlan&) const = default;
};

// The picture goes on a subsurface of its own size wherever its place is
// whole in device pixels (a viewport and subsurfaces offered, an integer
// scale, edges on whole logical pixels), over one black pixel stretched
// across the output; elsewhere (a fractional scale, no viewport, a toplevel
// over every output) one buffer of the output's size shows it.
SurfacePlan PlanSurface(const PlanInput& in);

// The output's size in its surfaces' logical pixels: its logical size,
// except where the compositor lays its outputs out in device pixels (a
// scaled output whose logical size is its device size, as Mutter without
// fractional scaling does), whose surfaces still count in scaled pixels.
void OutputSurfaceSize(const PlanOutput& o, int& width, int& height);

// Where a point of the surface (sx, sy, in its logical pixels) lies in the
// window.
void SurfaceToWindow(const SurfacePlan& plan, double sx, double sy, int& x, int& y);

}  // namespace quellora::posix
