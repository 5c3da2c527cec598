// The services the saver's core needs from the windowing platform: the
// message loop primitives, windows and their drawing, cursor, clock, version
// and system queries, host libraries and the per-user key store. The core
// includes no OS header; each backend (win32, x11, headless) implements this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "moire/bitmap1.h"
#include "platform/dialog.h"
#include "platform/double_click.h"
#include "platform/frame_log.h"
#include "platform/geometry.h"

namespace quellora {

// A window handle as the host passes it: pointer-sized, sign-extended from
// 32 bits. 0 means none.
using WindowHandle = intptr_t;

// Whether the tick count `now` has reached the tick `due`, modulo 2^32: a
// due tick up to 2^31 - 1 ms ahead is still to come, any other has passed.
constexpr bool TickReached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

// Window styles, as the host knows them.
namespace style {
constexpr uint32_t kPopup = 0x80000000;
constexpr uint32_t kChild = 0x40000000;
constexpr uint32_t kVisible = 0x10000000;
constexpr uint32_t kDisabled = 0x08000000;
constexpr uint32_t kClipChildren = 0x02000000;
constexpr uint32_t kExTopmost = 0x00000008;
constexpr uint32_t kExToolWindow = 0x00000080;
constexpr uint32_t kClassDblClks = 0x0008;
constexpr uint32_t kClassParentDC = 0x0080;
}  // namespace style

// Virtual key codes and shift state.
namespace vk {
constexpr uint16_t kReturn = 13;
constexpr uint16_t kEscape = 27;
constexpr uint16_t kSpace = 32;
}  // namespace vk
enum ShiftState : uint32_t { kShift = 1, kAlt = 2, kCtrl = 4, kLeftButton = 8, kRightButton = 16, kMiddleButton = 32 };

// The platform family of the version query. The Windows families carry the
// values of the query's own dwPlatformId.
enum class PlatformFamily : uint32_t {
    Unknown = 0,    // not asked (preview mode never asks)
    Windows95 = 1,  // the Windows 95 family
    WindowsNT = 2,  // the NT family
    X11 = 0x100,    // X11: no host password service and no screen-saver-running flag
    Wayland = 0x101,  // Wayland: the same
};

// System commands.
constexpr uint32_t kScScreenSave = 0xF140;

// The host's password entry points, called through the library services.
#if defined(_WIN32) && !defined(_WIN64)
#define QUELLORA_STDCALL __stdcall
#else
#define QUELLORA_STDCALL
#endif
using PwdChangePasswordFn = uint32_t(QUELLORA_STDCALL*)(const char* provider, void* parent, uint32_t reserved1,
                                                         void* reserved2);
using VerifyScreenSavePwdFn = int32_t(QUELLORA_STDCALL*)(void* window);

// What the core asks the platform to create.
struct WindowParams {
    // In Win32's own terms, which the Win32 backend creates the window with.
    WindowHandle parent = 0;  // 0: a top-level pop-up; otherwise a child of this window
    uint32_t style = 0;
    uint32_t exStyle = 0;
    uint32_t classStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;  // in the parent's client coordinates, or the screen's
    std::string caption;

    // What the window must be, in plain terms, for every backend.
    bool shownAtCreation = false;    // visible the moment it exists, without a Show
    bool takesInput = true;          // keys and the mouse reach it
    bool topMost = false;            // above every other window (and holding the keyboard and mouse)
    bool wantsDoubleClicks = false;  // the core recognises double clicks on it
    // Draw straight into `parent` instead of a window of our own (a screen
    // saver daemon's window or the root window); the window then follows the
    // parent's size and reports it through OnResize.
    bool drawIntoParent = false;
    // While the window has the focus, the input method is off, so key presses
    // arrive as plain keys on East Asian systems too.
    bool inputMethodDisabled = false;
};

// A monitor, in the coordinates where the primary monitor's top-left corner
// is (0, 0).
struct Monitor {
    Rect rect;
    bool primary = false;
};

// Drawing on a window's client area, valid during one paint.
class Surface {
public:
    virtual ~Surface() = default;
    virtual void FillBlack(const Rect& r) = 0;
    // Puts the w x h rectangle at (sx, sy) of a 1-bit picture (index 0 white,
    // 1 black) at (dx, dy). The rectangle lies inside the picture.
    virtual void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) = 0;
    // Draws a grey picture at natural size with its top-left corner at (x, y).
    virtual void PutGrey(const GreyPicture& picture, int x, int y) = 0;
};

// Events a window delivers to its owner, on the one user-interface thread.
// Mouse positions are in the window's client coordinates.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void OnActivate() = 0;
    virtual void OnPaint(Surface& surface) = 0;
    virtual void OnKeyDown(uint16_t key, uint32_t shift) = 0;
    virtual void OnKeyUp(uint16_t key, uint32_t shift) = 0;
    virtual void OnMouseMove(int x, int y, uint32_t shift) = 0;
    // A button pressed; `time` is the press's time in milliseconds (any
    // clock of the platform's that only moves on), for telling double clicks.
    virtual void OnMouseDown(MouseButton button, int x, int y, uint32_t shift, uint32_t time) = 0;
    // The platform's close request (WM_CLOSE).
    virtual void OnCloseRequest() = 0;
    // WM_SYSCOMMAND; returns true when the command is handled and must not be
    // passed on to the default handling.
    virtual bool OnSysCommand(uint32_t command) = 0;
    // The window was destroyed from outside (for a child: its parent went away).
    virtual void OnDestroyedExternally() = 0;
    // The client area changed size.
    virtual void OnResize(int width, int height) = 0;
    // The monitors changed: one came or went, or one's mode, scale, rotation
    // or place changed. Monitors() and VirtualScreen() tell the new layout.
    virtual void OnMonitorsChanged() = 0;
    // Whether anyone can see the window: false once every monitor it shows on
    // is switched off (the desktop's power saving), true when one is on again.
    // A window starts seen.
    virtual void OnSeenChanged(bool seen) = 0;
};

