// The saver window on the headless platform: set-up, pacing, frames, the
// input rules, the close path and the preview.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "platform/application.h"
#include "app/entry.h"
#include "moire/assets.h"
#include "moire/raster.h"
#include "moire/rounding.h"
#include "moire/readout.h"
#include "moire/scale.h"
#include "platform/headless/headless_platform.h"
#include "saver/form1.h"

namespace quellora {
namespace {

using headless::Event;
using headless::HeadlessPlatform;
using headless::PutFrame;

// The viewport frame after `step` moves of the sweep, with or without the card.
Bitmap1 ExpectedFrame(int step, bool title) {
    uint32_t now = title ? 0 : 100000;
    moire::Animation a([&] { return now; }, {&Img1Picture(), &Img2Picture(), &TitlePicture()});
    a.InitState();
    a.CreateBuffers();
    a.BmpInit();
    for (int i = 0; i < step; ++i) a.AutoMove();
    a.ReDraw();
    return a.ViewportPicture();
}

struct SaverRun {
    HeadlessPlatform p;
    Application app{p};
    std::unique_ptr<TForm1> form;

    explicit SaverRun(uint32_t startTick = 100000, int w = 1280, int h = 1024) : p(startTick, w, h) {}
    void Create() { form = std::make_unique<TForm1>(p, app, 0, true); }
    // Creates the saver and runs its loop until it ends or `ms` pass.
    void Run(uint64_t ms) {
        if (!form) Create();
        p.StopAfter(ms);
        app.Run(form->GetWindow());
    }
    bool Ended() const { return !p.stoppedByLimit; }
    // Client coordinates of a point outside the viewport and one on the picture.
    int OutX() const { return 5; }
    int InX() const { return form->Panel1().left + 100; }
    int InY() const { return form->Panel1().top + 100; }
};

TEST(SaverSetup, ViewportCentredOnThePrimaryScreen) {
    const struct { int w, h, x, y; } cases[] = {{1280, 1024, 128, 128}, {1024, 768, 0, 0}, {800, 600, -112, -84}};
    for (const auto& c : cases) {
        SaverRun r(100000, c.w, c.h);
        r.Create();
        EXPECT_EQ(r.form->Panel1(), (Rect{c.x, c.y, c.x + 1024, c.y + 768})) << c.w;
        EXPECT_EQ(r.form->Width(), c.w);
        EXPECT_EQ(r.p.created.at(0).params.exStyle & style::kExTopmost, style::kExTopmost);
        EXPECT_EQ(r.p.cursorCount, -1);
    }
}

TEST(SaverSetup, BlackWindowCoversEveryMonitor) {
    SaverRun r(100000, 1920, 1080);
    r.p.virtualScreen = Rect{-1280, 0, 1920, 1080};  // a second monitor left of the primary
    r.Create();
    const WindowParams& wp = r.p.created.at(0).params;
    EXPECT_EQ(wp.x, -1280);
    EXPECT_EQ(wp.width, 3200);
    EXPECT_EQ(wp.height, 1080);
    // Centred on the primary monitor, in window coordinates.
    EXPECT_EQ(r.form->Panel1().left, 1280 + 448);
    EXPECT_EQ(r.form->Panel1().top, 156);
    // The other monitor counts as outside the viewport.
    r.p.Schedule(100, Event::MouseMove(10, 10));
    r.Run(200);
    EXPECT_EQ(r.form->MouseMoveCounter(), 1);
    EXPECT_EQ(r.p.ScreenPixel(r.p.LastWindow(), 10, 10), 0);
}

// --- big and many screens ---------------------------------------------------

// A monitor list from (left, top, width, height, primary) rows.
std::vector<Monitor> Monitors(std::initializer_list<std::tuple<int, int, int, int, bool>> rows) {
    std::vector<Monitor> out;
    for (const auto& [l, t, w, h, primary] : rows) out.push_back(Monitor{Rect{l, t, l + w, t + h}, primary});
    return out;
}

Rect ViewportAt(int x, int y, int n) { return Rect{x, y, x + 1024 * n, y + 768 * n}; }

TEST(Viewports, OneMonitorAnySize) {
    // screen -> scale and the viewport's corner: below 2048 x 1536 exactly
    // the one viewport of old, cropped or framed; above it enlarged.
    const struct { int w, h, n, x, y; } cases[] = {
        {800, 600, 1, -112, -84},   {1024, 768, 1, 0, 0},    {1920, 1080, 1, 448, 156}, {2048, 1536, 2, 0, 0},
        {2560, 1440, 1, 768, 336}, {3840, 2160, 2, 896, 312}, {2047, 1536, 1, 512, 384}, {1, 1, 1, -512, -384},
    };
    for (const auto& c : cases) {
        SaverRun r(100000, c.w, c.h);
        r.Create();
        ASSERT_EQ(r.form->Viewports().size(), 1u) << c.w;
        EXPECT_EQ(r.form->Viewports()[0].scale, c.n) << c.w << "x" << c.h;
        EXPECT_EQ(r.form->Viewports()[0].rect, ViewportAt(c.x, c.y, c.n)) << c.w << "x" << c.h;
        EXPECT_EQ(AutoScale(c.w, c.h), c.n);
    }
}

TEST(Viewports, ScaleSetting) {
    // (Scale's text, scale on 3840 x 2160, scale on 1280 x 1024): bad text
    // is "auto".
    const struct { const char* text; int big, small; } cases[] = {
        {"auto", 2, 1}, {" AUTO ", 2, 1}, {"1", 1, 1}, {"3", 3, 3}, {"8", 8, 8}, {"2", 2, 2},
        {"9", 2, 1},    {"0", 2, 1},      {"2x", 2, 1}, {"", 2, 1}, {"-1", 2, 1}, {"$2", 2, 1},
    };
    for (const auto& c : cases) {
        for (const auto& [w, h, n] : {std::tuple{3840, 2160, c.big}, std::tuple{1280, 1024, c.small}}) {
            SaverRun r(100000, w, h);
            r.p.keys.SetString("Software\\Orvandel\\ScreenSaverSample", "Scale", c.text);
            r.Create();
            const Viewport& v = r.form->Viewports().at(0);
            EXPECT_EQ(v.scale, n) << '"' << c.text << "\" on " << w;
            // Centred with the design's rounding, cropped where it is bigger.
            EXPECT_EQ(v.rect.left, HalfRoundedEven(w - 1024 * n)) << c.text;
            EXPECT_EQ(v.rect.top, HalfRoundedEven(h - 768 * n)) << c.text;
        }
    }
    // A number where text belongs is no setting either.
    SaverRun r(100000, 3840, 2160);
    r.p.keys.SetDword("Software\\Orvandel\\ScreenSaverSample", "Scale", 1);
    r.Create();
    EXPECT_EQ(r.form->Viewports().at(0).scale, 2);
}

TEST(Viewports, EveryMonitorCentredAndScaledForItself) {
    using R = Rect;
    const struct {
        const char* what;
        std::vector<Monitor> monitors;
        const char* setting;
        Rect window;                  // the black window, on the virtual screen
        std::vector<Viewport> want;   // in the window's coordinates, the primary's first
    } cases[] = {
        {"primary left", Monitors({{0, 0, 1920, 1080, true}, {1920, 0, 1280, 1024, false}}), "all",
         R{0, 0, 3200, 1080}, {{ViewportAt(448, 156, 1), 1}, {ViewportAt(1920 + 128, 128, 1), 1}}},
        {"primary right, negative coordinates", Monitors({{-1280, 0, 1280, 1024, false}, {0, 0, 1920, 1080, true}}),
         "all", R{-1280, 0, 1920, 1080}, {{ViewportAt(1280 + 448, 156, 1), 1}, {ViewportAt(128, 128, 1), 1}}},
        {"three, primary in the middle, a 4K one above",
         Monitors({{-1024, 0, 1024, 768, false}, {0, 0, 1920, 1080, true}, {-960, -2160, 3840, 2160, false}}), "all",
         R{-1024, -2160, 2880, 1080},
         {{ViewportAt(1024 + 448, 2160 + 156, 1), 1}, {ViewportAt(0, 2160, 1), 1}, {ViewportAt(64 + 896, 312, 2), 2}}},
        {"Monitors=primary: today's picture", Monitors({{0, 0, 1920, 1080, true}, {1920, 0, 1280, 1024, false}}),
         "primary", R{0, 0, 3200, 1080}, {{ViewportAt(448, 156, 1), 1}}},
        {"bad Monitors text is all", Monitors({{0, 0, 1024, 768, false}, {1024, 0, 1024, 768, true}}), "some",
         R{0, 0, 2048, 768}, {{ViewportAt(1024, 0, 1), 1}, {ViewportAt(0, 0, 1), 1}}},
        {"a screen holding both monitors is no monitor of its own, mirrored ones show once",
         Monitors({{0, 0, 2560, 1024, false}, {0, 0, 1280, 1024, false}, {1280, 0, 1280, 1024, true},
                   {1280, 0, 1280, 1024, false}}),
         "all", R{0, 0, 2560, 1024}, {{ViewportAt(1280 + 128, 128, 1), 1}, {ViewportAt(128, 128, 1), 1}}},
    };
    for (const auto& c : cases) {
        SaverRun r(100000, c.monitors[0].rect.Width(), c.monitors[0].rect.Height());
        r.p.monitors = c.monitors;
        r.p.keys.SetString("Software\\Orvandel\\ScreenSaverSample", "Monitors", c.setting);
        r.Run(1000);
        const WindowParams& wp = r.p.created.at(0).params;
        EXPECT_EQ((Rect{wp.x, wp.y, wp.x + wp.width, wp.y + wp.height}), c.window) << c.what;
        const auto& got = r.form->Viewports();
        ASSERT_EQ(got.size(), c.want.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].rect, c.want[i].rect) << c.what << " #" << i;
            EXPECT_EQ(got[i].scale, c.want[i].scale) << c.what << " #" << i;
        }
        // The last paint put the same frame into every viewport, enlarged
        // where the monitor is big, and left the rest of the window black.
        const uint64_t steps = static_cast<uint64_t>(r.form->Anim().GetMotion().moveCounter);
        const Bitmap1 frame = ExpectedFrame(static_cast<int>(steps), true);
        const WindowHandle win = r.p.LastWindow();
        for (const Viewport& v : got) {
            const Rect shown = Intersect(v.rect, Rect{0, 0, wp.width, wp.height});
            const auto put = std::find_if(r.p.frames.rbegin(), r.p.frames.rend(), [&](const PutFrame& f) {
                return f.x == shown.left && f.y == shown.top;
            });
            ASSERT_NE(put, r.p.frames.rend()) << c.what;
            Bitmap1 want;
            moire::ScaleUp(frame, (shown.left - v.rect.left) / v.scale, (shown.top - v.rect.top) / v.scale,
                           shown.Width() / v.scale, shown.Height() / v.scale, v.scale, want);
            EXPECT_TRUE(put->pixels == want) << c.what << " at " << v.rect.left;
        }
        for (const Rect& black : Subtract(Rect{0, 0, wp.width, wp.height}, [&] {
                 std::vector<Rect> views;
                 for (const Viewport& v : got) views.push_back(v.rect);
                 return views;
             }())) {
            EXPECT_EQ(r.p.ScreenPixel(win, black.left, black.top), 0) << c.what;
            EXPECT_EQ(r.p.ScreenPixel(win, black.right - 1, black.bottom - 1), 0) << c.what;
        }
    }
}

