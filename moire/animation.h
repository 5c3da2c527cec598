// The moiré animation: the three off-screen bitmaps, the display image, the
// frame composition, the sweep and the frame pacer. The saver window owns one
// and forwards its handlers here; a test drives it with a scripted clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "moire/bitmap1.h"
#include "moire/motion.h"

namespace quellora::moire {

// The display image: a 1600 x 768 view inside the viewport, showing its
// picture at natural size from its own top-left corner.
struct DisplayImage {
    Bitmap1 picture;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct Pictures {
    const Bitmap1* img1 = nullptr;   // first pattern
    const Bitmap1* img2 = nullptr;   // second pattern
    const Bitmap1* title = nullptr;  // title card
};

class Animation {
public:
    using Clock = std::function<uint32_t()>;

    Animation(Clock clock, Pictures pictures, int viewportWidth = kViewportWidth,
              int viewportHeight = kViewportHeight);

    // Window creation, first the starting values: start tick 0, animation
    // stopped, direction 0, 40 ms per frame.
    void InitState();
    // Then the buffers: the display image gets its size and an empty 1-bit
    // picture, and work bitmap A, the compose bitmap and work bitmap B are
    // created white at that size.
    void CreateBuffers();

    // Clears work bitmap A to white and shows it on the display image.
    void Btn_ClearClick();
    // Loads the patterns into the work bitmaps and resets the sweep.
    void BmpInit();
    // Composes one frame and hands it to the display image.
    void ReDraw();
    // The bitmap side of the first activation: clear, BmpInit, ReDraw, start.
    void PrepareFirstFrame();

    // The idle handler: Done is always left false; a due pass moves and draws
    // when the animation runs.
    void AnimeLoop(bool& done);
    // The steps the clock says fell while the pacer slept (nobody could see
    // the picture) are taken at once and only the last one is drawn: the
    // frame the clock says. The next pass is due where it would have been.
    void CatchUp(uint32_t now);
    // How long the loop may sleep before the next pass is worth making.
    uint32_t MsUntilNextPass(uint32_t now) const { return moire::MsUntilNextPass(now, lastFrameTick_, frameInterval_); }
    // One step of the sweep; the display image follows the first pattern.
    void AutoMove() {
        moire::AutoMove(motion_, viewportWidth_, image_.width);
        image_.left = motion_.left;
    }

    void Btn_AnimeStartClick() { animating_ = true; }
    void Btn_AnimeStopClick() { animating_ = false; }

    // Called whenever the display image's picture or position changes, so the
    // window can mark the viewport for repainting.
    void SetOnImageChanged(std::function<void()> fn) { onImageChanged_ = std::move(fn); }

    const DisplayImage& Image1() const { return image_; }
    // Counts the changes of the display image: a picture made from it stays
    // good while the count stays.
    uint64_t ImageSerial() const { return imageSerial_; }
    const Motion& GetMotion() const { return motion_; }
    Motion& MutableMotion() { return motion_; }
    bool Animating() const { return animating_; }
    uint32_t StartTick() const { return startTick_; }
    // The first activation starts the title card's time.
    void SetStartTick(uint32_t t) {
        startTick_ = t;
        started_ = true;
        titleOver_ = false;
    }
    uint32_t LastFrameTick() const { return lastFrameTick_; }
    void SetLastFrameTick(uint32_t t) { lastFrameTick_ = t; }
    int32_t FrameInterval() const { return frameInterval_; }
    const Bitmap1& WorkA() const { return workA_; }
    const Bitmap1& WorkB() const { return workB_; }
    const Bitmap1& Compose() const { return compose_; }
    const std::string& Label9() const { return label9_; }
    const std::string& Label4() const { return label4_; }
    int ViewportWidth() const { return viewportWidth_; }
    int ViewportHeight() const { return viewportHeight_; }

    // The viewport as it shows now: the display image clipped to the viewport.
    Bitmap1 ViewportPicture() const;

private:
    void ImageChanged() {
        ++imageSerial_;
        if (onImageChanged_) onImageChanged_();
    }

    Clock clock_;
    Pictures pictures_;
    int viewportWidth_;
    int viewportHeight_;

    DisplayImage image_;
    Bitmap1 workA_, compose_, workB_;
    Motion motion_;
    uint32_t startTick_ = 0;
    uint32_t lastDrawTick_ = 0;
    uint32_t lastFrameTick_ = 0;
    int32_t frameInterval_ = 0;
    bool animating_ = false;
    bool started_ = false;    // the start tick has been set
    bool titleOver_ = false;  // the card's time has passed; it never comes back
    std::string label9_ = "0 ms";
    std::string label4_ = "0 ms";
    std::function<void()> onImageChanged_;
    uint64_t imageSerial_ = 0;
};

}  // namespace quellora::moire
