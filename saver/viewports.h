// Where the picture goes: one viewport per monitor (or on the primary one
// only), centred on it and enlarged by a whole factor, with the same rounding
// as the design's one centred viewport.
#pragma once

#include <vector>

#include "platform/platform.h"
#include "settings/display_options.h"

namespace quellora {

struct Viewport {
    Rect rect;      // in the window's client coordinates: 1024 n x 768 n
    int scale = 1;  // n screen pixels per picture pixel, each way
};

// The largest n with 1024 n <= width and 768 n <= height, at least 1 and at
// most 8: every screen smaller than 2048 x 1536 keeps one pixel per pixel.
int AutoScale(int width, int height);

// A viewport of `scale` (kAutoScale: chosen for the area's size) centred on
// `area`, both in the same coordinates.
Viewport CentredViewport(const Rect& area, int scale);

// The monitors that show a picture of their own: without those that only
// hold others whole, and with mirrored ones once.
std::vector<Monitor> DistinctMonitors(const std::vector<Monitor>& monitors);

// The viewports of a window whose top-left corner sits at `origin` in the
// monitors' coordinates, one for each distinct monitor: the primary
// monitor's first (without a primary, the first monitor's), then the others
// in their order (none of them with MonitorChoice::Primary).
std::vector<Viewport> PlaceViewports(const std::vector<Monitor>& monitors, int originX, int originY, int scale,
                                     MonitorChoice choice);

}  // namespace quellora