TEST(Viewports, MonitorsThatChangeWhileItRuns) {
    // (monitors at the start, monitors after 2 s, the black window after,
    // the viewports after): the layout is made again the way it was made at
    // the start, and every viewport shows the frame of the moment.
    using R = Rect;
    const auto one = Monitors({{0, 0, 1920, 1080, true}});
    const struct {
        const char* what;
        std::vector<Monitor> before, after;
        Rect window;
        std::vector<Viewport> want;
    } cases[] = {
        {"a monitor docked on the right", one, Monitors({{0, 0, 1920, 1080, true}, {1920, 0, 1280, 1024, false}}),
         R{0, 0, 3200, 1080}, {{ViewportAt(448, 156, 1), 1}, {ViewportAt(1920 + 128, 128, 1), 1}}},
        {"a monitor docked on the left", one, Monitors({{-1280, 0, 1280, 1024, false}, {0, 0, 1920, 1080, true}}),
         R{-1280, 0, 1920, 1080}, {{ViewportAt(1280 + 448, 156, 1), 1}, {ViewportAt(128, 128, 1), 1}}},
        {"the second monitor unplugged", Monitors({{0, 0, 1920, 1080, true}, {1920, 0, 1280, 1024, false}}), one,
         R{0, 0, 1920, 1080}, {{ViewportAt(448, 156, 1), 1}}},
        {"rotated a quarter turn", one, Monitors({{0, 0, 1080, 1920, true}}), R{0, 0, 1080, 1920},
         {{ViewportAt(28, 576, 1), 1}}},
        {"a new mode, 4K: enlarged", one, Monitors({{0, 0, 3840, 2160, true}}), R{0, 0, 3840, 2160},
         {{ViewportAt(896, 312, 2), 2}}},
    };
    for (const auto& c : cases) {
        SaverRun r(100000, c.before[0].rect.Width(), c.before[0].rect.Height());
        r.p.monitors = c.before;
        r.p.Schedule(2000, Event::MonitorsChange(c.after));
        r.Run(2100);
        ASSERT_FALSE(r.Ended()) << c.what;
        ASSERT_EQ(r.p.placements.size(), 1u) << c.what;
        EXPECT_EQ(r.p.placements.back(), c.window) << c.what;
        const auto& got = r.form->Viewports();
        ASSERT_EQ(got.size(), c.want.size()) << c.what;
        const Bitmap1 frame = ExpectedFrame(static_cast<int>(r.form->Anim().GetMotion().moveCounter), true);
        const WindowHandle win = r.p.LastWindow();
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].rect, c.want[i].rect) << c.what << " #" << i;
            EXPECT_EQ(got[i].scale, c.want[i].scale) << c.what << " #" << i;
            // The window's pixels there are the frame now showing.
            const Rect shown = Intersect(got[i].rect, Rect{0, 0, c.window.Width(), c.window.Height()});
            for (const auto& [x, y] : {std::pair{shown.left, shown.top}, std::pair{shown.right - 1, shown.bottom - 1},
                                       std::pair{(shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2}}) {
                const int fx = (x - got[i].rect.left) / got[i].scale, fy = (y - got[i].rect.top) / got[i].scale;
                EXPECT_EQ(r.p.ScreenPixel(win, x, y), frame.Get(fx, fy) ? 0 : 255) << c.what << " #" << i << " at " << x;
            }
        }
        // The pointer's rules follow: the new picture is the picture.
        EXPECT_EQ(r.p.CrossCursorRects(win).size(), got.size()) << c.what;
    }
    // A preview never moves, and a daemon's window follows its own size.
    HeadlessPlatform p(100000, 1920, 1080);
    Application app(p);
    const WindowHandle host = p.AddForeignWindow(Rect{0, 0, 152, 112});
    p.Schedule(100, Event::MonitorsChange(Monitors({{0, 0, 3840, 2160, true}})));
    TForm1 preview(p, app, host, false);
    p.StopAfter(500);
    app.Run(nullptr);
    EXPECT_TRUE(p.placements.empty());
}

