// Where a compositor's outputs lie in the one coordinate space of the saver's
// window: each output at its logical position times the largest integer
// scale among the outputs, with its size in device pixels. Outputs that do
// not overlap in the logical layout never overlap here, and the output at
// logical (0, 0) stays at (0, 0). Pure geometry, so tests can run it without
// a compositor.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace quellora::posix {

// An output as the compositor describes it.
struct OutputDescription {
    int logicalX = 0, logicalY = 0;            // the layout's position
    int logicalWidth = 0, logicalHeight = 0;   // the layout's size; 0: unknown
    int modeWidth = 0, modeHeight = 0;         // the current mode, before the transform; 0: unknown
    int transform = 0;                         // wl_output.transform: 1, 3, 5 and 7 turn by a quarter
    int scale = 1;                             // the integer scale (a fractional one rounded up)
};

// The output's size in device pixels: its mode turned by the transform, or
// without a mode its logical size times its scale.
void DeviceSize(const OutputDescription& output, int& width, int& height);

// The monitors of the outputs, in their order: device-pixel rectangles in
// the coordinates where the primary's top-left corner is (0, 0). The primary
// is the output at logical (0, 0), or the first without one. Outputs that
// overlap in the layout (a lock screen's nested server puts every one at
// (0, 0)) are laid out side by side in their order instead, the first primary.
std::vector<Monitor> LayOutOutputs(const std::vector<OutputDescription>& outputs);

// One axis of a surface that shows `device` pixels of an output whose
// logical size is `logical` (> 0), at the scale `scale120` in 120ths (the
// compositor's preferred fractional scale; 0: the ratio of the two, to the
// 120th). Gives the surface's logical size (a viewport's destination) and
// its buffer's size: whole numbers whose ratio is the scale exactly, so each
// buffer pixel falls on one device pixel. Where the logical size is not
// whole (2560 pixels at 1.5: 1706.67) the surface reaches past the output by
// less than a logical pixel (1708, a buffer of 2562 whose last 2 columns lie
// outside), so the output's last column is covered too.
void SurfaceExtent(int device, int logical, int scale120, int& surface, int& buffer);

}  // namespace quellora::posix
