// Rectangles in pixels, right and bottom exclusive, and the two operations
// every layer needs on them.
#pragma once

#include <algorithm>
#include <vector>

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

// Whether any of `rects` holds the point.
inline bool AnyContains(const std::vector<Rect>& rects, int x, int y) {
    return std::any_of(rects.begin(), rects.end(), [x, y](const Rect& r) { return r.Contains(x, y); });
}

// What is left of `from` once `holes` are cut out of it, as rectangles that
// do not overlap.
inline std::vector<Rect> Subtract(const Rect& from, const std::vector<Rect>& holes) {
    std::vector<Rect> pieces;
    if (!from.Empty()) pieces.push_back(from);
    for (const Rect& hole : holes) {
        std::vector<Rect> next;
        for (const Rect& p : pieces) {
            const Rect cut = Intersect(p, hole);
            if (cut.Empty()) {
                next.push_back(p);
                continue;
            }
            // The bands above and below the cut, then what is left and right of it.
            for (const Rect& r : {Rect{p.left, p.top, p.right, cut.top}, Rect{p.left, cut.bottom, p.right, p.bottom},
                                  Rect{p.left, cut.top, cut.left, cut.bottom},
                                  Rect{cut.right, cut.top, p.right, cut.bottom}})
                if (!r.Empty()) next.push_back(r);
        }
        pieces.swap(next);
    }
    return pieces;
}

}  // namespace quellora
