// The deterministic test platform.
#include "platform/headless/headless_platform.h"

#include <algorithm>
#include <cctype>

#include "moire/raster.h"
#include "platform/dirty_region.h"
#include "platform/text.h"

namespace quellora::headless {

struct HeadlessPlatform::WindowState {
    WindowHandle handle = 0;
    WindowParams params;
    WindowEvents* events = nullptr;  // nullptr for foreign windows
    bool alive = true;
    bool visible = false;
    bool inputOnly = false;
    Rect rect;                       // screen rectangle (foreign) or params' rectangle
    std::vector<int16_t> screen;     // client pixels, -1 where nothing was drawn
    Bitmap1 layer;                   // the latest 1-bit frame, over `screen`
    Rect layerRect;
    DirtyRegion dirty;               // the part waiting to be painted
    std::vector<Rect> cross;

    bool PaintPending() const { return alive && events && dirty.Pending(visible); }

    int W() const { return rect.Width(); }
    int H() const { return rect.Height(); }
    void ResizeScreen() {
        screen.assign(static_cast<size_t>(std::max(0, W())) * std::max(0, H()), -1);
        layer.Clear();
        layerRect = {};
    }
    Rect Client() const { return {0, 0, W(), H()}; }
};

namespace {

bool Covers(const Rect& outer, const Rect& inner) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

// Draws within the part of the window being painted. The latest 1-bit frame
// stays a layer of its own over the pixel buffer until something else draws
// over it, so a test can look at thousands of frames cheaply.
class HeadlessSurface : public Surface {
public:
    HeadlessSurface(HeadlessPlatform& p, HeadlessPlatform::WindowState& w, const Rect& clip, uint32_t tick)
        : p_(p), w_(w), clip_(clip), tick_(tick) {}

    void FillBlack(const Rect& r) override {
        const Rect c = Intersect(r, clip_);
        if (c.Width() <= 0) return;
        Flatten(c);
        for (int y = c.top; y < c.bottom; ++y)
            std::fill_n(&w_.screen[static_cast<size_t>(y) * w_.W() + c.left], c.Width(), int16_t{0});
    }
    void PutBitmap1(const Bitmap1& pic, int sx, int sy, int w, int h, int dx, int dy) override {
        const Rect c = Intersect({dx, dy, dx + w, dy + h}, clip_);
        if (c.Width() <= 0) return;
        if (!Covers(c, w_.layerRect)) Flatten(w_.layerRect);
        PutFrame f;
        f.tick = tick_;
        f.window = w_.handle;
        f.x = c.left;
        f.y = c.top;
        f.pixels = moire::Crop(pic, sx + (c.left - dx), sy + (c.top - dy), c.Width(), c.Height());
        w_.layer = f.pixels;
        w_.layerRect = c;
        p_.frames.push_back(std::move(f));
    }
    void PutGrey(const GreyPicture& pic, int x0, int y0) override {
        const Rect c = Intersect({x0, y0, x0 + pic.width, y0 + pic.height}, clip_);
        if (c.Width() <= 0) return;
        Flatten(c);
        for (int y = c.top; y < c.bottom; ++y)
            for (int x = c.left; x < c.right; ++x)
                w_.screen[static_cast<size_t>(y) * w_.W() + x] = pic.LevelAt(x - x0, y - y0);
    }

private:
    // Moves the frame layer into the pixel buffer when `r` would draw over it.
    void Flatten(const Rect& r) {
        const Rect lr = w_.layerRect;
        if (lr.Width() <= 0 || Intersect(lr, r).Width() <= 0) return;
        for (int y = lr.top; y < lr.bottom; ++y)
            for (int x = lr.left; x < lr.right; ++x)
                w_.screen[static_cast<size_t>(y) * w_.W() + x] = w_.layer.Get(x - lr.left, y - lr.top) ? 0 : 255;
        w_.layerRect = {};
        w_.layer.Clear();
    }

