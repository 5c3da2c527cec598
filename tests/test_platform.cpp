// The shared helpers below the core: text to integers (one set of rules for
// handles, settings and command lines), the recognition of double clicks and
// a window's waiting paint.
#include <gtest/gtest.h>

#include <vector>

#include "platform/dirty_region.h"
#include "platform/double_click.h"
#include "platform/frame_log.h"
#include "platform/text.h"

namespace quellora {
namespace {

TEST(Text, HandleArguments) {
    const struct { const char* text; intptr_t handle; } cases[] = {
        {"1234", 1234}, {"$4D2", 1234}, {"0x4D2", 1234}, {"0X4d2", 1234}, {"x4D2", 1234}, {"X4D2", 1234},
        {"  1234", 1234}, {"+1234", 1234}, {"-1", -1}, {"-$10", -16}, {"2147483647", 2147483647},
        // Hosts pass handles as unsigned decimal: the upper half is the signed twin.
        {"2147483648", -2147483647 - 1}, {"4294967295", -1}, {"$FFFFFFFF", -1},
        {"-2147483648", -2147483647 - 1},
        // Not a number, or more than 32 bits: no handle.
        {"abc", 0}, {"", 0}, {" ", 0}, {"12a", 0}, {"1234 ", 0}, {"$", 0}, {"0x", 0}, {"-", 0},
        {"4294967296", 0}, {"-2147483649", 0}, {"$100000000", 0}, {"99999999999999999999", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHandle(c.text), c.handle) << '"' << c.text << '"';
    // Settings keep the signed range for decimal text.
    EXPECT_EQ(ParseInt32("2147483648"), std::nullopt);
    EXPECT_EQ(ParseInt32("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInt32("250"), 250);
    EXPECT_EQ(ParseInt32("12a"), std::nullopt);
}

TEST(Text, WindowIds) {
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"0x400007", 0x400007}, {"0X1a", 0x1a},     {"4194311", 4194311}, {"0xFFFFFFFF", 0xFFFFFFFFu},
        {"4294967295", 4294967295u}, {"0", std::nullopt}, {"0x", std::nullopt}, {"", std::nullopt},
        {"12a", std::nullopt}, {"-5", std::nullopt}, {" 5", std::nullopt}, {"0x100000000", std::nullopt},
        {"4294967296", std::nullopt}, {"$1A", std::nullopt},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(ParseWindowId(text), want) << text;
}


TEST(Text, CountsAndLowerCase) {
    const std::pair<const char*, std::optional<uint64_t>> counts[] = {
        {"0", 0}, {"1144", 1144}, {"9999999999", 9999999999ull}, {"", std::nullopt}, {"-3", std::nullopt},
        {"12x", std::nullopt}, {"+1", std::nullopt}, {"00000000001", std::nullopt},
    };
    for (const auto& [text, want] : counts) EXPECT_EQ(ParseCount(text), want) << text;
    EXPECT_EQ(ToLowerAscii("Software\\ORVANDEL\\ScreenSaverSample \xC3\x89"), "software\\orvandel\\screensaversample \xC3\x89");
}

TEST(DoubleClicks, TimeAndPlaceLimits) {
    // Presses (button, x, y, time) -> which of them complete a double click,
    // with limits of 500 ms and a 4 x 4 rectangle around the first press.
    using B = MouseButton;
    struct Press {
        B button;
        int x, y;
        uint32_t time;
        bool doubleClick;
    };
    const struct {
        const char* what;
        std::vector<Press> presses;
    } cases[] = {
        {"two quick presses in place", {{B::Left, 10, 10, 1000, false}, {B::Left, 10, 10, 1200, true}}},
        {"at the time limit", {{B::Left, 10, 10, 1000, false}, {B::Left, 10, 10, 1500, true}}},
        {"past it", {{B::Left, 10, 10, 1000, false}, {B::Left, 10, 10, 1501, false}}},
        {"two pixels off each way", {{B::Left, 10, 10, 0, false}, {B::Left, 12, 8, 100, true}}},
        {"three pixels off", {{B::Left, 10, 10, 0, false}, {B::Left, 13, 10, 100, false}}},
        {"right button", {{B::Right, 10, 10, 0, false}, {B::Right, 10, 10, 100, false}}},
        {"another button between", {{B::Left, 1, 1, 0, false}, {B::Middle, 1, 1, 50, false}, {B::Left, 1, 1, 100, false}}},
        {"a third press starts afresh",
         {{B::Left, 5, 5, 0, false}, {B::Left, 5, 5, 100, true}, {B::Left, 5, 5, 200, false}, {B::Left, 5, 5, 300, true}}},
        {"the clock wraps between", {{B::Left, 0, 0, 0xFFFFFF00u, false}, {B::Left, 0, 0, 0x40, true}}},
    };
    for (const auto& c : cases) {
        DoubleClicks clicks({500, 4, 4});
        for (size_t i = 0; i < c.presses.size(); ++i) {
            const Press& p = c.presses[i];
            EXPECT_EQ(clicks.Press(p.button, p.x, p.y, p.time), p.doubleClick) << c.what << ", press " << i;
        }
    }
}

// The rules of a window's waiting paint, the same for every host: marks
// gather, clipped to the window; a paint done at once covers what it was
// asked for and clears what it covers whole; a hidden window paints nothing.
TEST(DirtyRegion, Rules) {
    const Rect client{0, 0, 100, 80};
    const Rect a{10, 10, 20, 20}, b{50, 40, 60, 50}, wide{-5, -5, 200, 30};
    struct Step {
        enum { Mark, MarkAll, Paint, PaintAll, Take } what;
        Rect r;
        Rect painted;  // what a paint or Take gave
        bool pending;  // visible, after the step
    };
    const struct Case {
        const char* what;
        std::vector<Step> steps;
    } cases[] = {
        {"marks gather into one rectangle",
         {{Step::Mark, a, {}, true}, {Step::Mark, b, {}, true}, {Step::Take, {}, Rect{10, 10, 60, 50}, false}}},
        {"a mark is clipped to the window", {{Step::Mark, wide, {}, true}, {Step::Take, {}, Rect{0, 0, 100, 30}, false}}},
        {"no rectangle: the whole window", {{Step::MarkAll, {}, {}, true}, {Step::Take, {}, client, false}}},
        {"a paint covers what it is asked for, the rest still waits",
         {{Step::Mark, Rect{0, 0, 100, 80}, {}, true}, {Step::Paint, a, a, true}, {Step::Take, {}, client, false}}},
        {"a paint that covers all that waits leaves nothing",
         {{Step::Mark, a, {}, true}, {Step::Paint, Rect{0, 0, 50, 50}, Rect{0, 0, 50, 50}, false}}},
        {"a paint of the whole window leaves nothing", {{Step::Mark, b, {}, true}, {Step::PaintAll, {}, client, false}}},
        {"a paint outside the window paints nothing", {{Step::Paint, Rect{200, 200, 300, 300}, {}, false}}},
    };
    for (const Case& c : cases) {
        DirtyRegion d;
        for (const Step& s : c.steps) {
            Rect got;
            switch (s.what) {
                case Step::Mark: d.Mark(&s.r, client); break;
                case Step::MarkAll: d.Mark(nullptr, client); break;
                case Step::Paint: got = d.PaintNow(&s.r, client); break;
                case Step::PaintAll: got = d.PaintNow(nullptr, client); break;
                case Step::Take: got = d.Take(); break;
            }
            EXPECT_EQ(got, s.painted) << c.what;
            EXPECT_EQ(d.Pending(true), s.pending) << c.what;
            EXPECT_FALSE(d.Pending(false)) << c.what << ": a hidden window paints nothing";
        }
    }
}

TEST(FrameLog, CountsRatesAndKeepsTheFileUpToDate) {
    struct Lines : LineFile {
        std::vector<std::string>* out;
        void Rewrite(const std::string& line) override { out->push_back(line); }
    };
    std::vector<std::string> lines;
    {
        auto file = std::make_unique<Lines>();
        file->out = &lines;
        FrameLog log(std::move(file));
        EXPECT_FALSE(log.Rate().has_value());
        // 25 frames a second from tick 4294966000, across the tick count's wrap.
        uint32_t tick = 4294966000u;
        for (int i = 0; i < 76; ++i, tick += 40) log.Count(tick);
        EXPECT_EQ(log.Frames(), 76u);
        ASSERT_TRUE(log.Rate().has_value());
        EXPECT_DOUBLE_EQ(*log.Rate(), 25.0);
    }
    // The first frame, then about once a second, and the last count at the end.
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines.front(), FrameLog::Line(1, 4294966000u));
    EXPECT_EQ(lines[1], FrameLog::Line(26, 4294967000u));
    EXPECT_EQ(lines[2], FrameLog::Line(51, 704));  // a second later, after the wrap
    EXPECT_EQ(lines.back(), FrameLog::Line(76, 1704));
    EXPECT_EQ(lines.back(), "                  76                 1704\n");
}

}  // namespace
}  // namespace quellora
