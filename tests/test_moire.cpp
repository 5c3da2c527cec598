// The sweep, the pacing rule, the raster copies and frame composition.
#include <gtest/gtest.h>

#include <random>

#include "moire/animation.h"
#include "moire/assets.h"
#include "moire/motion.h"
#include "moire/raster.h"
#include "moire/rounding.h"
#include "moire/scale.h"

namespace quellora::moire {
namespace {

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    const struct { double v; int r; } cases[] = {{28.5, 28}, {29.5, 30}, {-28.5, -28}, {-29.5, -30},
                                                 {309.4, 309}, {0.5, 0}, {1.5, 2}, {352.0, 352}};
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.v), c.r) << c.v;
    EXPECT_EQ(HalfRoundedEven(705), 352);
    EXPECT_EQ(HalfRoundedEven(707), 354);
    EXPECT_EQ(HalfRoundedEven(-224), -112);
}

TEST(AutoMove, FirstStepsMoveTheSecondPatternFirst) {
    Motion m;
    ResetMotion(m);
    AutoMove(m);
    EXPECT_EQ(m.moveCounter, 1);
    EXPECT_EQ(m.offX, -1);
    EXPECT_EQ(m.left, -576);
    AutoMove(m);
    EXPECT_EQ(m.left, -575);
}

TEST(AutoMove, KeepsTheInvariantAndTurnsWithoutJumps) {
    Motion m;
    ResetMotion(m);
    std::vector<long> turns;
    for (long step = 1; step <= 6000; ++step) {
        const Motion before = m;
        AutoMove(m);
        if (m.direction != before.direction) {
            turns.push_back(step);
            // Neither pattern jumps at a turn.
            EXPECT_EQ(m.offX, before.offX) << step;
            EXPECT_EQ(std::abs(m.left - before.left), 1) << step;
        }
        const int sum = m.left + m.offX;
        if (step % 2 == 0)
            ASSERT_EQ(sum, -576) << step;
        else
            ASSERT_EQ(sum, m.direction == 0 ? -577 : -575) << step;
        ASSERT_GE(m.left, -576);
        ASSERT_LE(m.left, -4);
        ASSERT_GE(m.offX, -572);
        ASSERT_LE(m.offX, 0);
        // The windows read from the bitmaps stay inside them.
        ASSERT_GE(-m.left, 4);
        ASSERT_LE(-m.left + 1024, 1600);
        ASSERT_LE(-m.offX + 1024, 1600);
    }
    EXPECT_EQ(turns, (std::vector<long>{1144, 2280, 3416, 4552, 5688}));
}

TEST(AutoMove, TurnPositions) {
    Motion m;
    ResetMotion(m);
    for (int i = 0; i < 1143; ++i) AutoMove(m);
    EXPECT_EQ(m.left, -5);
    AutoMove(m);  // step 1144
    EXPECT_EQ(m.direction, 1);
    EXPECT_EQ(m.left, -4);
    EXPECT_EQ(m.offX, -572);
    AutoMove(m);
    EXPECT_EQ(m.offX, -571);
    // The other end: -570 to -571 does not turn, -571 to -572 does.
    while (m.left != -570) AutoMove(m);
    AutoMove(m);
    AutoMove(m);
    EXPECT_EQ(m.left, -571);
    EXPECT_EQ(m.direction, 1);
    AutoMove(m);
    AutoMove(m);
    EXPECT_EQ(m.left, -572);
    EXPECT_EQ(m.direction, 0);
    EXPECT_EQ(m.offX, -4);
}

TEST(AutoMove, CounterWrapKeepsTheAlternation) {
    Motion m;
    ResetMotion(m);
    m.moveCounter = 2147483645;
    AutoMove(m);  // 2147483646: even, moves the display image
    EXPECT_EQ(m.moveCounter, 2147483646);
    EXPECT_EQ(m.left, -575);
    AutoMove(m);  // would be 2147483647: wraps to 1, odd, moves the second pattern
    EXPECT_EQ(m.moveCounter, 1);
    EXPECT_EQ(m.left, -575);
    EXPECT_EQ(m.offX, -1);
}

TEST(Pacing, DueRule) {
    const struct { uint32_t now, last; bool due; uint32_t wait; } cases[] = {
        {1039, 1000, false, 1},
        {1040, 1000, true, 0},
        {1000, 1000, true, 40},        // the tick has not moved on: due, but the loop waits
        {999, 1000, true, 0},
        {0xFFFFFFFBu, 0xFFFFFFFAu, true, 39},  // the sum wraps to 34
        {5, 0xFFFFFFFAu, true, 29},
        {34, 0xFFFFFFFAu, true, 0},
        {4294960000u, 0, true, 0},     // the very first pass
        {10, 0, false, 30},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsDue(c.now, c.last, 40), c.due) << c.now << " after " << c.last;
        EXPECT_EQ(MsUntilNextPass(c.now, c.last, 40), c.wait) << c.now << " after " << c.last;
    }
}