    HeadlessPlatform& p_;
    HeadlessPlatform::WindowState& w_;
    Rect clip_;
    uint32_t tick_;
};

class HeadlessWindow : public Window {
public:
    HeadlessWindow(HeadlessPlatform& p, WindowHandle h) : p_(p), h_(h) {}
    ~HeadlessWindow() override { p_.DestroyOurs(h_); }
    WindowHandle Handle() const override { return h_; }
    void Show() override { p_.ShowOurs(h_); }
    void Invalidate(const Rect* r) override { p_.InvalidateOurs(h_, r); }
    void PaintNow(const Rect* r) override { p_.PaintOurs(h_, r); }
    Rect ClientRect() const override { return p_.ClientOf(h_); }
    void SetCrossCursorRects(const std::vector<Rect>& rects) override { p_.SetCross(h_, rects); }
    void SetPlacement(const Rect& r) override { p_.PlaceOurs(h_, r); }

private:
    HeadlessPlatform& p_;
    WindowHandle h_;
};

class StandInLibrary : public Library {
public:
    StandInLibrary(const std::map<std::string, void*>& entries, int& unloads) : entries_(entries), unloads_(unloads) {}
    ~StandInLibrary() override { ++unloads_; }
    void* Entry(const char* name) override {
        auto it = entries_.find(name);
        return it == entries_.end() ? nullptr : it->second;
    }

private:
    std::map<std::string, void*> entries_;
    int& unloads_;
};

}  // namespace

HeadlessPlatform::HeadlessPlatform(uint32_t startTick, int screenWidth, int screenHeight)
    : tick_(startTick), screenW_(screenWidth), screenH_(screenHeight) {}

HeadlessPlatform::~HeadlessPlatform() = default;

void HeadlessPlatform::Schedule(uint32_t afterMs, Event e) { ScheduleAt(elapsed_ + afterMs, std::move(e)); }
void HeadlessPlatform::ScheduleAt(uint64_t at, Event e) { queue_.emplace(at, std::move(e)); }

void HeadlessPlatform::SetTick(uint32_t tick) { tick_ = tick; }
void HeadlessPlatform::Advance(uint32_t ms) {
    elapsed_ += ms;
    tick_ += ms;
}

WindowHandle HeadlessPlatform::AddForeignWindow(const Rect& r, WindowHandle handle, bool inputOnly) {
    auto w = std::make_unique<WindowState>();
    w->inputOnly = inputOnly;
    w->handle = handle ? handle : (nextHandle_ += 4);
    w->rect = r;
    w->visible = true;
    windows_.push_back(std::move(w));
    return windows_.back()->handle;
}

HeadlessPlatform::WindowState* HeadlessPlatform::Find(WindowHandle h) const {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if ((*it)->handle == h) return it->get();
    return nullptr;
}

bool HeadlessPlatform::WindowAlive(WindowHandle h) const {
    const WindowState* w = Find(h);
    return w && w->alive;
}

bool HeadlessPlatform::CanDrawInto(WindowHandle h) {
    const WindowState* w = Find(h);
    return w && w->alive && !w->inputOnly;
}

int HeadlessPlatform::ScreenPixel(WindowHandle h, int x, int y) const {
    const WindowState* w = Find(h);
    if (!w || x < 0 || y < 0 || x >= w->W() || y >= w->H()) return -1;
    if (w->layerRect.Contains(x, y)) return w->layer.Get(x - w->layerRect.left, y - w->layerRect.top) ? 0 : 255;
    return w->screen[static_cast<size_t>(y) * w->W() + x];
}

std::unique_ptr<Window> HeadlessPlatform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    auto w = std::make_unique<WindowState>();
    w->handle = (nextHandle_ += 4);
    w->params = params;
    w->events = &events;
    w->rect = {params.x, params.y, params.x + params.width, params.y + params.height};
    if (params.drawIntoParent) {
        Rect pr;
        if (GetWindowRect(params.parent, pr)) w->rect = {0, 0, pr.Width(), pr.Height()};
    }
    w->ResizeScreen();
    w->visible = params.shownAtCreation;
    if (w->visible) w->dirty.Mark(nullptr, w->Client());
    created.push_back({w->handle, params});
    const WindowHandle h = w->handle;
    windows_.push_back(std::move(w));
    return std::make_unique<HeadlessWindow>(*this, h);
}

void HeadlessPlatform::DestroyOurs(WindowHandle h) {
    if (WindowState* w = Find(h)) {
        if (w->alive) DestroyTree(h, false);
    }
}

void HeadlessPlatform::ShowOurs(WindowHandle h) {
    WindowState* w = Find(h);
    if (!w || !w->alive) return;
    w->visible = true;
    w->dirty.Mark(nullptr, w->Client());
    w->events->OnActivate();
}

void HeadlessPlatform::InvalidateOurs(WindowHandle h, const Rect* r) {
    if (WindowState* w = Find(h); w && w->alive) w->dirty.Mark(r, w->Client());
}