TEST(InputRules, EveryViewportIsThePicture) {
    // Two monitors, the primary left: the picture on the right one counts as
    // the picture, the black between the viewports as the window.
    auto make = [] {
        auto r = std::make_unique<SaverRun>(100000, 1920, 1080);
        r->p.monitors = Monitors({{0, 0, 1920, 1080, true}, {1920, 0, 1280, 1024, false}});
        r->Create();
        return r;
    };
    const int rightX = 1920 + 128 + 300, rightY = 400, blackX = 1920 + 20, blackY = 20;
    // (moves over the right monitor's picture, then moves on black, ends?)
    const struct { int overRight, overBlack; bool ends; } moves[] = {
        {10, 0, false}, {11, 0, true}, {0, 8, false}, {0, 9, true}, {5, 4, true},
    };
    for (const auto& c : moves) {
        auto r = make();
        uint32_t t = 100;
        for (int i = 0; i < c.overRight; ++i) r->p.Schedule(t += 10, Event::MouseMove(rightX + i, rightY));
        for (int i = 0; i < c.overBlack; ++i) r->p.Schedule(t += 10, Event::MouseMove(blackX + i, blackY));
        r->Run(2000);
        EXPECT_EQ(r->Ended(), c.ends) << c.overRight << " over the right picture, " << c.overBlack << " on black";
    }
    auto click = make();
    click->p.Schedule(100, Event::MouseDown(blackX, blackY));
    click->p.Schedule(200, Event::MouseDown(rightX, rightY, MouseButton::Right));
    click->Run(2000);
    EXPECT_TRUE(click->Ended());
    EXPECT_EQ(click->p.Elapsed(), 200u);
    // The cross-hair over both pictures.
    EXPECT_EQ(click->p.CrossCursorRects(click->p.LastWindow()),
              (std::vector<Rect>{ViewportAt(448, 156, 1), ViewportAt(1920 + 128, 128, 1)}));
}

