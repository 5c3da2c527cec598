// The About dialog on X: a small top-level window drawn from the core's
// description with Xlib and Xft, in the flat grey of the design. It sits on
// the active window as its transient and runs its own modal loop, passing
// keys, clicks and the window manager's close to the dialog until the
// dialog has a modal result.
#include <X11/Xatom.h>
#include <X11/Xft/Xft.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <string>

#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

namespace {

// The design's colours: button face, its light and dark edges, and text.
constexpr unsigned short kFace[3] = {0xD4, 0xD0, 0xC8};
constexpr unsigned short kHighlight[3] = {0xFF, 0xFF, 0xFF};
constexpr unsigned short kShadow[3] = {0x80, 0x80, 0x80};
constexpr unsigned short kDarkShadow[3] = {0x40, 0x40, 0x40};
constexpr unsigned short kText[3] = {0x00, 0x00, 0x00};
constexpr unsigned short kGreyText[3] = {0x80, 0x80, 0x80};

class AboutWindow {
public:
    AboutWindow(X11Platform& p, ModalDialog& dlg) : p_(p), dpy_(p.Dpy()), dlg_(dlg) {}
    ~AboutWindow();
    int Run();

private:
    void Create();
    void Draw();
    XftFont* Font(const DialogControl& c);
    XftColor* Colour(const unsigned short rgb[3]);
    unsigned long Pixel(const unsigned short rgb[3]) { return Colour(rgb)->pixel; }
    void Bevel(int x, int y, int w, int h, bool sunken);
    void DrawButton(const DialogControl& c);
    void DrawText(const DialogControl& c, const unsigned short rgb[3]);
    DialogControl* ButtonAt(int x, int y);

