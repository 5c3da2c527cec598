// The saver window: full screen in saver mode, a disabled child of the host's
// preview window in preview mode, or the animation inside a screen saver
// daemon's window. It sets itself up, runs the moiré, applies the input rules
// that end or pause the saver, and asks the host password check on close.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "moire/animation.h"
#include "platform/application.h"
#include "platform/platform.h"
#include "saver/saver_options.h"
#include "saver/viewports.h"

namespace quellora {

enum class FormShape {
    Saver,    // preview parent handle 0
    Preview,  // preview parent handle set
    Hosted,   // drawing into a daemon's window; input is the daemon's business
};

class TForm1 : public WindowEvents {
public:
    // Constructs the window object and runs FormCreate. `previewParent` is the
    // preview parent handle (0 in saver mode). A main form ends the
    // application when it closes. With a `hostWindow` the animation runs in
    // that window instead (a daemon's window).
    TForm1(Platform& platform, Application& app, WindowHandle previewParent, bool isMainForm,
           WindowHandle hostWindow = 0, SaverOptions options = {});
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void CreateParams(WindowParams& params);
    void FormCreate();
    void FormActivate();
    void FormPaint(Surface& surface);
    void FormClose();
    // The close operation: asks the close permission, then runs FormClose and
    // ends the application if this is the main form.
    void Close();
    // WM_SYSCOMMAND: true when swallowed.
    bool WMSysCommand(uint32_t command);
    void FormKeyDown(uint16_t key, uint32_t shift);
    void FormKeyUp(uint16_t key, uint32_t shift);
    void FormMouseMove(uint32_t shift, int x, int y);
    void Image1MouseMove(uint32_t shift, int x, int y);
    void Image1MouseDown(MouseButton button, uint32_t shift, int x, int y);
    void Image1DblClick();
    // The host password check.
    void FormCloseQuery(bool& canClose);

    void AnimeLoop(bool& done) {
        anim_.AnimeLoop(done);
        PaintViewports();
    }
    void Btn_AnimeStartClick(void* /*sender*/) { anim_.Btn_AnimeStartClick(); }
    void Btn_AnimeStopClick(void* /*sender*/) { anim_.Btn_AnimeStopClick(); }

    // WindowEvents: the platform's messages, routed to the handlers above.
    void OnActivate() override { FormActivate(); }
    void OnPaint(Surface& surface) override;
    void OnKeyDown(uint16_t key, uint32_t shift) override;
    void OnKeyUp(uint16_t key, uint32_t shift) override;
    void OnMouseMove(int x, int y, uint32_t shift) override;
    void OnMouseDown(MouseButton button, int x, int y, uint32_t shift, uint32_t time) override;
    void OnCloseRequest() override { Close(); }
    bool OnSysCommand(uint32_t command) override { return WMSysCommand(command); }
    void OnDestroyedExternally() override;
    void OnResize(int width, int height) override;
    void OnMonitorsChanged() override;
    void OnSeenChanged(bool seen) override;

    FormShape Shape() const { return shape_; }
    bool Closed() const { return closed_; }
    bool Activated() const { return activated_; }
    PlatformFamily PlatformIdField() const { return platformId_; }
    const std::string& DisplayString() const { return dispStr_; }
    int32_t MouseMoveCounter() const { return mouseMoveCounter_; }
    void SetMouseMoveCounter(int32_t v) { mouseMoveCounter_ = v; }
    Window* GetWindow() { return window_.get(); }
    // Creates the window if it does not exist yet.
    Window* HandleNeeded();
    // Window size and the viewports, in the window's client coordinates: the
    // primary monitor's first (Panel1), then the other monitors'.
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::vector<Viewport>& Viewports() const { return viewports_; }
    Rect Panel1() const { return viewports_.empty() ? Rect{} : viewports_.front().rect; }
    bool Panel1Visible() const { return panelVisible_; }
    // Where the sample picture is drawn in preview mode.
    int SampleX() const;
    int SampleY() const;
    // Where the display image shows: its part inside each viewport and the
    // window (the cross-hair's place, and what "over the picture" means).
    std::vector<Rect> PictureRects() const;
    moire::Animation& Anim() { return anim_; }
    const moire::Animation& Anim() const { return anim_; }

private:
    bool Preview() const { return previewParent_ != 0; }
    void CountMouseMove(int32_t threshold);
    void PlaceViewports();
    // AnimeLoop as the application's idle handler.
    void InstallAnimeLoop();
    // The black window's place: every monitor, in their coordinates.
    Rect CoveredScreen() const;
    void InvalidateViewport();
    // Puts a new picture of the display image on screen (`wholeWindow`: the
    // window's first paint, all of it).
    void PaintViewports(bool wholeWindow = false);
    Rect PictureRectIn(const Viewport& v) const;
    // The viewport whose picture holds the point, or nullptr.
    const Viewport* PictureAt(int x, int y) const;
    // True when the display image was put in it.
    bool PaintViewport(Surface& surface, const Viewport& v);
    void PaintReadout(Surface& surface);
    // The display image, enlarged n times: its part inside the viewport.
    struct Enlarged {
        uint64_t serial = ~uint64_t{0};
        int scale = 0;
        Rect source;  // in the display image's picture
        Bitmap1 bits;
    };
    const Enlarged& EnlargedImage(int scale, const Rect& source);

    Platform& platform_;
    Application& app_;
    WindowHandle previewParent_;
    bool isMainForm_;
    FormShape shape_;
    WindowHandle hostWindow_;

    std::unique_ptr<Window> window_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::vector<Viewport> viewports_;
    bool panelVisible_ = true;
    SaverOptions options_;
    int scale_ = kAutoScale;                   // the Scale setting, or the command line's
    MonitorChoice monitors_ = MonitorChoice::All;
    std::vector<Enlarged> enlarged_;
    bool viewportsChanged_ = false;  // the display image changed since the viewports were last painted
    FrameLog frames_;
    uint64_t countedSerial_ = ~uint64_t{0};  // the display image last counted as a frame
    std::string readoutText_;
    Bitmap1 readout_;
    Rect readoutRect_;

    PlatformFamily platformId_ = PlatformFamily::Unknown;
    std::string dispStr_;
    bool closed_ = false;
    bool unseen_ = false;  // every monitor is off: the pacer sleeps
    bool activated_ = false;
    int32_t mouseMoveCounter_ = 0;
    bool cursorHidden_ = false;
    bool wantsDoubleClicks_ = false;
    DoubleClicks doubleClicks_;

    moire::Animation anim_;
};

}  // namespace quellora