TEST(SaverRun, FramesAtTwentyFivePerSecondWithoutPolling) {
    SaverRun r;
    r.Run(10000);
    ASSERT_TRUE(r.p.stoppedByLimit);
    const auto& frames = r.p.frames;
    EXPECT_NEAR(static_cast<double>(frames.size()), 251.0, 1.0);  // the first frame, then one per 40 ms
    EXPECT_LE(r.app.IdlePasses(), 3 * frames.size());
    // The first frame is step 0; its start tick is still 0, so no card.
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].x, 128);
    EXPECT_TRUE(frames[0].pixels == ExpectedFrame(0, false));
    // The first idle pass is due at once (no frame has been paced yet), then
    // one every 40 ms.
    for (size_t i = 2; i < frames.size(); ++i) EXPECT_EQ(frames[i].tick - frames[i - 1].tick, 40u) << i;
    // The card shows before 4500 ms after the start tick and not from then on.
    const uint32_t start = r.form->Anim().StartTick();
    for (size_t i : {size_t{1}, size_t{50}, size_t{113}, size_t{114}, size_t{200}}) {
        const bool card = frames[i].tick - start < 4500;
        EXPECT_TRUE(frames[i].pixels == ExpectedFrame(static_cast<int>(i), card)) << i;
    }
    EXPECT_EQ(frames[113].tick - start, 4480u);
    EXPECT_EQ(frames[114].tick - start, 4520u);
}

TEST(SaverRun, TickWrapNeitherStallsNorJumps) {
    SaverRun r(0xFFFFFFFFu - 3000);
    r.Run(8000);
    const auto& frames = r.p.frames;
    EXPECT_NEAR(static_cast<double>(frames.size()), 201.0, 1.0);
    for (size_t i = 2; i < frames.size(); ++i) ASSERT_EQ(frames[i].tick - frames[i - 1].tick, 40u) << i;
    // Each frame is the next step: compare a few around the wrap.
    for (size_t i : {size_t{74}, size_t{75}, size_t{76}, size_t{150}})
        EXPECT_TRUE(frames[i].pixels == ExpectedFrame(static_cast<int>(i), frames[i].tick - r.form->Anim().StartTick() < 4500)) << i;
}

// The loop sleeps until the tick the next pass is due at: every timed wait
// asks for the last frame's tick + 40, one that no message cuts short ends on
// that very tick, and the frame is drawn on it. Messages that wake the loop
// early do not move the frames off their grid, across the tick count's wrap too.
TEST(SaverRun, WaitsEndOnTheDueTick) {
    SaverRun r(0xFFFFFFFFu - 1000);
    r.Create();
    for (uint32_t t = 7; t < 3000; t += 13) r.p.Schedule(t, Event::Run([] {}));
    r.Run(3000);
    const auto& frames = r.p.frames;
    ASSERT_GT(frames.size(), 70u);
    std::set<uint32_t> frameTicks;
    for (const auto& f : frames) frameTicks.insert(f.tick);
    int full = 0, cut = 0;
    for (const auto& w : r.p.timedWaits) {
        if (!TickReached(frames.back().tick, w.due)) continue;  // the run ended first
        EXPECT_EQ(frameTicks.count(w.due - 40), 1u) << w.due;
        EXPECT_EQ(frameTicks.count(w.due), 1u) << w.due;
        if (w.endedAt == w.due) {
            ++full;
        } else {
            EXPECT_FALSE(TickReached(w.endedAt, w.due)) << w.due;
            ++cut;
        }
    }
    EXPECT_GT(full, 0);
    EXPECT_GT(cut, 0);
}

// With every monitor off the pacer sleeps: no frame and no timed wait. When
// one is on again, each frame is the one an uninterrupted run shows at that
// tick: the sweep went on in the dark. Space pressed at that very moment
// holds that frame, drawn whole.
TEST(SaverRun, UnseenItSleepsAndSeenAgainShowsTheClocksFrame) {
    SaverRun ref;
    ref.Run(9000);
    auto shownAt = [&](uint32_t tick) {
        const PutFrame* shown = nullptr;
        for (const auto& g : ref.p.frames)
            if (TickReached(tick, g.tick)) shown = &g;
        return shown;
    };
    for (const bool space : {false, true}) {
        SaverRun r;
        r.Create();
        r.p.Schedule(2000, Event::Run([&] { r.form->OnSeenChanged(false); }));
        r.p.Schedule(3000, Event::Run([&] { r.form->OnSeenChanged(false); }));  // said twice: still asleep
        r.p.Schedule(7013, Event::Run([&] { r.form->OnSeenChanged(true); }));
        if (space) r.p.Schedule(7013, Event::KeyDown(vk::kSpace));
        r.Run(9000);
        size_t after = 0;
        for (const auto& f : r.p.frames) {
            const uint32_t t = f.tick - 100000;
            ASSERT_FALSE(t > 2000 && t < 7013) << t;
            if (t < 7013) continue;
            ++after;
            ASSERT_NE(shownAt(f.tick), nullptr);
            EXPECT_TRUE(f.pixels == shownAt(f.tick)->pixels) << t << (space ? ", Space held" : "");
        }
        EXPECT_EQ(after, space ? 1u : 50u);
        for (const auto& w : r.p.timedWaits) EXPECT_FALSE(w.due - 100000 > 2040 && w.due - 100000 < 7013) << w.due;
        if (!space) EXPECT_EQ(r.form->Anim().GetMotion().moveCounter, ref.form->Anim().GetMotion().moveCounter);
    }
}

TEST(InputRules, MouseMoveCounter) {
    // (moves outside the viewport, then moves over the picture, ends?)
    const struct { int outside, inside; bool ends; } cases[] = {
        {8, 0, false}, {9, 0, true}, {0, 10, false}, {0, 11, true}, {6, 4, false}, {6, 5, true},
    };
    for (const auto& c : cases) {
        SaverRun r;
        r.Create();
        uint32_t t = 100;
        for (int i = 0; i < c.outside; ++i) r.p.Schedule(t += 10, Event::MouseMove(r.OutX(), 5));
        for (int i = 0; i < c.inside; ++i) r.p.Schedule(t += 10, Event::MouseMove(r.InX(), r.InY()));
        r.Run(2000);
        EXPECT_EQ(r.Ended(), c.ends) << c.outside << " outside, " << c.inside << " inside";
    }
    // Nine over the picture, then one outside: 10 > 8 closes.
    SaverRun r;
    r.Create();
    for (int i = 0; i < 9; ++i) r.p.Schedule(100 + i, Event::MouseMove(r.InX(), r.InY()));
    r.p.Schedule(200, Event::MouseMove(r.OutX(), 5));
    r.Run(2000);
    EXPECT_TRUE(r.Ended());
    EXPECT_EQ(r.p.Elapsed(), 200u);
}