    X11Platform& p_;
    Display* dpy_;
    ModalDialog& dlg_;
    ::Window win_ = 0;
    Pixmap back_ = 0;  // drawn here, then copied: no flicker
    GC gc_ = nullptr;
    XftDraw* draw_ = nullptr;
    std::map<std::string, XftFont*> fonts_;
    std::map<unsigned long, XftColor> colours_;
    int w_ = 0, h_ = 0;
    DialogControl* pressed_ = nullptr;  // a button held down by the mouse
    bool pressedInside_ = false;
    bool focusSet_ = false;
    ::Window focusBefore_ = None;  // who had the input focus when the dialog opened
    int revertBefore_ = RevertToParent;
};

AboutWindow::~AboutWindow() {
    Visual* visual = DefaultVisual(dpy_, p_.ScreenNumber());
    Colormap cmap = DefaultColormap(dpy_, p_.ScreenNumber());
    for (auto& [key, c] : colours_) XftColorFree(dpy_, visual, cmap, &c);
    for (auto& [key, f] : fonts_)
        if (f) XftFontClose(dpy_, f);
    if (draw_) XftDrawDestroy(draw_);
    if (gc_) XFreeGC(dpy_, gc_);
    if (back_) XFreePixmap(dpy_, back_);
    if (focusSet_) {
        // The window that had the focus before the dialog gets it back; left
        // alone, the focus would fall to the root window when no window
        // manager hands it on.
        ErrorTrap trap(dpy_);
        XWindowAttributes a;
        if (focusBefore_ == PointerRoot || focusBefore_ == None)
            XSetInputFocus(dpy_, focusBefore_, RevertToPointerRoot, CurrentTime);
        else if (XGetWindowAttributes(dpy_, focusBefore_, &a) && !trap.Failed() && a.map_state == IsViewable)
            XSetInputFocus(dpy_, focusBefore_, revertBefore_, CurrentTime);
    }
    if (win_) XDestroyWindow(dpy_, win_);
    XFlush(dpy_);
}

XftColor* AboutWindow::Colour(const unsigned short rgb[3]) {
    const unsigned long key = (static_cast<unsigned long>(rgb[0]) << 16) | (rgb[1] << 8) | rgb[2];
    auto it = colours_.find(key);
    if (it != colours_.end()) return &it->second;
    XRenderColor rc{static_cast<unsigned short>(rgb[0] * 257), static_cast<unsigned short>(rgb[1] * 257),
                    static_cast<unsigned short>(rgb[2] * 257), 0xFFFF};
    XftColor c{};
    XftColorAllocValue(dpy_, DefaultVisual(dpy_, p_.ScreenNumber()), DefaultColormap(dpy_, p_.ScreenNumber()), &rc,
                       &c);
    return &colours_.emplace(key, c).first->second;
}

XftFont* AboutWindow::Font(const DialogControl& c) {
    const std::string key = c.font + "/" + std::to_string(c.fontPx) + (c.bold ? "b" : "");
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second;
    // The design's face first; fontconfig maps Arial to Liberation Sans.
    XftFont* f = XftFontOpen(dpy_, p_.ScreenNumber(), XFT_FAMILY, XftTypeString, c.font.c_str(), XFT_FAMILY,
                             XftTypeString, "Liberation Sans", XFT_FAMILY, XftTypeString, "DejaVu Sans", XFT_FAMILY,
                             XftTypeString, "sans-serif", XFT_PIXEL_SIZE, XftTypeDouble,
                             static_cast<double>(c.fontPx), XFT_WEIGHT, XftTypeInteger,
                             c.bold ? XFT_WEIGHT_BOLD : XFT_WEIGHT_MEDIUM, nullptr);
    fonts_[key] = f;
    return f;
}

void AboutWindow::Create() {
    const int screen = p_.ScreenNumber();
    XGetInputFocus(dpy_, &focusBefore_, &revertBefore_);
    w_ = std::max(1, dlg_.clientWidth);
    h_ = std::max(1, dlg_.clientHeight);
    // Centred on the primary monitor, frame included.
    const int x = p_.PrimaryX() + (p_.ScreenWidth() - dlg_.width) / 2;
    const int y = p_.PrimaryY() + (p_.ScreenHeight() - dlg_.height) / 2;

    XSetWindowAttributes swa{};
    swa.background_pixel = Pixel(kFace);
    swa.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                     PointerMotionMask | StructureNotifyMask;
    win_ = XCreateWindow(dpy_, p_.Root(), x, y, static_cast<unsigned>(w_), static_cast<unsigned>(h_), 0,
                         CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &swa);

    p_.NameWindow(win_, dlg_.caption);

    // A fixed size at a given place.
    XSizeHints hints{};
    hints.flags = PPosition | PMinSize | PMaxSize | PWinGravity;
    hints.x = x;
    hints.y = y;
    hints.min_width = hints.max_width = w_;
    hints.min_height = hints.max_height = h_;
    hints.win_gravity = NorthWestGravity;
    XSetWMNormalHints(dpy_, win_, &hints);
    XWMHints wm{};
    wm.flags = InputHint;
    wm.input = True;
    XSetWMHints(dpy_, win_, &wm);

    Atom type = p_.Intern("_NET_WM_WINDOW_TYPE_DIALOG");
    XChangeProperty(dpy_, win_, p_.Intern("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&type), 1);
    // A close box and a title, no minimise or maximise box.
    struct {
        unsigned long flags, functions, decorations;
        long inputMode;
        unsigned long status;
    } motif{1 | 2, 4 | 32, 2 | 8 | 16, 0, 0};  // move+close; border, title, menu
    const Atom motifAtom = p_.Intern("_MOTIF_WM_HINTS");
    XChangeProperty(dpy_, win_, motifAtom, motifAtom, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&motif),
                    5);
    if (dlg_.owner) {
        // The owner can't be disabled from here; a modal transient is what
        // window managers keep in front of it instead.
        XSetTransientForHint(dpy_, win_, static_cast<::Window>(static_cast<uint32_t>(dlg_.owner)));
        Atom modal = p_.Intern("_NET_WM_STATE_MODAL");
        XChangeProperty(dpy_, win_, p_.Intern("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&modal), 1);
    }

    back_ = XCreatePixmap(dpy_, win_, static_cast<unsigned>(w_), static_cast<unsigned>(h_),
                          static_cast<unsigned>(DefaultDepth(dpy_, screen)));
    gc_ = XCreateGC(dpy_, back_, 0, nullptr);
    draw_ = XftDrawCreate(dpy_, back_, DefaultVisual(dpy_, screen), DefaultColormap(dpy_, screen));
    XMapRaised(dpy_, win_);
}

void AboutWindow::Bevel(int x, int y, int w, int h, bool sunken) {
    // Two-pixel 3-D edges: light on the top and left, dark on the bottom and right.
    const unsigned short* outerTL = sunken ? kShadow : kHighlight;
    const unsigned short* outerBR = sunken ? kHighlight : kDarkShadow;
    const unsigned short* innerBR = sunken ? kFace : kShadow;
    XSetForeground(dpy_, gc_, Pixel(outerTL));
    XDrawLine(dpy_, back_, gc_, x, y, x + w - 2, y);
    XDrawLine(dpy_, back_, gc_, x, y, x, y + h - 2);
    XSetForeground(dpy_, gc_, Pixel(outerBR));
    XDrawLine(dpy_, back_, gc_, x, y + h - 1, x + w - 1, y + h - 1);
    XDrawLine(dpy_, back_, gc_, x + w - 1, y, x + w - 1, y + h - 1);
    XSetForeground(dpy_, gc_, Pixel(innerBR));
    XDrawLine(dpy_, back_, gc_, x + 1, y + h - 2, x + w - 2, y + h - 2);
    XDrawLine(dpy_, back_, gc_, x + w - 2, y + 1, x + w - 2, y + h - 2);
}

void AboutWindow::DrawText(const DialogControl& c, const unsigned short rgb[3]) {
    XftFont* f = Font(c);
    if (!f || c.text.empty()) return;
    const auto* s = reinterpret_cast<const FcChar8*>(c.text.data());
    const int len = static_cast<int>(c.text.size());
    XGlyphInfo ext{};
    XftTextExtentsUtf8(dpy_, f, s, len, &ext);
    int x = c.left;
    int y = c.top + f->ascent;
    if (c.kind == DialogControl::Kind::Button) {
        x = c.left + (c.width - ext.xOff) / 2;
        y = c.top + (c.height - (f->ascent + f->descent)) / 2 + f->ascent;
    } else if (c.centred) {
        x = c.left + (c.width - ext.xOff) / 2;
    } else if (c.kind == DialogControl::Kind::Edit) {
        x = c.left + (c.borderless ? 1 : 3);
        y = c.top + (c.height - (f->ascent + f->descent)) / 2 + f->ascent;
    }
    XftDrawStringUtf8(draw_, Colour(rgb), f, x, y, s, len);
}

void AboutWindow::DrawButton(const DialogControl& c) {
    const bool down = pressed_ == &c && pressedInside_;
    int x = c.left, y = c.top, w = c.width, h = c.height;
    if (c.isDefault && c.enabled) {
        // The default button's black frame.
        XSetForeground(dpy_, gc_, Pixel(kText));
        XDrawRectangle(dpy_, back_, gc_, x, y, static_cast<unsigned>(w - 1), static_cast<unsigned>(h - 1));
        ++x, ++y, w -= 2, h -= 2;
    }
    if (down) {
        XSetForeground(dpy_, gc_, Pixel(kShadow));
        XDrawRectangle(dpy_, back_, gc_, x, y, static_cast<unsigned>(w - 1), static_cast<unsigned>(h - 1));
    } else {
        Bevel(x, y, w, h, false);
    }
    DialogControl label = c;
    if (down) label.left += 1, label.top += 1;
    DrawText(label, c.enabled ? kText : kGreyText);
    if (c.isDefault && c.enabled) {
        // The focus rectangle of the focused button.
        XGCValues gv{};
        gv.line_style = LineOnOffDash;
        gv.dashes = 1;
        XChangeGC(dpy_, gc_, GCLineStyle | GCDashList, &gv);
        XSetForeground(dpy_, gc_, Pixel(kText));
        XDrawRectangle(dpy_, back_, gc_, x + 3, y + 3, static_cast<unsigned>(w - 7), static_cast<unsigned>(h - 7));
        gv.line_style = LineSolid;
        XChangeGC(dpy_, gc_, GCLineStyle, &gv);
    }
}

void AboutWindow::Draw() {
    XSetForeground(dpy_, gc_, Pixel(kFace));
    XFillRectangle(dpy_, back_, gc_, 0, 0, static_cast<unsigned>(w_), static_cast<unsigned>(h_));
    for (DialogControl* c : dlg_.Controls()) {
        if (!c->visible) continue;
        switch (c->kind) {
            case DialogControl::Kind::Label: DrawText(*c, c->enabled ? kText : kGreyText); break;
            case DialogControl::Kind::Edit:
                if (!c->borderless) {
                    XSetForeground(dpy_, gc_, Pixel(c->readOnly || !c->enabled ? kFace : kHighlight));
                    XFillRectangle(dpy_, back_, gc_, c->left, c->top, static_cast<unsigned>(c->width),
                                   static_cast<unsigned>(c->height));
                    Bevel(c->left, c->top, c->width, c->height, true);
                }
                DrawText(*c, c->enabled ? kText : kGreyText);
                break;
            case DialogControl::Kind::TrackBar: {
                // The groove and the thumb at the slider's position.
                const int gy = c->top + 8;
                Bevel(c->left + 8, gy, c->width - 16, 4, true);
                const auto& t = dlg_.trackBar;
                const int span = std::max(1, t.max - t.min);
                const int tx = c->left + 8 + (c->width - 27) * (t.position - t.min) / span;
                Bevel(tx, c->top, 11, 20, false);
                break;
            }
            case DialogControl::Kind::Button: DrawButton(*c); break;
        }
    }
    XCopyArea(dpy_, back_, win_, gc_, 0, 0, static_cast<unsigned>(w_), static_cast<unsigned>(h_), 0, 0);
}

DialogControl* AboutWindow::ButtonAt(int x, int y) {
    for (DialogControl* c : dlg_.Controls())
        if (c->kind == DialogControl::Kind::Button && c->visible && c->enabled && c->Bounds().Contains(x, y))
            return c;
    return nullptr;
}

int AboutWindow::Run() {
    Create();
    dlg_.modalResult = 0;
    while (dlg_.modalResult == 0) {
        XEvent e;
        XNextEvent(dpy_, &e);
        if (e.xany.window != win_) continue;
        switch (e.type) {
            case Expose:
                if (e.xexpose.count == 0) Draw();
                if (!focusSet_) {
                    // Keys go to the dialog at once, with or without a window manager.
                    focusSet_ = true;
                    ErrorTrap trap(dpy_);
                    XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
                }
                break;
            case KeyPress: {
                const uint16_t vk = VirtualKeyOf(e.xkey);
                DialogControl* focused = dlg_.FocusedButton();
                if (vk == vk::kSpace && focused && focused->visible && focused->enabled) {
                    pressed_ = focused;  // the focused button clicks on release
                    pressedInside_ = true;
                    Draw();
                } else if (vk) {
                    dlg_.KeyDown(vk);
                }
                break;
            }
            case KeyRelease:
                if (VirtualKeyOf(e.xkey) == vk::kSpace && pressed_ && pressed_ == dlg_.FocusedButton() &&
                    pressedInside_) {
                    DialogControl* b = pressed_;
                    pressed_ = nullptr;
                    Draw();
                    dlg_.ButtonClick(*b);
                }
                break;
            case ButtonPress:
                if (e.xbutton.button == Button1) {
                    pressed_ = ButtonAt(e.xbutton.x, e.xbutton.y);
                    pressedInside_ = pressed_ != nullptr;
                    if (pressed_) Draw();
                }
                break;
            case MotionNotify:
                if (pressed_) {
                    const bool inside = pressed_->Bounds().Contains(e.xmotion.x, e.xmotion.y);
                    if (inside != pressedInside_) {
                        pressedInside_ = inside;
                        Draw();
                    }
                }
                break;
            case ButtonRelease:
                if (e.xbutton.button == Button1 && pressed_) {
                    DialogControl* b = pressed_;
                    const bool inside = b->Bounds().Contains(e.xbutton.x, e.xbutton.y);
                    pressed_ = nullptr;
                    Draw();
                    if (inside) dlg_.ButtonClick(*b);
                }
                break;
            case ClientMessage:
                if (p_.IsCloseRequest(e)) dlg_.CloseRequest();
                break;
            case DestroyNotify:
                win_ = 0;  // gone from outside: nothing to close
                dlg_.CloseRequest();
                if (dlg_.modalResult == 0) dlg_.modalResult = -1;  // nothing left to show it in
                break;
            default: break;
        }
    }
    return dlg_.modalResult;
}

}  // namespace

int RunAboutDialog(X11Platform& platform, ModalDialog& dialog) {
    AboutWindow window(platform, dialog);
    return window.Run();
}

}  // namespace quellora::x11
