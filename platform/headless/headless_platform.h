// A deterministic platform for tests: a scripted millisecond clock that can
// start anywhere and wraps, scripted input, screens of any size, an in-memory
// key store, stand-in host libraries, and a record of everything put on
// screen. Time only moves when the loop waits. Every service of platform.h
// is simulated; nothing reaches the machine it runs on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quellora::headless {

struct Event {
    enum class Kind { KeyDown, KeyUp, MouseMove, MouseDown, Close, SysCommand, DestroyWindow, Resize, Monitors, Call };
    Kind kind = Kind::Call;
    WindowHandle target = 0;  // 0: the most recently created window of ours
    uint16_t key = 0;
    uint32_t shift = 0;
    int x = 0, y = 0;
    MouseButton button = MouseButton::Left;
    uint32_t command = 0;
    std::function<void()> call;  // Kind::Call: runs on the loop's thread
    std::vector<Monitor> monitors;  // Kind::Monitors: the new set

    static Event KeyDown(uint16_t k, uint32_t s = 0) { Event e; e.kind = Kind::KeyDown; e.key = k; e.shift = s; return e; }
    static Event KeyUp(uint16_t k, uint32_t s = 0) { Event e; e.kind = Kind::KeyUp; e.key = k; e.shift = s; return e; }
    static Event MouseMove(int x, int y) { Event e; e.kind = Kind::MouseMove; e.x = x; e.y = y; return e; }
    static Event MouseDown(int x, int y, MouseButton b = MouseButton::Left) { Event e; e.kind = Kind::MouseDown; e.x = x; e.y = y; e.button = b; return e; }
    static Event CloseRequest(WindowHandle t = 0) { Event e; e.kind = Kind::Close; e.target = t; return e; }
    static Event SysCommand(uint32_t c) { Event e; e.kind = Kind::SysCommand; e.command = c; return e; }
    static Event Destroy(WindowHandle t) { Event e; e.kind = Kind::DestroyWindow; e.target = t; return e; }
    static Event Resize(WindowHandle t, int w, int h) { Event e; e.kind = Kind::Resize; e.target = t; e.x = w; e.y = h; return e; }
    // The system's monitors become `m` (a monitor docked, woken, rotated...);
    // our top-level windows hear of it.
    static Event MonitorsChange(std::vector<Monitor> m) { Event e; e.kind = Kind::Monitors; e.monitors = std::move(m); return e; }
    static Event Run(std::function<void()> f) { Event e; e.kind = Kind::Call; e.call = std::move(f); return e; }
};

// One PutBitmap1 of a paint: where it went and what it showed.
struct PutFrame {
    uint32_t tick = 0;
    WindowHandle window = 0;
    int x = 0, y = 0;
    Bitmap1 pixels;
};

struct CreatedWindow {
    WindowHandle handle = 0;
    WindowParams params;
};

class HeadlessPlatform : public Platform {
public:
    explicit HeadlessPlatform(uint32_t startTick = 0, int screenWidth = 1024, int screenHeight = 768);
    ~HeadlessPlatform() override;

    // --- scripting ---------------------------------------------------------
    // Queues an event `afterMs` simulated milliseconds from now.
    void Schedule(uint32_t afterMs, Event e);
    // Queues an event at `elapsedMs` since the platform was made.
    void ScheduleAt(uint64_t elapsedMs, Event e);
    // The loop is told to quit once this much simulated time has passed.
    void StopAfter(uint64_t elapsedMs) { stopAt_ = elapsedMs; }
    uint64_t Elapsed() const { return elapsed_; }
    void SetTick(uint32_t tick);  // moves the clock without passing time
    void Advance(uint32_t ms);    // passes time (delivering nothing)

    // A window of another process (a host's preview window, a daemon's
    // window); an input-only one has nothing to draw into.
    WindowHandle AddForeignWindow(const Rect& screenRect, WindowHandle handle = 0, bool inputOnly = false);

    // --- what happened -----------------------------------------------------
    std::vector<PutFrame> frames;
    std::vector<CreatedWindow> created;
    std::vector<std::string> libraryLoads;   // names asked for, in order
    int libraryUnloads = 0;
    std::vector<bool> screenSaverRunningCalls;
    std::vector<std::pair<WindowHandle, bool>> enableCalls;
    int cursorCount = 0;                     // the display counter, starting at 0
    int showCursorCalls = 0;
    int appWindowHides = 0;
    std::string appTitle;
    int modalShown = 0;
    bool stoppedByLimit = false;
    bool ranOutOfEvents = false;             // waited with nothing left to happen
    uint64_t waits = 0;
    // Every wait for a due tick: the tick asked for and the tick it ended on
    // (a message, or the end of the run, may end it early).
    struct TimedWait {
        uint32_t due = 0;
        uint32_t endedAt = 0;
    };
    std::vector<TimedWait> timedWaits;
    std::vector<bool> sysCommandResults;     // what OnSysCommand answered
    std::vector<Rect> placements;            // every SetPlacement, in order

