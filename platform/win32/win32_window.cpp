// Saver windows: one plain window procedure that hands each message to a
// small handler, and a GDI surface that puts 1-bit frames on screen through
// the window's MonoBlitter and grey pictures as device-independent bitmaps.
// While the system says the display is off, a window draws nothing.
#include "platform/win32/win32_platform.h"

#include <imm.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace quellora::win32 {

LRESULT CALLBACK SaverWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);

namespace {

// An 8-bit DIB header with room for 256 palette entries.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

class GdiSurface : public Surface {
public:
    GdiSurface(MonoBlitter& blitter, HDC dc) : blitter_(blitter), dc_(dc) {}

    void FillBlack(const Rect& r) override {
        if (r.Width() <= 0 || r.Height() <= 0) return;
        const RECT rc{r.left, r.top, r.right, r.bottom};
        FillRect(dc_, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }

    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) override {
        blitter_.Put(dc_, picture, sx, sy, w, h, dx, dy);
    }

    void PutGrey(const GreyPicture& picture, int x, int y) override {
        if (picture.Empty()) return;
        const int stride = (picture.width + 3) & ~3;
        std::vector<uint8_t> bits(static_cast<size_t>(stride) * picture.height);
        for (int row = 0; row < picture.height; ++row)
            std::copy_n(&picture.indices[static_cast<size_t>(row) * picture.width], picture.width,
                        &bits[static_cast<size_t>(row) * stride]);
        DibInfo info{};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = picture.width;
        info.header.biHeight = -picture.height;
        info.header.biPlanes = 1;
        info.header.biBitCount = 8;
        info.header.biCompression = BI_RGB;
        const size_t n = std::min<size_t>(picture.levels.size(), 256);
        info.header.biClrUsed = static_cast<DWORD>(n);
        for (size_t i = 0; i < n; ++i) {
            const BYTE g = picture.levels[i];
            info.colours[i] = RGBQUAD{g, g, g, 0};
        }
        SetDIBitsToDevice(dc_, x, y, picture.width, picture.height, 0, 0, 0, picture.height, bits.data(),
                          reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS);
    }

private:
    MonoBlitter& blitter_;
    HDC dc_;
};

uint32_t KeyShift() {
    uint32_t s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= kShift;
    if (GetKeyState(VK_MENU) < 0) s |= kAlt;
    if (GetKeyState(VK_CONTROL) < 0) s |= kCtrl;
    return s;
}

uint32_t MouseShift(WPARAM w) {
    uint32_t s = 0;
    if (w & MK_SHIFT) s |= kShift;
    if (w & MK_CONTROL) s |= kCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= kAlt;
    if (w & MK_LBUTTON) s |= kLeftButton;
    if (w & MK_RBUTTON) s |= kRightButton;
    if (w & MK_MBUTTON) s |= kMiddleButton;
    return s;
}

// One window class per class style.
const wchar_t* ClassFor(Win32Platform& platform, uint32_t classStyle) {
    static std::map<uint32_t, std::wstring> registered;
    auto it = registered.find(classStyle);
    if (it != registered.end()) return it->second.c_str();
    wchar_t name[40];
    swprintf(name, 40, L"QuelloraSaver%04X", static_cast<unsigned>(classStyle));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = SaverWindowProc;
    wc.hInstance = platform.Instance();
    wc.hIcon = LoadIconW(platform.Instance(), MAKEINTRESOURCEW(1));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
    return registered.emplace(classStyle, name).first->second.c_str();
}

}  // namespace

class Win32Window : public Window {
public:
    Win32Window(Win32Platform& platform, WindowEvents& events)
        : platform_(platform), events_(events), blitter_(platform.Blit()) {}

    ~Win32Window() override {
        if (hwnd_) {
            destroying_ = true;
            DestroyWindow(hwnd_);
        }
    }

    bool Create(const WindowParams& p) {
        HWND parent = p.parent ? ToHwnd(p.parent) : platform_.ApplicationWindow();
        CreateWindowExW(p.exStyle, ClassFor(platform_, p.classStyle), Widen(p.caption).c_str(), p.style, p.x, p.y,
                        p.width, p.height, parent, nullptr, platform_.Instance(), this);
        if (!hwnd_) return false;
        if (p.inputMethodDisabled) ImmAssociateContextEx(hwnd_, nullptr, 0);
        // The system tells the window when the display goes off, dims and
        // comes on again (WM_POWERBROADCAST).
        displayNotice_ =
            RegisterPowerSettingNotification(hwnd_, &GUID_CONSOLE_DISPLAY_STATE, DEVICE_NOTIFY_WINDOW_HANDLE);
        return true;
    }