Bitmap1 RandomBitmap(std::mt19937& rng, int w, int h) {
    Bitmap1 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.Set(x, y, rng() & 1);
    return b;
}

TEST(Raster, BlitMatchesPixelByPixel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const Bitmap1 src = RandomBitmap(rng, 1 + rng() % 200, 1 + rng() % 9);
        const Bitmap1 dst0 = RandomBitmap(rng, 1 + rng() % 200, 1 + rng() % 9);
        const int dx = static_cast<int>(rng() % 240) - 20, dy = static_cast<int>(rng() % 12) - 2;
        const int sx = static_cast<int>(rng() % 240) - 20, sy = static_cast<int>(rng() % 12) - 2;
        const int w = static_cast<int>(rng() % 220), h = static_cast<int>(rng() % 10);
        for (RasterOp op : {RasterOp::Copy, RasterOp::Xor}) {
            Bitmap1 fast = dst0, slow = dst0;
            Blit(fast, dx, dy, src, sx, sy, w, h, op);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int X = dx + x, Y = dy + y, SX = sx + x, SY = sy + y;
                    if (X < 0 || Y < 0 || X >= slow.Width() || Y >= slow.Height()) continue;
                    if (SX < 0 || SY < 0 || SX >= src.Width() || SY >= src.Height()) continue;
                    slow.Set(X, Y, op == RasterOp::Copy ? src.Get(SX, SY) : (slow.Get(X, Y) != src.Get(SX, SY)));
                }
            ASSERT_TRUE(fast == slow) << "round " << round;
        }
    }
}

// A frame against the compositing rule, pixel by pixel.
void ExpectFrameRule(const Animation& a) {
    const Bitmap1 view = a.ViewportPicture();
    const Bitmap1& A = Img1Picture();
    const Bitmap1& B = Img2Picture();
    const Motion& m = a.GetMotion();
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x)
            ASSERT_EQ(view.Get(x, y), A.Get(x - m.left, y) != B.Get(x - m.offX, y)) << x << "," << y;
}

struct Fixture {
    uint32_t now = 100000;
    Animation anim{[this] { return now; }, Pictures{&Img1Picture(), &Img2Picture(), &TitlePicture()}};
    Fixture() {
        anim.InitState();
        anim.CreateBuffers();
        anim.BmpInit();
    }
};

TEST(Scale, EveryPixelBecomesABlock) {
    // (picture width, height, the rectangle taken, factors): odd sizes,
    // rectangles off word boundaries, rows whose n-fold bits end mid-word.
    const struct { int pw, ph, x, y, w, h; } cases[] = {
        {1024, 4, 0, 0, 1024, 4}, {200, 3, 0, 0, 200, 3}, {1, 1, 0, 0, 1, 1}, {17, 2, 0, 0, 17, 2},
        {1600, 5, 576, 1, 1024, 3}, {300, 4, 61, 0, 130, 4}, {70, 2, 3, 1, 9, 1},
    };
    std::mt19937 rng(11);
    for (const auto& c : cases) {
        Bitmap1 pic(c.pw, c.ph);
        for (int y = 0; y < c.ph; ++y)
            for (int x = 0; x < c.pw; ++x) pic.Set(x, y, rng() & 1);
        Bitmap1 out;
        for (int n = 1; n <= kMaxScale; ++n) {
            ScaleUp(pic, c.x, c.y, c.w, c.h, n, out);
            ASSERT_EQ(out.Width(), c.w * n);
            ASSERT_EQ(out.Height(), c.h * n);
            Bitmap1 want(c.w * n, c.h * n);
            for (int y = 0; y < c.h * n; ++y)
                for (int x = 0; x < c.w * n; ++x) want.Set(x, y, pic.Get(c.x + x / n, c.y + y / n));
            EXPECT_TRUE(out == want) << c.pw << "x" << c.ph << " at " << c.x << " x" << n;  // padding bits too
        }
    }
}

TEST(ReDraw, ComposesTheRuleAtBothEndsOfTheSweep) {
    Fixture f;
    f.anim.ReDraw();
    EXPECT_EQ(f.anim.Image1().left, -576);
    ExpectFrameRule(f.anim);
    // Work bitmap A keeps the plain first pattern.
    EXPECT_TRUE(f.anim.WorkA() == Img1Picture());
    for (int i = 0; i < 1144; ++i) f.anim.AutoMove();
    f.anim.ReDraw();
    EXPECT_EQ(f.anim.Image1().left, -4);
    EXPECT_EQ(f.anim.GetMotion().offX, -572);
    ExpectFrameRule(f.anim);
}

