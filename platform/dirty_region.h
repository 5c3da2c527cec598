// The part of a window waiting for the loop to paint it, kept as Windows
// keeps a window's update region (here one rectangle holding every part
// marked). Every host's window keeps one, by the same rules:
// - a mark covers the rectangle asked for (the whole client area without
//   one), clipped to the client area;
// - a paint done at once (PaintNow) covers the rectangle asked for and no
//   more; what it covers whole is no longer waiting;
// - a hidden window paints nothing: a paint asked for meanwhile is only
//   marked, and what is marked waits until it is shown.
#pragma once

#include "platform/geometry.h"

namespace quellora {

class DirtyRegion {
public:
    // Marks `r` (nullptr: the whole client area).
    void Mark(const Rect* r, const Rect& client) { rect_ = Union(rect_, Clip(r, client)); }
    // A paint of `r` (nullptr: the whole client area) done now: the part it
    // paints, and nothing waits any more when it covers all that did.
    Rect PaintNow(const Rect* r, const Rect& client) {
        const Rect clip = Clip(r, client);
        if (Intersect(clip, rect_) == rect_) rect_ = {};
        return clip;
    }
    // Whether the loop has something to paint.
    bool Pending(bool visible) const { return visible && !rect_.Empty(); }
    // The loop's paint: everything marked, which then waits no more.
    Rect Take() {
        const Rect r = rect_;
        rect_ = {};
        return r;
    }

private:
    static Rect Clip(const Rect* r, const Rect& client) { return r ? Intersect(*r, client) : client; }

    Rect rect_;
};

}  // namespace quellora
