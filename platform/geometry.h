// Rectangles in pixels, right and bottom exclusive, and the two operations
// every layer needs on them.
#pragma once

#include <algorithm>

namespace quellora {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const Rect&) const = default;
};

// The overlap of two rectangles; the empty Rect{} when there is none.
inline Rect Intersect(const Rect& a, const Rect& b) {
    const Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom)};
    return r.Empty() ? Rect{} : r;
}

// The smallest rectangle holding both; an empty one adds nothing.
inline Rect Union(const Rect& a, const Rect& b) {
    if (a.Empty()) return b.Empty() ? Rect{} : b;
    if (b.Empty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

}  // namespace quellora
