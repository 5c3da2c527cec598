// Windows on X: the full-screen saver window of our own, the preview child in
// a host's window, or a wrapper that draws straight into a daemon's window or
// the root window. x11_window.cpp makes them, paints them and keeps the
// saver on top; x11_input.cpp turns their input into the core's events;
// x11_frame_upload.cpp puts the frames on screen.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dirty_region.h"
#include "platform/platform.h"
#include "platform/x11/x11_frame_upload.h"
#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

class PixelMaker;
class X11Window;

class X11Surface : public Surface {
public:
    X11Surface(X11Window& w, const Rect& clip) : w_(w), clip_(clip) {}
    void FillBlack(const Rect& r) override;
    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) override;
    void PutGrey(const GreyPicture& picture, int x, int y) override;

private:
    X11Window& w_;
    Rect clip_;
};

class X11Window final : public quellora::Window, public EventSink {
public:
    X11Window(X11Platform& p, const WindowParams& params, WindowEvents& events);
    ~X11Window() override;

    // quellora::Window
    WindowHandle Handle() const override { return static_cast<WindowHandle>(xwin_); }
    void Show() override;
    void Invalidate(const Rect* r) override;
    void PaintNow(const Rect* r) override;
    Rect ClientRect() const override { return Client(); }
    void SetCrossCursorRects(const std::vector<Rect>& rects) override { cross_ = rects; }
    void SetPlacement(const Rect& r) override;

    // EventSink
    void HandleEvent(XEvent& e) override;
    bool PaintIfDirty() override;
    bool Dirty() const override { return alive_ && dirty_.Pending(visible_); }
    void CursorChanged() override { UpdateCursor(lastX_, lastY_); }
    void MonitorsChanged() override;

    // Drawing, for the surface; rectangles are already clipped.
    void Fill(const Rect& r);
    void PutBits(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy);
    void PutGreyPicture(const GreyPicture& picture, int sx, int sy, int w, int h, int dx, int dy);
    Rect Client() const { return {0, 0, w_, h_}; }
    bool Alive() const { return alive_; }

private:
    void CreateOwn(const WindowParams& params);
    void SetWindowProperties(const WindowParams& params);
    void Paint(const Rect& clip);
    void UpdateCursor(int x, int y);
    // Input (x11_input.cpp): takes the keyboard and the pointer for a saver
    // window, and reports keys, motion and presses to the window's owner.
    void GrabInput();
    void HandleInput(XEvent& e);
    void GoneExternally();
    void KeepOnTop();

    X11Platform& p_;
    Display* dpy_;
    WindowEvents& events_;
    WindowParams params_;
    ::Window xwin_ = 0;     // where we draw
    ::Window watched_ = 0;  // a foreign parent whose end ends us
    bool ours_ = false;     // we created xwin_
    bool topLevel_ = false;
    bool inputEnabled_ = false;
    bool alive_ = true;
    bool visible_ = false;
    bool grabbed_ = false;
    int w_ = 0, h_ = 0;
    DirtyRegion dirty_;
    std::vector<Rect> cross_;
    int lastX_ = -1, lastY_ = -1;
    Cursor shownCursor_ = None;

    Visual* visual_ = nullptr;
    int depth_ = 0;
    Colormap cmap_ = None;
    GC gc_ = nullptr;
    unsigned long black_ = 0, white_ = 0;
    std::unique_ptr<PixelMaker> pixels_;

    std::unique_ptr<FrameUpload> upload_;

    const GreyPicture* greySource_ = nullptr;
    XImage* grey_ = nullptr;

    std::vector<uint32_t> raiseTicks_;  // when KeepOnTop last raised us
};

}  // namespace quellora::x11
