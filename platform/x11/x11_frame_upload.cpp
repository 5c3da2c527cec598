// Frames into an X window: XYBitmap images in the server's layout, in shared
// memory when the server is local.
#include "platform/x11/x11_frame_upload.h"

#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <utility>

namespace quellora::x11 {

FrameUpload::FrameUpload(X11Platform& p, Visual* visual, ::Window target, GC gc)
    : p_(p), dpy_(p.Dpy()), visual_(visual), target_(target), gc_(gc) {
    layout_.unit = BitmapUnit(dpy_);
    layout_.msbFirstBits = BitmapBitOrder(dpy_) == MSBFirst;
    layout_.msbFirstBytes = ImageByteOrder(dpy_) == MSBFirst;
}

FrameUpload::~FrameUpload() {
    WaitForPut();
    FreeBitsImage();
}

bool FrameUpload::HandleCompletion(const XEvent& e) {
    if (!p_.ShmCompletionType() || e.type != p_.ShmCompletionType()) return false;
    if (reinterpret_cast<const XShmCompletionEvent&>(e).drawable == target_) putPending_ = false;
    return true;
}

bool FrameUpload::EnsureBitsImage(int w, int h) {
    if (bits_ && w <= bitsW_ && h <= bitsH_) return true;
    FreeBitsImage();
    const int width = static_cast<int>(PackedStride(w) * 8);  // whole words: the row stride the server expects
    if (p_.ShmUsable()) {
        bits_ = XShmCreateImage(dpy_, visual_, 1, XYBitmap, nullptr, &shm_, static_cast<unsigned>(width),
                                static_cast<unsigned>(h));
        if (bits_) {
            shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(bits_->bytes_per_line) * h, IPC_CREAT | 0600);
            void* mem = shm_.shmid >= 0 ? shmat(shm_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
            bool ok = mem != reinterpret_cast<void*>(-1);
            if (ok) {
                shm_.shmaddr = bits_->data = static_cast<char*>(mem);
                shm_.readOnly = True;
                ErrorTrap trap(dpy_);
                ok = XShmAttach(dpy_, &shm_) && !trap.Failed();
                shmAttached_ = ok;
            }
            // Marked for removal now, so nothing is left behind however we end.
            if (shm_.shmid >= 0) shmctl(shm_.shmid, IPC_RMID, nullptr);
            if (ok && bits_->bytes_per_line == static_cast<int>(PackedStride(w))) {
                bitsW_ = width;
                bitsH_ = h;
                return true;
            }
            // A server on another machine, or no permission: plain requests.
            FreeBitsImage();
            p_.DisableShm();
        }
    }
    plain_.assign(PackedStride(w) * static_cast<size_t>(h), 0);
    bits_ = XCreateImage(dpy_, visual_, 1, XYBitmap, 0, reinterpret_cast<char*>(plain_.data()),
                         static_cast<unsigned>(width), static_cast<unsigned>(h), 32,
                         static_cast<int>(PackedStride(w)));
    if (!bits_) return false;
    bitsW_ = width;
    bitsH_ = h;
    return true;
}

void FrameUpload::FreeBitsImage() {
    if (!bits_) return;
    if (shmAttached_) {
        XShmDetach(dpy_, &shm_);
        XSync(dpy_, False);
        shmAttached_ = false;
    }
    if (shm_.shmaddr) {
        shmdt(shm_.shmaddr);
        shm_.shmaddr = nullptr;
    }
    shm_ = XShmSegmentInfo{};
    bits_->data = nullptr;  // ours, not Xlib's
    XDestroyImage(bits_);
    bits_ = nullptr;
    bitsW_ = bitsH_ = 0;
    putPending_ = false;
}

void FrameUpload::WaitForPut() {
    // The server reads the shared image after we send the request; the next
    // frame may only be packed into it once the server says it is done.
    if (!putPending_) return;
    const int type = p_.ShmCompletionType();
    auto match = [](Display*, XEvent* e, XPointer arg) -> Bool {
        const auto* self = reinterpret_cast<std::pair<int, ::Window>*>(arg);
        return e->type == self->first && reinterpret_cast<XShmCompletionEvent*>(e)->drawable == self->second;
    };
    std::pair<int, ::Window> key{type, target_};
    XEvent e;
    XFlush(dpy_);
    // A put into a window that has just gone away gets no completion: give
    // up after a while rather than wait for ever.
    for (int waited = 0; waited < 500; waited += 10) {
        if (XCheckIfEvent(dpy_, &e, match, reinterpret_cast<XPointer>(&key))) break;
        pollfd pfd{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&pfd, 1, 10);
    }
    putPending_ = false;
}

void FrameUpload::Put(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) {
    WaitForPut();
    if (!EnsureBitsImage(w, h)) return;
    PackBitmapRows(picture, sx, sy, w, h, layout_, reinterpret_cast<uint8_t*>(bits_->data),
                   static_cast<size_t>(bits_->bytes_per_line));
    if (shmAttached_) {
        XShmPutImage(dpy_, target_, gc_, bits_, 0, 0, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h), True);
        putPending_ = true;
    } else {
        XPutImage(dpy_, target_, gc_, bits_, 0, 0, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h));
    }
}

}  // namespace quellora::x11