TEST(InputRules, CounterStaysPositiveAtItsLimit) {
    SaverRun r;
    r.Create();
    r.form->SetMouseMoveCounter(2147483646);
    r.p.platformId = PlatformFamily::Windows95;
    r.form->Image1MouseMove(0, 0, 0);  // 2147483647 becomes 100, which closes
    EXPECT_EQ(r.form->MouseMoveCounter(), 100);
    EXPECT_TRUE(r.form->Closed());
}

TEST(InputRules, Keys) {
    const struct { uint16_t key; uint32_t shift; bool ends; } cases[] = {
        {vk::kEscape, 0, true}, {vk::kEscape, kShift, true}, {vk::kReturn, 0, false},
        {'A', 0, false},        {37, 0, false},             {112, 0, false}, {123, 0, false},
    };
    for (const auto& c : cases) {
        SaverRun r;
        r.p.Schedule(500, Event::KeyDown(c.key, c.shift));
        r.Run(1000);
        EXPECT_EQ(r.Ended(), c.ends) << c.key;
    }
}

TEST(InputRules, ButtonPressOverThePictureClosesAndOnTheBorderDoesNot) {
    for (const auto button : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
        SaverRun r;
        r.Create();
        r.p.Schedule(100, Event::MouseDown(r.InX(), r.InY(), button));
        r.Run(1000);
        EXPECT_TRUE(r.Ended());
    }
    // Presses on the border, a double click among them, do nothing.
    SaverRun r;
    r.Create();
    for (uint32_t t : {100, 110, 300, 700})
        r.p.Schedule(t, Event::MouseDown(r.OutX(), 5, t == 300 ? MouseButton::Right : MouseButton::Left));
    r.Run(1000);
    EXPECT_FALSE(r.Ended());
}

TEST(InputRules, SpaceHeldFreezesAndReleaseResumesWithoutAJump) {
    SaverRun r;
    r.Create();
    r.p.Schedule(1000, Event::KeyDown(vk::kSpace));
    for (int t = 1500; t < 4000; t += 33) r.p.Schedule(t, Event::KeyDown(vk::kSpace));  // auto-repeat
    r.p.Schedule(4000, Event::KeyUp(vk::kSpace));
    r.Run(5000);
    const auto& frames = r.p.frames;
    // No frame is composed while Space is held.
    size_t before = 0, after = 0;
    for (const auto& f : frames) {
        const uint32_t t = f.tick - 100000;
        EXPECT_FALSE(t > 1000 && t < 4000) << t;
        (t <= 1000 ? before : after)++;
    }
    ASSERT_GT(after, 0u);
    // The first frame after the release is the step after the last one shown.
    EXPECT_TRUE(frames[before].pixels == ExpectedFrame(static_cast<int>(before), true));
    EXPECT_EQ(r.form->Anim().GetMotion().moveCounter, static_cast<int>(frames.size()) - 1);
    // A release with no press only starts what already runs.
    r.form->FormKeyUp(vk::kSpace, 0);
    EXPECT_TRUE(r.form->Anim().Animating());
}

TEST(SaverClose, ScreenSaveCommandIsSwallowed) {
    SaverRun r;
    r.p.Schedule(100, Event::SysCommand(kScScreenSave));
    r.p.Schedule(200, Event::SysCommand(0xF141));  // not masked: not ours
    r.p.Schedule(300, Event::SysCommand(0xF060));
    r.Run(1000);
    EXPECT_FALSE(r.Ended());
    EXPECT_EQ(r.p.sysCommandResults, (std::vector<bool>{true, false, false}));
}

TEST(SaverClose, RunningFlagOnTheWindows95FamilyAndTwoClosesAreHarmless) {
    for (PlatformFamily id : {PlatformFamily::Windows95, PlatformFamily::WindowsNT, PlatformFamily::X11}) {
        SaverRun r;
        r.p.platformId = id;
        r.Create();
        r.p.Schedule(100, Event::Run([&] {
            r.form->Close();
            r.form->Close();
        }));
        r.Run(1000);
        EXPECT_TRUE(r.Ended());
        EXPECT_TRUE(r.form->Closed());
        EXPECT_FALSE(r.app.HasIdleHandler());
        if (id == PlatformFamily::Windows95)
            EXPECT_EQ(r.p.screenSaverRunningCalls, (std::vector<bool>{true, false, false}));
        else
            EXPECT_TRUE(r.p.screenSaverRunningCalls.empty());
        // The cursor is not shown again on the way out.
        EXPECT_EQ(r.p.cursorCount, -1);
    }
}

TEST(SaverClose, FailedVersionQueryEndsBeforeTheWindowShows) {
    SaverRun r;
    r.p.platformId = std::nullopt;
    r.Run(1000);
    EXPECT_TRUE(r.Ended());
    EXPECT_TRUE(r.form->Closed());
    EXPECT_FALSE(r.form->Activated());
    EXPECT_TRUE(r.p.created.empty());
    EXPECT_TRUE(r.p.frames.empty());
    EXPECT_FALSE(r.app.HasIdleHandler());
}

TEST(SaverSetup, SettingsKeyCreatedAndSpeedSettingIgnored) {
    SaverRun r;
    r.p.keys.SetString("Software\\Orvandel\\ScreenSaverSample", "SleepTime", "250");
    r.p.keys.SetString("Software\\Orvandel\\ScreenSaverSample", "DispStr", "hello");
    r.Run(2000);
    EXPECT_EQ(r.form->DisplayString(), "hello");
    EXPECT_EQ(r.form->Anim().FrameInterval(), 40);
    EXPECT_EQ(r.p.frames[2].tick - r.p.frames[1].tick, 40u);

    SaverRun clean;
    clean.Create();
    EXPECT_TRUE(clean.p.keys.Has("Software\\Orvandel"));
    EXPECT_EQ(clean.form->DisplayString(), "Screen Saver Sample");
}

