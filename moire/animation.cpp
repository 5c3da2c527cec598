// The moiré animation: frame composition, the sweep and the frame pacer.
#include "moire/animation.h"

#include <algorithm>
#include <utility>

#include "moire/raster.h"
#include "moire/rounding.h"

namespace quellora::moire {

namespace {
std::string Millis(uint32_t ms) { return std::to_string(ms) + " ms"; }
}  // namespace

Animation::Animation(Clock clock, Pictures pictures, int viewportWidth, int viewportHeight)
    : clock_(std::move(clock)), pictures_(pictures), viewportWidth_(viewportWidth), viewportHeight_(viewportHeight) {}

void Animation::InitState() {
    startTick_ = 0;
    started_ = false;
    titleOver_ = false;
    animating_ = false;
    motion_.direction = 0;
    frameInterval_ = kFrameInterval;
}

void Animation::CreateBuffers() {
    image_.picture.Clear();
    ++imageSerial_;
    image_.width = kPatternWidth;
    image_.height = kPatternHeight;
    for (Bitmap1* b : {&workA_, &compose_, &workB_}) b->Resize(image_.width, image_.height);
}

void Animation::Btn_ClearClick() {
    workA_.Resize(image_.width, image_.height);
    workA_.Fill(false);
    image_.picture = workA_;
    ImageChanged();
}

void Animation::BmpInit() {
    Btn_ClearClick();
    workA_ = pictures_.img1 ? *pictures_.img1 : Bitmap1();
    workB_ = pictures_.img2 ? *pictures_.img2 : Bitmap1();
    lastDrawTick_ = clock_();
    image_.left = viewportWidth_ - workA_.Width();
    image_.top = 0;
    ResetMotion(motion_, viewportWidth_, workA_.Width());
    ImageChanged();
}

void Animation::ReDraw() {
    const uint32_t t1 = clock_();
    label9_ = Millis(t1 - lastDrawTick_);
    lastDrawTick_ = t1;

    compose_ = workA_;
    // The part of the display image that the viewport shows, combined with the
    // matching window of the second pattern.
    Blit(compose_, -image_.left, -image_.top, workB_, -motion_.offX, -motion_.offY, viewportWidth_,
         viewportHeight_, RasterOp::Xor);

    // The card shows for the first 4.5 s after the start. The time is taken
    // modulo 2^32, so a tick count that wraps meanwhile neither hides the card
    // early nor, long after, brings it back.
    const uint32_t t2 = clock_();
    if (started_ && t2 - startTick_ >= static_cast<uint32_t>(kTitleDuration)) titleOver_ = true;
    if (pictures_.title && !pictures_.title->Empty() && !titleOver_ &&
        t2 - startTick_ < static_cast<uint32_t>(kTitleDuration)) {
        const Bitmap1& card = *pictures_.title;
        const int cx = HalfRoundedEven(viewportWidth_ - card.Width());
        const int cy = HalfRoundedEven(viewportHeight_ - card.Height());
        Blit(compose_, cx - image_.left, cy - image_.top, card, 0, 0, card.Width(), card.Height(), RasterOp::Copy);
    }

    image_.picture = compose_;
    label4_ = Millis(clock_() - t1);
    ImageChanged();
}

void Animation::PrepareFirstFrame() {
    workA_.Resize(image_.width, image_.height);
    workA_.Fill(false);
    image_.picture = workA_;
    ++imageSerial_;
    BmpInit();
    ReDraw();
    Btn_AnimeStartClick();
}

void Animation::AnimeLoop(bool& done) {
    const uint32_t now = clock_();
    done = false;
    if (!IsDue(now, lastFrameTick_, frameInterval_)) return;
    lastFrameTick_ = now;
    if (animating_) {
        AutoMove();
        ReDraw();
    }
}

void Animation::CatchUp(uint32_t now) {
    if (!animating_ || frameInterval_ <= 0) return;  // held still: no step fell
    const uint32_t steps = (now - lastFrameTick_) / static_cast<uint32_t>(frameInterval_);
    if (steps == 0) return;
    for (uint32_t i = 0; i < steps; ++i) AutoMove();
    lastFrameTick_ += steps * static_cast<uint32_t>(frameInterval_);
    ReDraw();
}

Bitmap1 Animation::ViewportPicture() const {
    // Wherever the display image does not reach, the viewport's black shows.
    Bitmap1 out(viewportWidth_, viewportHeight_);
    out.Fill(true);
    const Bitmap1& pic = image_.picture;
    // The image view clips its picture to its own size.
    const int w = std::min(pic.Width(), image_.width);
    const int h = std::min(pic.Height(), image_.height);
    Blit(out, image_.left, image_.top, pic, 0, 0, w, h, RasterOp::Copy);
    return out;
}

}  // namespace quellora::moire