    // The pixels of a window's client area: 0 black ... 255 white; -1 never drawn.
    int ScreenPixel(WindowHandle window, int x, int y) const;
    WindowHandle LastWindow() const { return created.empty() ? 0 : created.back().handle; }
    bool WindowAlive(WindowHandle h) const;

    // --- settings of the simulated system ---------------------------------
    std::optional<PlatformFamily> platformId = PlatformFamily::WindowsNT;
    std::string systemDirectory = "C:\\WINDOWS\\SYSTEM32";
    WindowHandle foreground = 0;
    Rect virtualScreen;             // empty: the primary screen alone
    std::vector<Monitor> monitors;  // empty: the primary screen alone
    DoubleClickLimits doubleClickLimits;  // half a second, 4 x 4 pixels
    int dialogExtraWidth = 6;
    int dialogExtraHeight = 29;
    std::function<int(ModalDialog&)> onModal;  // decides the modal result

    // Stand-in host libraries: name (any case) -> entry name -> function.
    std::map<std::string, std::map<std::string, void*>> libraries;

    // The in-memory per-user store.
    class MemoryKeys : public KeyStore {
    public:
        bool CreateKey(const std::string& path) override;
        bool KeyExists(const std::string& path) override;
        std::optional<KeyValue> ReadValue(const std::string& path, const std::string& name) override;
        void Set(const std::string& path, const std::string& name, KeyValue v);
        void SetString(const std::string& path, const std::string& name, const std::string& text) {
            Set(path, name, KeyValue{KeyValue::Type::String, text, 0});
        }
        void SetDword(const std::string& path, const std::string& name, uint32_t v) {
            Set(path, name, KeyValue{KeyValue::Type::Dword, {}, v});
        }
        bool Has(const std::string& path) const { return keys_.count(Norm(path)) > 0; }
        bool createFails = false;
        int writes = 0;  // values written by the program (there must be none)

    private:
        static std::string Norm(const std::string& path);
        std::map<std::string, std::map<std::string, KeyValue>> keys_;
    };
    MemoryKeys keys;

    // --- Platform ----------------------------------------------------------
    void HideApplicationWindow() override { ++appWindowHides; }
    void SetApplicationTitle(const std::string& title) override { appTitle = title; }
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;
    void PostQuit() override { quit_ = true; }
    bool QuitPosted() const override { return quit_; }
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override { return WindowAlive(window); }
    bool CanDrawInto(WindowHandle window) override;
    WindowHandle ForegroundWindow() override { return foreground; }
    void EnableWindow(WindowHandle window, bool enable) override { enableCalls.emplace_back(window, enable); }
    int ScreenWidth() override { return screenW_; }
    int ScreenHeight() override { return screenH_; }
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override;
    void DialogFrameSize(int& w, int& h) override { w = dialogExtraWidth; h = dialogExtraHeight; }
    int ShowModal(ModalDialog& dialog) override;
    int ShowCursor(bool show) override;
    DoubleClickLimits SystemDoubleClickLimits() override { return doubleClickLimits; }
    uint32_t TickCount() override { return tick_; }
    std::optional<PlatformFamily> PlatformId() override { return platformId; }
    void SetScreenSaverRunning(bool running) override { screenSaverRunningCalls.push_back(running); }
    std::string SystemDirectory() override { return systemDirectory; }
    std::unique_ptr<Library> LoadLibrary(const std::string& name) override;
    KeyStore& Keys() override { return keys; }
    std::unique_ptr<LineFile> OpenFrameLog() override;
    // The frame log: kept when asked for; its lines, each rewrite in turn.
    bool frameLogAsked = false;
    std::vector<std::string> frameLogLines;

    struct WindowState;  // internal
    // Used by the window objects the platform hands out.
    void DestroyOurs(WindowHandle h);
    void ShowOurs(WindowHandle h);
    void InvalidateOurs(WindowHandle h, const Rect* r);
    void PaintOurs(WindowHandle h, const Rect* r);
    Rect ClientOf(WindowHandle h) const;
    void SetCross(WindowHandle h, const std::vector<Rect>& r);
    void PlaceOurs(WindowHandle h, const Rect& r);
    std::vector<Rect> CrossCursorRects(WindowHandle h) const;

private:
    WindowState* Find(WindowHandle h) const;
    void Dispatch(Event& e);
    void Paint(WindowState& w, const Rect& clip);
    void DestroyTree(WindowHandle h, bool external);
    bool PaintPending() const;

    uint32_t tick_;
    uint64_t elapsed_ = 0;
    std::optional<uint64_t> stopAt_;
    bool quit_ = false;
    int screenW_, screenH_;
    WindowHandle nextHandle_ = 0x1000;
    std::multimap<uint64_t, Event> queue_;
    std::vector<std::unique_ptr<WindowState>> windows_;
};

}  // namespace quellora::headless