TEST(SaverSetup, ActivationRunsOnce) {
    SaverRun r;
    r.Run(500);
    const uint32_t start = r.form->Anim().StartTick();
    const int steps = r.form->Anim().GetMotion().moveCounter;
    r.form->FormActivate();
    EXPECT_EQ(r.form->Anim().StartTick(), start);
    EXPECT_EQ(r.form->Anim().GetMotion().moveCounter, steps);
    EXPECT_EQ(r.p.appWindowHides, 1);
}

// --- the host password check --------------------------------------------

struct Verify {
    static inline int calls = 0;
    static inline int32_t answer = 0;
    static inline void* window = nullptr;
    static int32_t QUELLORA_STDCALL Fn(void* w) {
        ++calls;
        window = w;
        return answer;
    }
};

TEST(PasswordCheck, Situations) {
    enum Flag { None, Zero, One, Text };
    constexpr auto W95 = PlatformFamily::Windows95, NT = PlatformFamily::WindowsNT, X11 = PlatformFamily::X11,
                   Unknown = PlatformFamily::Unknown;
    const struct {
        const char* what;
        PlatformFamily platformId;
        bool keyExists;
        Flag flag;
        const char* sysDir;
        bool library, entry;
        int32_t answer;
        bool canClose, cursorShown;
        const char* path;  // library asked for, or nullptr when none
    } cases[] = {
        {"X11", X11, true, One, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"Wayland", PlatformFamily::Wayland, true, One, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"NT family", NT, true, One, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"no desktop key", W95, false, None, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"no flag", W95, true, None, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"flag 0", W95, true, Zero, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"flag as text", W95, true, Text, "C:\\WINDOWS\\SYSTEM", true, true, 0, true, false, nullptr},
        {"refused", W95, true, One, "C:\\WINDOWS\\SYSTEM", true, true, 0, false, true, "C:\\WINDOWS\\SYSTEM\\PASSWORD.CPL"},
        {"refused, high bits", W95, true, One, "C:\\WINDOWS\\SYSTEM", true, true, 0x100, false, true, "C:\\WINDOWS\\SYSTEM\\PASSWORD.CPL"},
        {"verified", W95, true, One, "C:\\", true, true, 1, true, true, "C:\\PASSWORD.CPL"},
        {"no system dir", Unknown, true, One, "", true, true, 1, true, true, "PASSWORD.CPL"},
        {"library missing", W95, true, One, "C:\\WINDOWS\\SYSTEM", false, false, 0, true, true, "C:\\WINDOWS\\SYSTEM\\PASSWORD.CPL"},
        {"entry missing", W95, true, One, "C:\\WINDOWS\\SYSTEM", true, false, 0, true, true, "C:\\WINDOWS\\SYSTEM\\PASSWORD.CPL"},
    };
    for (const auto& c : cases) {
        SaverRun r;
        r.p.platformId = c.platformId;
        r.p.systemDirectory = c.sysDir;
        if (c.keyExists) r.p.keys.CreateKey("Control Panel\\desktop");
        if (c.flag == Zero) r.p.keys.SetDword("Control Panel\\desktop", "ScreenSaveUsePassword", 0);
        if (c.flag == One) r.p.keys.SetDword("Control Panel\\desktop", "ScreenSaveUsePassword", 1);
        if (c.flag == Text) r.p.keys.SetString("Control Panel\\desktop", "ScreenSaveUsePassword", "1");
        if (c.library) {
            auto& lib = r.p.libraries[std::string(c.sysDir) + (std::string(c.sysDir).empty() || std::string(c.sysDir).back() == '\\' ? "" : "\\") + "PASSWORD.CPL"];
            if (c.entry) lib["VerifyScreenSavePwd"] = reinterpret_cast<void*>(&Verify::Fn);
        }
        Verify::calls = 0;
        Verify::answer = c.answer;
        r.Create();
        const int cursorBefore = r.p.cursorCount;
        bool canClose = !c.canClose;
        r.form->FormCloseQuery(canClose);
        EXPECT_EQ(canClose, c.canClose) << c.what;
        EXPECT_EQ(r.p.cursorCount - cursorBefore, c.cursorShown ? 1 : 0) << c.what;
        if (c.path) {
            EXPECT_EQ(r.p.libraryLoads, (std::vector<std::string>{c.path})) << c.what;
            EXPECT_EQ(r.p.libraryUnloads, c.library ? 1 : 0) << c.what;
            EXPECT_EQ(Verify::calls, c.library && c.entry ? 1 : 0) << c.what;
        } else {
            EXPECT_TRUE(r.p.libraryLoads.empty()) << c.what;
        }
        if (Verify::calls) {
            EXPECT_EQ(Verify::window, reinterpret_cast<void*>(r.form->GetWindow()->Handle()));
        }
    }
}

TEST(PasswordCheck, RefusedCloseKeepsTheSaverRunningUntilVerified) {
    SaverRun r;
    r.p.platformId = PlatformFamily::Windows95;
    r.p.keys.SetDword("Control Panel\\desktop", "ScreenSaveUsePassword", 1);
    r.p.libraries["C:\\WINDOWS\\SYSTEM32\\PASSWORD.CPL"]["VerifyScreenSavePwd"] = reinterpret_cast<void*>(&Verify::Fn);
    Verify::calls = 0;
    Verify::answer = 0;
    r.Create();
    r.p.Schedule(1000, Event::KeyDown(vk::kEscape));
    r.p.Schedule(2000, Event::Run([] { Verify::answer = 1; }));
    r.p.Schedule(3000, Event::KeyDown(vk::kEscape));
    r.Run(10000);
    EXPECT_TRUE(r.Ended());
    EXPECT_EQ(r.p.Elapsed(), 3000u);
    EXPECT_EQ(Verify::calls, 2);
    EXPECT_EQ(r.p.cursorCount, 1);  // hidden once, shown at each ask
    // The animation went on between the refusal and the close.
    EXPECT_GT(r.p.frames.back().tick - 100000, 2900u);
}