    WindowHandle Handle() const override { return FromHwnd(hwnd_); }

    void Show() override {
        if (!hwnd_) return;
        // Showing a window under a resting pointer makes the system report a
        // mouse move that nobody made; moves at that very spot are not
        // passed on until the pointer has really moved.
        stillAtShow_ = GetCursorPos(&cursorAtShow_) != FALSE;
        ShowWindow(hwnd_, SW_SHOW);
        SetForegroundWindow(hwnd_);
        UpdateWindow(hwnd_);
    }

    void Invalidate(const Rect* r) override {
        if (!hwnd_) return;
        if (r) {
            const RECT rc{r->left, r->top, r->right, r->bottom};
            InvalidateRect(hwnd_, &rc, FALSE);
        } else {
            InvalidateRect(hwnd_, nullptr, FALSE);
        }
    }

    void PaintNow(const Rect* r) override {
        if (!hwnd_ || displayOff_) return;
        if (!r || !IsWindowVisible(hwnd_)) {
            RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            return;
        }
        // A frame goes straight to the window: no update region to set, ask
        // for and validate, no WM_PAINT to wait for.
        HDC dc = GetDC(hwnd_);
        IntersectClipRect(dc, r->left, r->top, r->right, r->bottom);
        GdiSurface surface(blitter_, dc);
        events_.OnPaint(surface);
        ReleaseDC(hwnd_, dc);
    }

    Rect ClientRect() const override {
        RECT r{};
        if (hwnd_) GetClientRect(hwnd_, &r);
        return Rect{r.left, r.top, r.right, r.bottom};
    }

    void SetCrossCursorRects(const std::vector<Rect>& rects) override { cross_ = rects; }

    void SetPlacement(const Rect& r) override {
        if (hwnd_)
            SetWindowPos(hwnd_, nullptr, r.left, r.top, r.Width(), r.Height(),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }

    LRESULT OnMessage(UINT msg, WPARAM w, LPARAM l);
    // The window is gone: no more notices for it.
    void OnNcDestroy() {
        if (displayNotice_) UnregisterPowerSettingNotification(displayNotice_);
        displayNotice_ = nullptr;
        hwnd_ = nullptr;
    }

    HWND hwnd_ = nullptr;

private:
    LRESULT OnPaint();
    LRESULT OnPowerBroadcast(WPARAM w, LPARAM l);
    LRESULT OnSetCursor(WPARAM w, LPARAM l);
    LRESULT OnMouseMove(WPARAM w, LPARAM l);
    LRESULT OnButtonDown(MouseButton button, WPARAM w, LPARAM l) {
        events_.OnMouseDown(button, GET_X_LPARAM(l), GET_Y_LPARAM(l), MouseShift(w),
                            static_cast<uint32_t>(GetMessageTime()));
        return 0;
    }

    Win32Platform& platform_;
    WindowEvents& events_;
    MonoBlitter blitter_;  // keeps its bitmap from one frame to the next
    std::vector<Rect> cross_;
    bool destroying_ = false;
    POINT cursorAtShow_{};
    bool stillAtShow_ = false;
    HPOWERNOTIFY displayNotice_ = nullptr;
    bool displayOff_ = false;
};

LRESULT Win32Window::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // While the display is off the update region is only validated.
    if (!displayOff_) {
        GdiSurface surface(blitter_, dc);
        events_.OnPaint(surface);
    }
    EndPaint(hwnd_, &ps);
    return 0;
}

LRESULT Win32Window::OnPowerBroadcast(WPARAM w, LPARAM l) {
    const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(l);
    if (w != PBT_POWERSETTINGCHANGE || !setting || !IsEqualGUID(setting->PowerSetting, GUID_CONSOLE_DISPLAY_STATE) ||
        setting->DataLength < sizeof(DWORD))
        return DefWindowProcW(hwnd_, WM_POWERBROADCAST, w, l);
    // The display's state: 0 off, 1 on, 2 dimmed (still showing). While it
    // is off the core's pacer sleeps; when it comes on, the whole window
    // shows the frame of the moment.
    DWORD state = 0;
    std::memcpy(&state, setting->Data, sizeof state);
    const bool wasOff = displayOff_;
    displayOff_ = state == 0;
    if (wasOff == displayOff_) return TRUE;
    if (!displayOff_) InvalidateRect(hwnd_, nullptr, FALSE);
    events_.OnSeenChanged(!displayOff_);
    return TRUE;
}