class Window {
public:
    virtual ~Window() = default;  // destroys the window
    virtual WindowHandle Handle() const = 0;
    // Shows and activates the window (the main window's first show).
    virtual void Show() = 0;
    // Marks the client area (or a part of it) for repainting.
    virtual void Invalidate(const Rect* r = nullptr) = 0;
    // Paints the client area (or a part of it) now, synchronously, instead
    // of marking it for the loop to paint; a hidden window is only marked.
    virtual void PaintNow(const Rect* r = nullptr) = 0;
    virtual Rect ClientRect() const = 0;
    // The window's mouse cursor: the cross-hair inside these rectangles of
    // its client area (over the display image), the arrow elsewhere.
    virtual void SetCrossCursorRects(const std::vector<Rect>& rects) = 0;
    // Moves and sizes a top-level window to `r`, in the monitors'
    // coordinates: the full-screen window follows the monitors.
    virtual void SetPlacement(const Rect& r) = 0;
};

class Library {
public:
    virtual ~Library() = default;  // unloads
    virtual void* Entry(const char* name) = 0;  // nullptr when not exported
};

// A value of the per-user key store.
struct KeyValue {
    enum class Type { String, ExpandString, Dword, Other } type = Type::Other;
    std::string text;    // String and ExpandString: the data up to its first zero
    uint32_t dword = 0;  // Dword
};

class KeyStore {
public:
    virtual ~KeyStore() = default;
    // Opens HKEY_CURRENT_USER\path with full access, creating it when missing.
    virtual bool CreateKey(const std::string& path) = 0;
    // Whether HKEY_CURRENT_USER\path can be opened with full access (never creates).
    virtual bool KeyExists(const std::string& path) = 0;
    // Reads a value of HKEY_CURRENT_USER\path without creating anything;
    // nullopt when the key cannot be opened or the value is missing.
    virtual std::optional<KeyValue> ReadValue(const std::string& path, const std::string& name) = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Application object.
    virtual void HideApplicationWindow() = 0;
    virtual void SetApplicationTitle(const std::string& title) = 0;

    // Message loop primitives. ProcessOneMessage dispatches one pending
    // message, if any, and says whether there was one. WaitUntil blocks until
    // a message arrives or TickCount() reaches dueTick (TickReached), whichever
    // comes first, and returns at once when a message is waiting or the tick
    // has been reached; with nullopt it waits for a message alone. Without a
    // message it never returns before the due tick, and it is made to return
    // while the tick count still reads the due tick, not one later, so that
    // frames paced from the tick they start at keep to their interval.
    virtual bool ProcessOneMessage() = 0;
    virtual void WaitUntil(std::optional<uint32_t> dueTick) = 0;
    virtual void PostQuit() = 0;
    virtual bool QuitPosted() const = 0;

    // Windows.
    virtual std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) = 0;
    virtual bool GetWindowRect(WindowHandle window, Rect& out) = 0;
    virtual bool IsWindow(WindowHandle window) = 0;
    // Whether a window has pixels to draw into (an input-only one has none).
    virtual bool CanDrawInto(WindowHandle window) = 0;
    virtual WindowHandle ForegroundWindow() = 0;
    virtual void EnableWindow(WindowHandle window, bool enable) = 0;
    // Size of the primary monitor, whose top-left corner is (0, 0).
    virtual int ScreenWidth() = 0;
    virtual int ScreenHeight() = 0;
    // The rectangle covering every monitor, relative to the primary's corner.
    virtual Rect VirtualScreen() = 0;
    // Every monitor, the primary among them.
    virtual std::vector<Monitor> Monitors() = 0;
    // Extra width and height that a dialog's caption and border add to its
    // client area.
    virtual void DialogFrameSize(int& extraWidth, int& extraHeight) = 0;
    // Shows a dialog modally (its owner already chosen and disabled) until
    // its modal result is set, and returns that result.
    virtual int ShowModal(ModalDialog& dialog) = 0;

    // System.
    virtual int ShowCursor(bool show) = 0;  // returns the new display count
    virtual DoubleClickLimits SystemDoubleClickLimits() = 0;
    virtual uint32_t TickCount() = 0;       // milliseconds, 1 ms resolution, wraps
    // The version query's platform family; nullopt when the query fails.
    virtual std::optional<PlatformFamily> PlatformId() = 0;
    // SystemParametersInfo(SPI_SCREENSAVERRUNNING, running, &scratch, 0).
    virtual void SetScreenSaverRunning(bool running) = 0;
    // GetSystemDirectory; empty when it fails.
    virtual std::string SystemDirectory() = 0;
    virtual std::unique_ptr<Library> LoadLibrary(const std::string& name) = 0;
    virtual KeyStore& Keys() = 0;
    // The frame log the measuring scripts asked for (the file named by
    // QUELLORA_FRAME_LOG), or nullptr when they did not.
    virtual std::unique_ptr<LineFile> OpenFrameLog() = 0;
};

}  // namespace quellora