TEST(PasswordCheck, PreviewNeverAsks) {
    HeadlessPlatform p(1000);
    p.platformId = PlatformFamily::Windows95;
    p.keys.SetDword("Control Panel\\desktop", "ScreenSaveUsePassword", 1);
    const WindowHandle host = p.AddForeignWindow({0, 0, 152, 112});
    Application app(p);
    TForm1 form(p, app, host, false);
    bool can = false;
    form.FormCloseQuery(can);
    EXPECT_TRUE(can);
    EXPECT_TRUE(p.libraryLoads.empty());
    EXPECT_EQ(form.PlatformIdField(), PlatformFamily::Unknown);
}

// --- preview ------------------------------------------------------------

TEST(Preview, SampleCentredInTheHostWindow) {
    // A big preview window is not enlarged for: the picture keeps its size.
    const struct { int w, h, x, y; } cases[] = {
        {152, 112, -29, -22}, {211, 156, 0, 0}, {300, 200, 45, 22}, {3840, 2160, 1815, 1002}};
    const GreyPicture& sample = SamplePicture();
    for (const auto& c : cases) {
        HeadlessPlatform p(1000);
        const WindowHandle host = p.AddForeignWindow({500, 400, 500 + c.w, 400 + c.h});
        Application app(p);
        TForm1 form(p, app, host, false);
        EXPECT_EQ(form.SampleX(), c.x);
        EXPECT_EQ(form.SampleY(), c.y);
        const WindowParams& wp = p.created.at(0).params;
        EXPECT_EQ(wp.parent, host);
        EXPECT_EQ(wp.style, 0x58000000u);
        EXPECT_EQ(wp.classStyle, 0x80u);
        EXPECT_EQ(wp.width, c.w);
        EXPECT_EQ(wp.height, c.h);
        // Drawn at creation, before any message.
        const WindowHandle win = p.LastWindow();
        const int sx = std::max(0, c.x), sy = std::max(0, c.y);
        EXPECT_EQ(p.ScreenPixel(win, sx, sy), sample.LevelAt(sx - c.x, sy - c.y)) << c.w;
        if (c.x > 0) {  // black around a smaller picture
            EXPECT_EQ(p.ScreenPixel(win, 0, 0), 0);
        }
    }
}

TEST(Preview, NoAnimationNoInputAndTheLoopEnds) {
    // (how the host ends the preview, when)
    enum How { CloseRequest, DestroyHost };
    for (How how : {CloseRequest, DestroyHost}) {
        HeadlessPlatform p(1000);
        const WindowHandle host = p.AddForeignWindow({0, 0, 152, 112});
        for (int t = 100; t < 900; t += 50) {
            p.Schedule(t, Event::MouseMove(10, 10));
            p.Schedule(t + 1, Event::KeyDown(vk::kEscape));
            p.Schedule(t + 2, Event::MouseDown(10, 10));
        }
        p.Schedule(1000, how == CloseRequest ? Event::CloseRequest() : Event::Destroy(host));
        p.StopAfter(60000);
        RunQuellora(p, {"/p", std::to_string(host)});
        EXPECT_FALSE(p.stoppedByLimit);
        EXPECT_EQ(p.Elapsed(), 1000u) << how;
        EXPECT_TRUE(p.frames.empty());
        EXPECT_EQ(p.cursorCount, 0);
        EXPECT_FALSE(p.WindowAlive(p.created.at(0).handle));
    }
}

TEST(Preview, WithoutAWindowReturnsAtOnceAndSaysWhy) {
    HeadlessPlatform probe(1000);
    const WindowHandle inputOnly = probe.AddForeignWindow({0, 0, 152, 112}, 0x5000, /*inputOnly=*/true);
    using K = RunError::Kind;
    const struct { const char* arg; std::optional<K> error; } cases[] = {
        {"", K::NoWindowId}, {"abc", K::NoWindowId}, {"0", K::NoWindowId}, {"99999", K::NoWindow},
        {"20480", K::NoPixels},  // 0x5000, an input-only window
    };
    for (const auto& c : cases) {
        HeadlessPlatform p(1000);
        p.AddForeignWindow({0, 0, 152, 112}, inputOnly, /*inputOnly=*/true);
        p.StopAfter(60000);
        const auto error = RunQuellora(p, {"/p", c.arg});
        EXPECT_FALSE(p.stoppedByLimit) << c.arg;
        EXPECT_EQ(p.Elapsed(), 0u) << c.arg;
        EXPECT_TRUE(p.created.empty()) << c.arg;
        ASSERT_TRUE(error.has_value()) << c.arg;
        EXPECT_EQ(error->kind, *c.error) << c.arg;
        if (error->kind == K::NoWindowId) {
            EXPECT_EQ(error->argument, c.arg);
        }
    }
}

// --- the animation in a daemon's window -----------------------------------

TEST(Hosted, ViewportCentredInTheHostWindowCroppedOrFramed) {
    // host size -> where the viewport's corner lands in it
    const struct { int w, h, x, y; } cases[] = {
        {640, 480, -192, -144}, {1024, 768, 0, 0}, {1280, 1024, 128, 128}, {1, 1, -512, -384}, {1025, 769, 0, 0},
        {1027, 771, 2, 2},
    };
    for (const auto& c : cases) {
        HeadlessPlatform p(1000);
        const WindowHandle host = p.AddForeignWindow({100, 50, 100 + c.w, 50 + c.h});
        p.StopAfter(200);
        EXPECT_FALSE(RunHosted(p, host).has_value());
        ASSERT_FALSE(p.frames.empty()) << c.w;
        const PutFrame& f = p.frames.back();
        // The frame fills the part of the viewport inside the window.
        EXPECT_EQ(f.x, std::max(0, c.x)) << c.w;
        EXPECT_EQ(f.y, std::max(0, c.y)) << c.w;
        EXPECT_EQ(f.pixels.Width(), std::min(c.w, c.x + 1024) - std::max(0, c.x)) << c.w;
        EXPECT_EQ(f.pixels.Height(), std::min(c.h, c.y + 768) - std::max(0, c.y)) << c.w;
        // No input, no cursor change, and black around a smaller viewport.
        EXPECT_EQ(p.cursorCount, 0);
        EXPECT_FALSE(p.created.at(0).params.takesInput);
        if (c.x > 0) {
            EXPECT_EQ(p.ScreenPixel(p.LastWindow(), 0, 0), 0);
        }
    }
}

