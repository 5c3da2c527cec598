// Composing one frame: what ReDraw does, from the work bitmaps to the display
// image's picture, 64 pixels at a time, beside a naive pixel-at-a-time
// version of the same work. Prints both and their ratio.
#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <string>

#include "moire/animation.h"
#include "moire/assets.h"

namespace {

using quellora::Bitmap1;
using quellora::moire::Animation;

struct Setup {
    uint32_t now = 100000;  // past the title card's time
    Animation anim{[this] { return now; },
                   {&quellora::Img1Picture(), &quellora::Img2Picture(), &quellora::TitlePicture()}};
    Setup() {
        anim.InitState();
        anim.CreateBuffers();
        anim.BmpInit();
        for (int i = 0; i < 572; ++i) anim.AutoMove();  // mid-sweep: unaligned windows
    }
};

void BM_ReDraw(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.anim.ReDraw();
        benchmark::DoNotOptimize(s.anim.Image1().picture.Row(0));
    }
}
BENCHMARK(BM_ReDraw)->Unit(benchmark::kMicrosecond);

// The same frame, one pixel at a time.
void BM_ReDrawPixelByPixel(benchmark::State& state) {
    Setup s;
    const Bitmap1& a = s.anim.WorkA();
    const Bitmap1& b = s.anim.WorkB();
    const auto& m = s.anim.GetMotion();
    Bitmap1 compose(a.Width(), a.Height()), picture(a.Width(), a.Height());
    for (auto _ : state) {
        for (int y = 0; y < a.Height(); ++y)
            for (int x = 0; x < a.Width(); ++x) compose.Set(x, y, a.Get(x, y));
        for (int y = 0; y < 768; ++y)
            for (int x = 0; x < 1024; ++x)
                compose.Set(x - m.left, y, compose.Get(x - m.left, y) != b.Get(x - m.offX, y));
        for (int y = 0; y < a.Height(); ++y)
            for (int x = 0; x < a.Width(); ++x) picture.Set(x, y, compose.Get(x, y));
        benchmark::DoNotOptimize(picture.Row(0));
    }
}
BENCHMARK(BM_ReDrawPixelByPixel)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto fast = times_.find("BM_ReDraw"), slow = times_.find("BM_ReDrawPixelByPixel");
        if (fast != times_.end() && slow != times_.end() && fast->second > 0)
            std::cout << "frame: " << fast->second << " us (64 pixels at a time), " << slow->second
                      << " us (pixel at a time), ratio " << slow->second / fast->second << "x\n";
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
