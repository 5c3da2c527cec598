// Puts 1-bit frames into an X window as bitmaps in the server's own bitmap
// layout, so no conversion happens in Xlib or the server: through a shared-
// memory image when the server runs on this machine, with plain XPutImage
// otherwise. A 1 bit is drawn in the GC's foreground, a 0 bit in its
// background. The server's expansion to the window's depth is the cheapest
// way measured: a 32-bit image made here, a 1-bit shared pixmap copied with
// XCopyPlane, XRender through an A1 mask and an exclusive-or of the change
// all cost as much or more, program and server together
// (bench/x11_upload_ways.py).
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <vector>

#include "moire/bitmap1.h"
#include "platform/x11/bitmap_pack.h"
#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

class FrameUpload {
public:
    FrameUpload(X11Platform& p, Visual* visual, ::Window target, GC gc);
    ~FrameUpload();
    FrameUpload(const FrameUpload&) = delete;
    FrameUpload& operator=(const FrameUpload&) = delete;

    // Puts the w x h rectangle at (sx, sy) of `picture` at (dx, dy).
    void Put(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy);
    // Takes the server's word that it has read the shared image; true when
    // `e` was that word.
    bool HandleCompletion(const XEvent& e);
    // The target window is gone: no word will come for a put under way.
    void TargetGone() { putPending_ = false; }

private:
    bool EnsureBitsImage(int w, int h);
    void FreeBitsImage();
    // Waits until the server has read the shared image, which may only be
    // packed again, or freed, after that.
    void WaitForPut();

    X11Platform& p_;
    Display* dpy_;
    Visual* visual_;
    ::Window target_;
    GC gc_;
    BitmapLayout layout_;
    XImage* bits_ = nullptr;
    int bitsW_ = 0, bitsH_ = 0;
    XShmSegmentInfo shm_{};
    bool shmAttached_ = false;
    bool putPending_ = false;
    std::vector<uint8_t> plain_;  // the image's memory without shared memory
};

}  // namespace quellora::x11