TEST(Hosted, EnlargedForABigWindowUnlessTheCommandLineSaysOtherwise) {
    // (host size, the command line's scale, the Scale setting) -> scale and corner
    const struct { int w, h; std::optional<int> option; const char* setting; int n, x, y; } cases[] = {
        {3840, 2160, std::nullopt, nullptr, 2, 896, 312},
        {3840, 2160, 1, nullptr, 1, 1408, 696},
        {3840, 2160, kAutoScale, "1", 2, 896, 312},  // the command line wins over the setting
        {3840, 2160, std::nullopt, "3", 3, 384, -72},
        {1280, 1024, std::nullopt, nullptr, 1, 128, 128},
        {1, 1, std::nullopt, nullptr, 1, -512, -384},
    };
    for (const auto& c : cases) {
        HeadlessPlatform p(1000);
        if (c.setting) p.keys.SetString("Software\\Orvandel\\ScreenSaverSample", "Scale", c.setting);
        const WindowHandle host = p.AddForeignWindow({0, 0, c.w, c.h});
        p.StopAfter(200);
        SaverOptions options;
        options.scale = c.option;
        EXPECT_FALSE(RunHosted(p, host, options).has_value());
        ASSERT_FALSE(p.frames.empty());
        const PutFrame& f = p.frames.back();
        EXPECT_EQ(f.x, std::max(0, c.x)) << c.w << " n" << c.n;
        EXPECT_EQ(f.y, std::max(0, c.y)) << c.w << " n" << c.n;
        EXPECT_EQ(f.pixels.Width(), std::min(c.w, c.x + 1024 * c.n) - std::max(0, c.x)) << c.w << " n" << c.n;
    }
}

TEST(Hosted, FrameRateReadoutOnlyWhenAskedAndWithoutSlowingTheFrames) {
    for (const bool fps : {false, true}) {
        HeadlessPlatform p(1000);
        p.frameLogAsked = true;
        const WindowHandle host = p.AddForeignWindow({0, 0, 1280, 1024});
        p.StopAfter(3000);
        SaverOptions options;
        options.showFrameRate = fps;
        EXPECT_FALSE(RunHosted(p, host, options).has_value());
        // 25 frames a second either way, every one counted in the log.
        size_t pictures = 0;
        for (const PutFrame& f : p.frames) pictures += f.x == 128 && f.y == 128;
        EXPECT_NEAR(static_cast<double>(pictures), 76.0, 1.0) << fps;
        ASSERT_FALSE(p.frameLogLines.empty());
        EXPECT_EQ(p.frameLogLines.back().substr(0, 20), FrameLog::Line(pictures, 0).substr(0, 20)) << fps;
        // The readout, white on black, in the bottom-left corner; black there without it.
        const Bitmap1 readout = moire::RenderReadout("FPS: 25.0", 2);
        const WindowHandle win = p.LastWindow();
        int differ = 0, white = 0;
        for (int y = 0; y < readout.Height(); ++y)
            for (int x = 0; x < readout.Width(); ++x) {
                const int got = p.ScreenPixel(win, 8 + x, 1024 - 8 - readout.Height() + y);
                white += got == 255;
                differ += fps && got != (readout.Get(x, y) ? 0 : 255);
            }
        EXPECT_EQ(differ, 0) << "the readout is not FPS: 25.0";
        EXPECT_EQ(white > 0, fps);
    }
}

TEST(Hosted, FollowsTheHostWindowAndEndsWithIt) {
    HeadlessPlatform p(1000);
    const WindowHandle host = p.AddForeignWindow({0, 0, 640, 480});
    p.Schedule(500, Event::Resize(host, 1280, 1024));
    p.Schedule(1000, Event::Destroy(host));
    p.StopAfter(60000);
    EXPECT_FALSE(RunHosted(p, host).has_value());
    EXPECT_FALSE(p.stoppedByLimit);  // the loop ended with the window
    EXPECT_EQ(p.Elapsed(), 1000u);
    // Before the resize the middle of the frame, after it the whole frame
    // re-centred, with the window repainted black around it.
    const PutFrame* before = nullptr;
    const PutFrame* after = nullptr;
    for (const auto& f : p.frames) (f.tick - 1000 < 500 ? before : after) = &f;
    ASSERT_TRUE(before && after);
    EXPECT_EQ(before->x, 0);
    EXPECT_EQ(before->pixels.Width(), 640);
    EXPECT_EQ(after->x, 128);
    EXPECT_EQ(after->y, 128);
    EXPECT_EQ(after->pixels.Width(), 1024);
    EXPECT_EQ(p.ScreenPixel(p.LastWindow(), 10, 10), 0);
    EXPECT_EQ(p.ScreenPixel(p.LastWindow(), 1270, 1000), 0);
}

TEST(Hosted, AWindowThatCantTakeThePictureIsAnError) {
    HeadlessPlatform p(1000);
    const WindowHandle inputOnly = p.AddForeignWindow({0, 0, 640, 480}, 0, /*inputOnly=*/true);
    p.StopAfter(60000);
    const auto none = RunHosted(p, 0x7777);
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->kind, RunError::Kind::NoWindow);
    EXPECT_EQ(none->window, 0x7777);
    const auto noPixels = RunHosted(p, inputOnly);
    ASSERT_TRUE(noPixels.has_value());
    EXPECT_EQ(noPixels->kind, RunError::Kind::NoPixels);
    EXPECT_TRUE(p.created.empty());
    EXPECT_EQ(p.Elapsed(), 0u);
}

}  // namespace
}  // namespace quellora