LRESULT Win32Window::OnSetCursor(WPARAM w, LPARAM l) {
    if (reinterpret_cast<HWND>(w) != hwnd_ || LOWORD(l) != HTCLIENT) return DefWindowProcW(hwnd_, WM_SETCURSOR, w, l);
    POINT pt;
    GetCursorPos(&pt);
    ScreenToClient(hwnd_, &pt);
    SetCursor(LoadCursorW(nullptr, AnyContains(cross_, pt.x, pt.y) ? IDC_CROSS : IDC_ARROW));
    return TRUE;
}

LRESULT Win32Window::OnMouseMove(WPARAM w, LPARAM l) {
    const int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
    if (stillAtShow_) {
        POINT screen{x, y};
        ClientToScreen(hwnd_, &screen);
        if (screen.x == cursorAtShow_.x && screen.y == cursorAtShow_.y) return 0;
        stillAtShow_ = false;
    }
    events_.OnMouseMove(x, y, MouseShift(w));
    return 0;
}

LRESULT Win32Window::OnMessage(UINT msg, WPARAM w, LPARAM l) {
    // While we destroy the window its owner is going away: tell it nothing.
    if (destroying_) return DefWindowProcW(hwnd_, msg, w, l);
    switch (msg) {
        case WM_PAINT: return OnPaint();
        case WM_ERASEBKGND: return displayOff_ ? 1 : DefWindowProcW(hwnd_, msg, w, l);
        case WM_POWERBROADCAST: return OnPowerBroadcast(w, l);
        case WM_SETCURSOR: return OnSetCursor(w, l);
        case WM_MOUSEMOVE: return OnMouseMove(w, l);
        // A second press that the system calls a double click is a press
        // like any other: the core tells double clicks itself.
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: return OnButtonDown(MouseButton::Left, w, l);
        case WM_RBUTTONDOWN: return OnButtonDown(MouseButton::Right, w, l);
        case WM_MBUTTONDOWN: return OnButtonDown(MouseButton::Middle, w, l);
        case WM_KEYDOWN: events_.OnKeyDown(static_cast<uint16_t>(w), KeyShift()); return 0;
        case WM_KEYUP: events_.OnKeyUp(static_cast<uint16_t>(w), KeyShift()); return 0;
        case WM_SYSKEYDOWN:
            events_.OnKeyDown(static_cast<uint16_t>(w), KeyShift());
            return hwnd_ ? DefWindowProcW(hwnd_, msg, w, l) : 0;
        case WM_SYSKEYUP:
            events_.OnKeyUp(static_cast<uint16_t>(w), KeyShift());
            return hwnd_ ? DefWindowProcW(hwnd_, msg, w, l) : 0;
        case WM_CLOSE: events_.OnCloseRequest(); return 0;
        case WM_SYSCOMMAND:
            if (events_.OnSysCommand(static_cast<uint32_t>(w))) return 1;
            return DefWindowProcW(hwnd_, msg, w, l);
        case WM_ACTIVATE: {
            const LRESULT r = DefWindowProcW(hwnd_, msg, w, l);
            if (LOWORD(w) != WA_INACTIVE) events_.OnActivate();
            return r;
        }
        case WM_SIZE: events_.OnResize(LOWORD(l), HIWORD(l)); return 0;
        // A monitor came, went or changed its mode: the core lays the
        // viewports out again.
        case WM_DISPLAYCHANGE: events_.OnMonitorsChanged(); return 0;
        case WM_DESTROY:
            // Destroyed by someone else: a preview host that took its window away.
            events_.OnDestroyedExternally();
            return 0;
        default: return DefWindowProcW(hwnd_, msg, w, l);
    }
}

LRESULT CALLBACK SaverWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, msg, w, l);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->OnNcDestroy();
        return DefWindowProcW(hwnd, msg, w, l);
    }
    return self->OnMessage(msg, w, l);
}

std::unique_ptr<Window> MakeWindow(Win32Platform& platform, const WindowParams& params, WindowEvents& events) {
    auto window = std::make_unique<Win32Window>(platform, events);
    if (!window->Create(params)) return nullptr;
    return window;
}

}  // namespace quellora::win32