void HeadlessPlatform::PaintOurs(WindowHandle h, const Rect* r) {
    WindowState* w = Find(h);
    if (!w || !w->alive) return;
    if (!w->visible) {
        w->dirty.Mark(r, w->Client());
        return;
    }
    Paint(*w, w->dirty.PaintNow(r, w->Client()));
}

Rect HeadlessPlatform::ClientOf(WindowHandle h) const {
    const WindowState* w = Find(h);
    return w ? Rect{0, 0, w->W(), w->H()} : Rect{};
}

void HeadlessPlatform::SetCross(WindowHandle h, const std::vector<Rect>& r) {
    if (WindowState* w = Find(h)) w->cross = r;
}

void HeadlessPlatform::PlaceOurs(WindowHandle h, const Rect& r) {
    placements.push_back(r);
    WindowState* w = Find(h);
    if (!w || !w->alive) return;
    w->rect = r;
    w->ResizeScreen();
    if (w->visible) w->dirty.Mark(nullptr, w->Client());
}

std::vector<Rect> HeadlessPlatform::CrossCursorRects(WindowHandle h) const {
    const WindowState* w = Find(h);
    return w ? w->cross : std::vector<Rect>{};
}

void HeadlessPlatform::Paint(WindowState& w, const Rect& clip) {
    HeadlessSurface s(*this, w, clip, tick_);
    w.events->OnPaint(s);
}

void HeadlessPlatform::DestroyTree(WindowHandle h, bool external) {
    WindowState* w = Find(h);
    if (!w || !w->alive) return;
    w->alive = false;
    // Children go with their parent, and hear of it.
    for (auto& c : windows_) {
        if (c->alive && c->events && c->params.parent == h) {
            DestroyTree(c->handle, true);
        }
    }
    if (external && w->events) w->events->OnDestroyedExternally();
}

bool HeadlessPlatform::PaintPending() const {
    return std::any_of(windows_.begin(), windows_.end(), [](const auto& w) { return w->PaintPending(); });
}

void HeadlessPlatform::Dispatch(Event& e) {
    if (e.kind == Event::Kind::Call) {
        e.call();
        return;
    }
    if (e.kind == Event::Kind::DestroyWindow) {
        DestroyTree(e.target, true);
        return;
    }
    if (e.kind == Event::Kind::Monitors) {
        monitors = e.monitors;
        virtualScreen = {};
        for (auto& c : windows_)
            if (c->alive && c->events && !c->params.parent) c->events->OnMonitorsChanged();
        return;
    }
    if (e.kind == Event::Kind::Resize) {
        WindowState* host = Find(e.target);
        if (!host || !host->alive) return;
        host->rect.right = host->rect.left + e.x;
        host->rect.bottom = host->rect.top + e.y;
        for (auto& c : windows_) {
            if (c->alive && c->events && c->params.parent == e.target && c->params.drawIntoParent) {
                c->rect = {0, 0, e.x, e.y};
                c->ResizeScreen();
                c->events->OnResize(e.x, e.y);
                c->dirty.Mark(nullptr, c->Client());
            }
        }
        return;
    }
    WindowState* w = nullptr;
    if (e.target) {
        w = Find(e.target);
    } else {
        for (auto it = windows_.rbegin(); it != windows_.rend() && !w; ++it)
            if ((*it)->events && (*it)->alive) w = it->get();
    }
    if (!w || !w->alive || !w->events) return;
    const bool input = e.kind == Event::Kind::KeyDown || e.kind == Event::Kind::KeyUp ||
                       e.kind == Event::Kind::MouseMove || e.kind == Event::Kind::MouseDown;
    // A disabled window takes no keyboard or mouse input.
    if (input && !w->params.takesInput) return;
    switch (e.kind) {
        case Event::Kind::KeyDown: w->events->OnKeyDown(e.key, e.shift); break;
        case Event::Kind::KeyUp: w->events->OnKeyUp(e.key, e.shift); break;
        case Event::Kind::MouseMove: w->events->OnMouseMove(e.x, e.y, e.shift); break;
        case Event::Kind::MouseDown: w->events->OnMouseDown(e.button, e.x, e.y, e.shift, tick_); break;
        case Event::Kind::Close: w->events->OnCloseRequest(); break;
        case Event::Kind::SysCommand: sysCommandResults.push_back(w->events->OnSysCommand(e.command)); break;
        default: break;
    }
}

