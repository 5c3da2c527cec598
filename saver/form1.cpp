// The saver window: set-up, activation, painting, the close path, the input
// rules and the host password check.
#include "saver/form1.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "moire/assets.h"
#include "moire/readout.h"
#include "moire/rounding.h"
#include "moire/scale.h"
#include "settings/display_options.h"
#include "settings/settings_store.h"

namespace quellora {

namespace {

constexpr int32_t kFormMoveThreshold = 8;    // mouse moves outside the viewport
constexpr int32_t kImageMoveThreshold = 10;  // mouse moves over the picture
constexpr const char* kDesktopKey = "Control Panel\\desktop";
constexpr const char* kUsePasswordValue = "ScreenSaveUsePassword";

}  // namespace

TForm1::TForm1(Platform& platform, Application& app, WindowHandle previewParent, bool isMainForm,
               WindowHandle hostWindow, SaverOptions options)
    : platform_(platform),
      app_(app),
      previewParent_(previewParent),
      isMainForm_(isMainForm),
      shape_(hostWindow ? FormShape::Hosted : (previewParent ? FormShape::Preview : FormShape::Saver)),
      hostWindow_(hostWindow),
      options_(options),
      frames_(hostWindow || !previewParent ? platform.OpenFrameLog() : nullptr),
      anim_([&platform] { return platform.TickCount(); },
            moire::Pictures{&Img1Picture(), &Img2Picture(), &TitlePicture()}) {
    anim_.SetOnImageChanged([this] { InvalidateViewport(); });
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateParams(WindowParams& p) {
    // A borderless form: a pop-up at the form's position and size.
    p.parent = 0;
    p.style = style::kPopup | style::kClipChildren;
    p.exStyle = 0;
    p.classStyle = style::kClassDblClks;
    p.x = left_;
    p.y = top_;
    p.width = width_;
    p.height = height_;
    p.caption = "screen saver";
    p.wantsDoubleClicks = true;
    switch (shape_) {
        case FormShape::Preview:
            // A disabled child that shows itself on creation and takes no input.
            p.parent = previewParent_;
            p.style = style::kChild | style::kVisible | style::kDisabled;
            p.classStyle = style::kClassParentDC;
            p.shownAtCreation = true;
            p.takesInput = false;
            p.wantsDoubleClicks = false;
            break;
        case FormShape::Saver:
            p.exStyle |= style::kExTopmost;
            p.topMost = true;
            p.inputMethodDisabled = true;
            break;
        case FormShape::Hosted:
            // Input is the daemon's business.
            p.parent = hostWindow_;
            p.style = style::kChild | style::kVisible;
            p.shownAtCreation = true;
            p.takesInput = false;
            p.drawIntoParent = true;
            break;
    }
    wantsDoubleClicks_ = p.wantsDoubleClicks;
}

Window* TForm1::HandleNeeded() {
    if (!window_) {
        WindowParams params;
        CreateParams(params);
        window_ = platform_.CreateWindow(params, *this);
        doubleClicks_ = DoubleClicks(platform_.SystemDoubleClickLimits());
        if (window_) window_->SetCrossCursorRects(PictureRects());
    }
    return window_.get();
}

void TForm1::PlaceViewports() {
    viewports_.clear();
    if (!panelVisible_) return;
    if (shape_ == FormShape::Hosted) {
        // The daemon's window is one monitor's: the viewport is centred in it.
        viewports_.push_back(CentredViewport(Rect{0, 0, width_, height_}, scale_));
        return;
    }
    std::vector<Monitor> monitors = platform_.Monitors();
    if (monitors.empty())
        monitors.push_back(Monitor{Rect{0, 0, platform_.ScreenWidth(), platform_.ScreenHeight()}, true});
    viewports_ = quellora::PlaceViewports(monitors, left_, top_, scale_, monitors_);
}

void TForm1::FormCreate() {
    left_ = 0;
    top_ = 0;
    if (shape_ == FormShape::Preview) {
        Rect parent;
        if (!platform_.GetWindowRect(previewParent_, parent)) {
            // The handle names no window: there is nothing to show the
            // preview in, so it ends at once.
            FormClose();
            return;
        }
        width_ = parent.Width();
        height_ = parent.Height();
        panelVisible_ = false;
        HandleNeeded();
        if (window_) window_->PaintNow();  // the sample picture, drawn once
    } else if (shape_ == FormShape::Hosted) {
        Rect host;
        if (!platform_.GetWindowRect(hostWindow_, host)) {
            FormClose();
            if (isMainForm_) app_.Terminate();
            return;
        }
        width_ = host.Width();
        height_ = host.Height();
        panelVisible_ = true;
    } else {
        platform_.ShowCursor(false);
        cursorHidden_ = true;
        // The black window covers every monitor, whose viewports are placed
        // once the settings are read.
        const Rect all = CoveredScreen();
        left_ = all.left;
        top_ = all.top;
        width_ = all.Width();
        height_ = all.Height();
        panelVisible_ = true;

        const auto id = platform_.PlatformId();
        if (!id) {
            // Without the version the saver can't tell how to clean up: it
            // ends before its window is ever shown.
            FormClose();
            if (isMainForm_) app_.Terminate();
            return;
        }
        platformId_ = *id;
        if (platformId_ == PlatformFamily::Windows95) platform_.SetScreenSaverRunning(true);
    }

    {
        SettingsStore settings(platform_.Keys(), kSettingsKey);
        dispStr_ = settings.ReadString(kSettingsSection, kDispStrEntry, kDefaultDispStr);
        // Read as the window always has, but the pace stays at 40 ms a frame.
        (void)settings.ReadInteger(kSettingsSection, kSleepTimeEntry, 15);
        // How big the picture is and where it shows: text that means neither
        // counts as missing.
        scale_ = options_.scale.value_or(
            ParseScale(settings.ReadString(kSettingsSection, kScaleEntry, "auto")).value_or(kAutoScale));
        monitors_ = ParseMonitors(settings.ReadString(kSettingsSection, kMonitorsEntry, "all")).value_or(MonitorChoice::All);
    }
    PlaceViewports();

    activated_ = false;
    mouseMoveCounter_ = 0;
    anim_.InitState();
    anim_.CreateBuffers();
    closed_ = false;

    if (shape_ != FormShape::Preview) {
        InstallAnimeLoop();
        if (!HandleNeeded()) {
            // No window to show the animation in (the host's window went
            // away, or can't be drawn into): nothing to run.
            FormClose();
            if (isMainForm_) app_.Terminate();
        }
    }
}

void TForm1::InstallAnimeLoop() {
    app_.SetIdleHandler(IdleHandler{[this](bool& done) { AnimeLoop(done); },
                                    [this](uint32_t now) { return anim_.MsUntilNextPass(now); }});
}

void TForm1::OnSeenChanged(bool seen) {
    // With every monitor off nothing is drawn, and the pacer does not even
    // wake; once one is on, the sweep is where the clock says, as if it had
    // gone on all along, and that frame is shown.
    if (closed_ || shape_ != FormShape::Saver || seen == !unseen_) return;
    unseen_ = !seen;
    if (!seen) {
        app_.ClearIdleHandler();
        return;
    }
    anim_.CatchUp(platform_.TickCount());
    PaintViewports();
    InstallAnimeLoop();
}

void TForm1::FormActivate() {
    if (activated_) return;
    if (shape_ != FormShape::Preview) {
        if (shape_ == FormShape::Saver) platform_.HideApplicationWindow();
        anim_.PrepareFirstFrame();
    }
    anim_.SetStartTick(platform_.TickCount());
    activated_ = true;
    // The window was just shown: its first paint is all of it, the first
    // frame in its viewports and the black around them.
    PaintViewports(true);
}

int TForm1::SampleX() const { return -HalfRoundedEven(SamplePicture().width - width_); }
int TForm1::SampleY() const { return -HalfRoundedEven(SamplePicture().height - height_); }

Rect TForm1::PictureRectIn(const Viewport& v) const {
    const auto& img = anim_.Image1();
    const int n = v.scale;
    const Rect image{v.rect.left + img.left * n, v.rect.top + img.top * n, v.rect.left + (img.left + img.width) * n,
                     v.rect.top + (img.top + img.height) * n};
    return Intersect(Intersect(image, v.rect), Rect{0, 0, width_, height_});
}

std::vector<Rect> TForm1::PictureRects() const {
    std::vector<Rect> out;
    for (const Viewport& v : viewports_)
        if (const Rect r = PictureRectIn(v); !r.Empty()) out.push_back(r);
    return out;
}

const Viewport* TForm1::PictureAt(int x, int y) const {
    for (const Viewport& v : viewports_)
        if (PictureRectIn(v).Contains(x, y)) return &v;
    return nullptr;
}

void TForm1::InvalidateViewport() {
    // Nothing is painted while a handler runs: only the last picture it gives
    // the display image reaches the screen, when it is done (PaintViewports).
    viewportsChanged_ = true;
}

void TForm1::PaintViewports(bool wholeWindow) {
    if (!viewportsChanged_ && !wholeWindow) return;
    viewportsChanged_ = false;
    if (!window_ || !panelVisible_) return;
    // Straight to the screen, viewport by viewport, as the display image
    // repaints itself: no round through the loop's paint message.
    if (wholeWindow) window_->PaintNow();
    for (const Viewport& v : viewports_) {
        const Rect r = Intersect(v.rect, Rect{0, 0, width_, height_});
        if (!r.Empty() && !wholeWindow) window_->PaintNow(&r);
    }
    window_->SetCrossCursorRects(PictureRects());
}

void TForm1::FormPaint(Surface& surface) {
    if (shape_ == FormShape::Preview) surface.PutGrey(SamplePicture(), SampleX(), SampleY());
}

void TForm1::OnPaint(Surface& surface) {
    const Rect client{0, 0, width_, height_};
    // The black window around the viewports.
    std::vector<Rect> views;
    for (const Viewport& v : viewports_) views.push_back(Intersect(v.rect, client));
    for (const Rect& r : Subtract(client, views)) surface.FillBlack(r);
    bool put = false;
    for (const Viewport& v : viewports_) put = PaintViewport(surface, v) || put;
    // A new picture on screen is one frame.
    if (put && anim_.ImageSerial() != countedSerial_) {
        countedSerial_ = anim_.ImageSerial();
        frames_.Count(platform_.TickCount());
    }
    if (options_.showFrameRate) PaintReadout(surface);
    FormPaint(surface);
}

void TForm1::PaintReadout(Surface& surface) {
    // Frames a second, brought up to date about once a second, in the
    // bottom-left corner over whatever is there.
    char text[32] = "FPS: --.-";
    if (const auto rate = frames_.Rate()) std::snprintf(text, sizeof text, "FPS: %.1f", *rate);
    if (text != readoutText_ || readout_.Empty()) {
        readoutText_ = text;
        readout_ = moire::RenderReadout(readoutText_, 2);
        const Rect old = readoutRect_;
        readoutRect_ = Rect{8, height_ - 8 - readout_.Height(), 8 + readout_.Width(), height_ - 8};
        if (window_) {
            const Rect changed = Union(old, readoutRect_);
            window_->Invalidate(&changed);
        }
    }
    surface.PutBitmap1(readout_, 0, 0, readout_.Width(), readout_.Height(), readoutRect_.left, readoutRect_.top);
}

bool TForm1::PaintViewport(Surface& surface, const Viewport& v) {
    const Rect view = Intersect(v.rect, Rect{0, 0, width_, height_});
    if (view.Empty()) return false;
    // The display image, clipped to the viewport; the panel's black shows
    // wherever the picture does not reach.
    const auto& img = anim_.Image1();
    const int n = v.scale;
    const int ix = v.rect.left + img.left * n, iy = v.rect.top + img.top * n;
    const int pw = std::min(img.picture.Width(), img.width), ph = std::min(img.picture.Height(), img.height);
    const Rect shown = Intersect(view, Rect{ix, iy, ix + pw * n, iy + ph * n});
    for (const Rect& r : Subtract(view, {shown})) surface.FillBlack(r);
    if (shown.Empty()) return false;
    if (n == 1) {
        surface.PutBitmap1(img.picture, shown.left - ix, shown.top - iy, shown.Width(), shown.Height(), shown.left,
                           shown.top);
        return true;
    }
    // Enlarged: every picture pixel an n x n block, made here, put as it is.
    const Rect inPanel = Intersect(Rect{-img.left, -img.top, -img.left + v.rect.Width() / n,
                                        -img.top + v.rect.Height() / n},
                                   Rect{0, 0, pw, ph});
    const Enlarged& big = EnlargedImage(n, inPanel);
    const int bx = ix + inPanel.left * n, by = iy + inPanel.top * n;
    const Rect put = Intersect(shown, Rect{bx, by, bx + big.bits.Width(), by + big.bits.Height()});
    if (put.Empty()) return false;
    surface.PutBitmap1(big.bits, put.left - bx, put.top - by, put.Width(), put.Height(), put.left, put.top);
    return true;
}

const TForm1::Enlarged& TForm1::EnlargedImage(int scale, const Rect& source) {
    auto it = std::find_if(enlarged_.begin(), enlarged_.end(), [scale](const Enlarged& e) { return e.scale == scale; });
    if (it == enlarged_.end()) {
        enlarged_.push_back(Enlarged{});
        it = enlarged_.end() - 1;
        it->scale = scale;
    }
    const uint64_t serial = anim_.ImageSerial();
    if (it->serial != serial || it->source != source) {
        moire::ScaleUp(anim_.Image1().picture, source.left, source.top, source.Width(), source.Height(), scale,
                       it->bits);
        it->serial = serial;
        it->source = source;
    }
    return *it;
}

void TForm1::FormClose() {
    app_.ClearIdleHandler();
    if (platformId_ == PlatformFamily::Windows95) platform_.SetScreenSaverRunning(false);
    closed_ = true;
}

void TForm1::Close() {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) return;
    FormClose();
    // The main form ends the application; any other form is only hidden,
    // which changes nothing for a preview child.
    if (isMainForm_) app_.Terminate();
}

void TForm1::OnDestroyedExternally() {
    // The window is gone (a preview host destroyed its window without asking
    // us to close): end as if closed, without asking anyone.
    FormClose();
    if (isMainForm_) app_.Terminate();
}

void TForm1::OnResize(int width, int height) {
    if (shape_ != FormShape::Hosted || (width == width_ && height == height_)) return;
    width_ = width;
    height_ = height;
    PlaceViewports();
    if (window_) {
        window_->Invalidate(nullptr);
        window_->SetCrossCursorRects(PictureRects());
    }
}

Rect TForm1::CoveredScreen() const {
    const Rect all = platform_.VirtualScreen();
    if (all.Width() > 0 && all.Height() > 0) return all;
    return Rect{0, 0, platform_.ScreenWidth(), platform_.ScreenHeight()};
}

void TForm1::OnMonitorsChanged() {
    // A monitor docked, woken, rotated or re-scaled while the saver runs: the
    // black window covers the new set, and every monitor gets its viewport
    // again, the same way as at the start, showing the frame of the moment.
    // A daemon's window follows its own size (OnResize); a preview never moves.
    if (shape_ != FormShape::Saver || closed_) return;
    const Rect all = CoveredScreen();
    if (all != Rect{left_, top_, left_ + width_, top_ + height_}) {
        left_ = all.left;
        top_ = all.top;
        width_ = all.Width();
        height_ = all.Height();
        if (window_) window_->SetPlacement(all);
    }
    PlaceViewports();
    if (window_) {
        window_->Invalidate(nullptr);
        window_->SetCrossCursorRects(PictureRects());
    }
}

bool TForm1::WMSysCommand(uint32_t command) {
    // No other screen saver may start over this one.
    return command == kScScreenSave;
}

void TForm1::FormKeyDown(uint16_t key, uint32_t /*shift*/) {
    if (key == vk::kEscape)
        Close();
    else if (key == vk::kSpace)
        Btn_AnimeStopClick(this);
}

void TForm1::FormKeyUp(uint16_t key, uint32_t /*shift*/) {
    if (key == vk::kSpace) Btn_AnimeStartClick(this);
}

void TForm1::CountMouseMove(int32_t threshold) {
    int64_t c = static_cast<int64_t>(mouseMoveCounter_) + 1;
    if (c >= std::numeric_limits<int32_t>::max()) c = 100;
    mouseMoveCounter_ = static_cast<int32_t>(c);
    if (mouseMoveCounter_ > threshold) Close();
}

void TForm1::FormMouseMove(uint32_t, int, int) { CountMouseMove(kFormMoveThreshold); }
void TForm1::Image1MouseMove(uint32_t, int, int) { CountMouseMove(kImageMoveThreshold); }
void TForm1::Image1MouseDown(MouseButton, uint32_t, int, int) { Close(); }
void TForm1::Image1DblClick() {
    if (previewParent_ == 0) Close();
}

// Input reaches the handlers only in saver mode: a preview child is disabled,
// and in a daemon's window input is the daemon's business.
void TForm1::OnKeyDown(uint16_t key, uint32_t shift) {
    if (shape_ == FormShape::Saver) FormKeyDown(key, shift);
}
void TForm1::OnKeyUp(uint16_t key, uint32_t shift) {
    if (shape_ == FormShape::Saver) FormKeyUp(key, shift);
}
void TForm1::OnMouseMove(int x, int y, uint32_t shift) {
    if (shape_ != FormShape::Saver) return;
    // Over any viewport's picture the display image has the event, with its
    // own coordinates; elsewhere the window.
    if (const Viewport* v = PictureAt(x, y))
        Image1MouseMove(shift, (x - v->rect.left) / v->scale - anim_.Image1().left,
                        (y - v->rect.top) / v->scale - anim_.Image1().top);
    else
        FormMouseMove(shift, x, y);
}
void TForm1::OnMouseDown(MouseButton button, int x, int y, uint32_t shift, uint32_t time) {
    if (shape_ != FormShape::Saver) return;
    // Double clicks are told on the whole window; only the display image
    // handles presses (the window itself has no handler for them).
    const bool doubleClick = wantsDoubleClicks_ && doubleClicks_.Press(button, x, y, time);
    if (!PictureAt(x, y)) return;
    if (doubleClick)
        Image1DblClick();
    else
        Image1MouseDown(button, shift, x, y);
}

void TForm1::FormCloseQuery(bool& canClose) {
    canClose = true;
    if (previewParent_ != 0) return;                        // a preview never asks
    if (platformId_ == PlatformFamily::WindowsNT) return;  // the NT family's system asks for it itself
    if (platformId_ == PlatformFamily::X11 || platformId_ == PlatformFamily::Wayland)
        return;  // no host password service on either

    KeyStore& keys = platform_.Keys();
    if (!keys.KeyExists(kDesktopKey)) return;
    const auto flag = keys.ReadValue(kDesktopKey, kUsePasswordValue);
    if (!flag || flag->type != KeyValue::Type::Dword || flag->dword == 0) return;

    platform_.ShowCursor(true);
    std::string path = platform_.SystemDirectory();
    if (!path.empty() && path.back() != '\\') path += '\\';
    path += "PASSWORD.CPL";
    const auto library = platform_.LoadLibrary(path);
    if (!library) return;
    if (void* entry = library->Entry("VerifyScreenSavePwd")) {
        const auto verify = reinterpret_cast<VerifyScreenSavePwdFn>(entry);
        void* self = window_ ? reinterpret_cast<void*>(window_->Handle()) : nullptr;
        canClose = (static_cast<uint32_t>(verify(self)) & 0xFFu) != 0;
    }
}

}  // namespace quellora