TEST(ReDraw, BothBlackAndBothWhiteShowWhite) {
    Bitmap1 a(1600, 768), b(1600, 768);
    a.Set(576, 0, true);  // viewport (0, 0): both black
    b.Set(0, 0, true);
    uint32_t now = 100000;
    Animation anim([&] { return now; }, Pictures{&a, &b, nullptr});
    anim.InitState();
    anim.CreateBuffers();
    anim.BmpInit();
    anim.ReDraw();
    const Bitmap1 v = anim.ViewportPicture();
    EXPECT_FALSE(v.Get(0, 0));
    EXPECT_FALSE(v.Get(1, 0));
}

TEST(ReDraw, TitleCardShowsUntil4500msAfterTheStart) {
    const Bitmap1& card = TitlePicture();
    const struct { uint32_t start, now; bool card; } cases[] = {
        {100000, 104499, true},
        {100000, 104500, false},
        // The activation came just before the tick wrapped: the card still
        // shows for 4.5 s, on both sides of the wrap.
        {0xFFFFF000u, 0xFFFFF100u, true},
        {0xFFFFF000u, 10, true},
        {0xFFFFF000u, 0x1000 + 4500, false},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.anim.SetStartTick(c.start);
        f.now = c.now;
        for (int i = 0; i < 300; ++i) f.anim.AutoMove();
        f.anim.ReDraw();
        const Bitmap1 v = f.anim.ViewportPicture();
        bool same = true;
        for (int y = 0; y < 240 && same; ++y)
            for (int x = 0; x < 320 && same; ++x) same = v.Get(352 + x, 264 + y) == card.Get(x, y);
        EXPECT_EQ(same, c.card) << c.start << " " << c.now;
    }
}

bool ShowsCard(const Animation& a) {
    const Bitmap1 v = a.ViewportPicture();
    const Bitmap1& card = TitlePicture();
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            if (v.Get(352 + x, 264 + y) != card.Get(x, y)) return false;
    return true;
}

TEST(ReDraw, TitleCardNeverComesBack) {
    Fixture f;
    // Before the start tick is set, the card shows only while the tick itself
    // is below 4500.
    f.now = 4499;
    f.anim.ReDraw();
    EXPECT_TRUE(ShowsCard(f.anim));
    f.now = 4500;
    f.anim.ReDraw();
    EXPECT_FALSE(ShowsCard(f.anim));
    f.anim.SetStartTick(f.now = 0xFFFF0000u);
    f.anim.ReDraw();
    EXPECT_TRUE(ShowsCard(f.anim));
    f.now += 5000;
    f.anim.ReDraw();
    EXPECT_FALSE(ShowsCard(f.anim));
    // A full turn of the tick count later the card stays away.
    f.now = 0xFFFF0000u + 100;
    f.anim.ReDraw();
    EXPECT_FALSE(ShowsCard(f.anim));
}

TEST(ReDraw, DiagnosticIntervalsWrap) {
    Fixture f;
    f.now = 0xFFFFFFF0u;
    f.anim.ReDraw();
    f.now += 40;  // wraps past 2^32
    f.anim.ReDraw();
    EXPECT_EQ(f.anim.Label9(), "40 ms");
    EXPECT_EQ(f.anim.Label4(), "0 ms");
}

TEST(AnimeLoop, DuePassesMoveAndDrawOnlyWhileAnimating) {
    Fixture f;
    int changes = 0;
    f.anim.SetOnImageChanged([&] { ++changes; });
    bool done = true;
    f.anim.AnimeLoop(done);  // due, but stopped: only the last frame tick moves
    EXPECT_FALSE(done);
    EXPECT_EQ(f.anim.LastFrameTick(), f.now);
    EXPECT_EQ(f.anim.GetMotion().moveCounter, 0);
    EXPECT_EQ(changes, 0);
    f.anim.Btn_AnimeStartClick();
    f.now += 39;
    f.anim.AnimeLoop(done);  // not due
    EXPECT_EQ(f.anim.GetMotion().moveCounter, 0);
    f.now += 1;
    f.anim.AnimeLoop(done);
    EXPECT_EQ(f.anim.GetMotion().moveCounter, 1);
    EXPECT_EQ(f.anim.GetMotion().offX, -1);
    EXPECT_GT(changes, 0);
    f.anim.Btn_AnimeStopClick();
    f.now += 400;
    f.anim.AnimeLoop(done);
    EXPECT_EQ(f.anim.GetMotion().moveCounter, 1);
}

}  // namespace
}  // namespace quellora::moire