bool HeadlessPlatform::ProcessOneMessage() {
    if (!queue_.empty() && queue_.begin()->first <= elapsed_) {
        Event e = std::move(queue_.begin()->second);
        queue_.erase(queue_.begin());
        Dispatch(e);
        return true;
    }
    for (auto& w : windows_) {
        if (w->PaintPending()) {
            Paint(*w, w->dirty.Take());
            return true;
        }
    }
    return false;
}

void HeadlessPlatform::WaitUntil(std::optional<uint32_t> dueTick) {
    ++waits;
    if (dueTick) timedWaits.push_back({*dueTick, tick_});
    if ((!queue_.empty() && queue_.begin()->first <= elapsed_) || PaintPending()) return;
    if (dueTick && TickReached(tick_, *dueTick)) return;
    std::optional<uint64_t> until;
    if (!queue_.empty()) until = queue_.begin()->first;
    if (dueTick) {
        const uint64_t due = elapsed_ + (*dueTick - tick_);
        until = until ? std::min(*until, due) : due;
    }
    if (stopAt_ && (!until || *until >= *stopAt_)) {
        Advance(static_cast<uint32_t>(*stopAt_ > elapsed_ ? *stopAt_ - elapsed_ : 0));
        if (dueTick) timedWaits.back().endedAt = tick_;
        stoppedByLimit = true;
        quit_ = true;
        return;
    }
    if (!until) {
        // Nothing will ever happen again: the real loop would sleep for ever.
        ranOutOfEvents = true;
        quit_ = true;
        return;
    }
    Advance(static_cast<uint32_t>(*until - elapsed_));
    if (dueTick) timedWaits.back().endedAt = tick_;
}

bool HeadlessPlatform::GetWindowRect(WindowHandle h, Rect& out) {
    const WindowState* w = Find(h);
    if (!w || !w->alive) return false;
    out = w->rect;
    return true;
}

std::vector<Monitor> HeadlessPlatform::Monitors() {
    if (!monitors.empty()) return monitors;
    return {Monitor{Rect{0, 0, screenW_, screenH_}, true}};
}

Rect HeadlessPlatform::VirtualScreen() {
    if (virtualScreen.Width() > 0 && virtualScreen.Height() > 0) return virtualScreen;
    if (!monitors.empty()) {
        Rect all;
        for (const Monitor& m : monitors) all = Union(all, m.rect);
        return all;
    }
    return Rect{0, 0, screenW_, screenH_};
}

int HeadlessPlatform::ShowModal(ModalDialog& dialog) {
    ++modalShown;
    if (onModal) return onModal(dialog);
    dialog.KeyDown(vk::kReturn);
    return dialog.modalResult;
}

int HeadlessPlatform::ShowCursor(bool show) {
    ++showCursorCalls;
    cursorCount += show ? 1 : -1;
    return cursorCount;
}

std::unique_ptr<Library> HeadlessPlatform::LoadLibrary(const std::string& name) {
    libraryLoads.push_back(name);
    for (const auto& [n, entries] : libraries)
        if (ToLowerAscii(n) == ToLowerAscii(name)) return std::make_unique<StandInLibrary>(entries, libraryUnloads);
    return nullptr;
}

std::unique_ptr<LineFile> HeadlessPlatform::OpenFrameLog() {
    class Lines : public LineFile {
    public:
        explicit Lines(std::vector<std::string>& lines) : lines_(lines) {}
        void Rewrite(const std::string& line) override { lines_.push_back(line); }

    private:
        std::vector<std::string>& lines_;
    };
    return frameLogAsked ? std::make_unique<Lines>(frameLogLines) : nullptr;
}

// --- the in-memory key store ----------------------------------------------

std::string HeadlessPlatform::MemoryKeys::Norm(const std::string& path) {
    std::string p = ToLowerAscii(path);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

bool HeadlessPlatform::MemoryKeys::CreateKey(const std::string& path) {
    if (createFails) return keys_.count(Norm(path)) > 0;
    keys_[Norm(path)];
    return true;
}

bool HeadlessPlatform::MemoryKeys::KeyExists(const std::string& path) { return keys_.count(Norm(path)) > 0; }

std::optional<KeyValue> HeadlessPlatform::MemoryKeys::ReadValue(const std::string& path, const std::string& name) {
    auto k = keys_.find(Norm(path));
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(ToLowerAscii(name));
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

void HeadlessPlatform::MemoryKeys::Set(const std::string& path, const std::string& name, KeyValue v) {
    keys_[Norm(path)][ToLowerAscii(name)] = std::move(v);
}

}  // namespace quellora::headless
