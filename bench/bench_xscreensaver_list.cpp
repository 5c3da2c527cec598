// The XScreenSaver programs list editor on lists of 1,000 to 45,000 lines
// (the last one about 990 KB, near the 1 MiB a file may have): add to a list
// of other hacks, remove what add wrote, and remove when every line or every
// third runs quellora (entries written by hand or by xscreensaver-settings). The
// time a line should stay about the same from the smallest list to the
// largest: each edit reads the text once.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/xscreensaver_list.h"

namespace {

using quellora::posix::AddQuellora;
using quellora::posix::ListEdit;
using quellora::posix::RemoveQuellora;

const std::string kDefaults = "*programs:\t\\\n\t\t\t\tmaze --root\t\\n\\\n\t\t\t\tqix --root\t\\n\n";

// `lines` entries of about 22 bytes; every `nth` one runs quellora (0: none).
std::string List(int64_t lines, int nth) {
    std::string text = "programs: \\\n";
    for (int64_t i = 0; i < lines; ++i)
        text += nth && i % nth == 0 ? "  quellora -root \\n\\\n" : "  h" + std::to_string(i % 100000) + " -root \\n\\\n";
    return text + "\n";
}

void BM_Add(benchmark::State& state) {
    const std::string text = List(state.range(0), 0);
    for (auto _ : state) benchmark::DoNotOptimize(AddQuellora(text, kDefaults, "quellora"));
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
    state.counters["KB"] = static_cast<double>(text.size()) / 1000;
}

void BM_RemoveWhatAddWrote(benchmark::State& state) {
    const std::string text = AddQuellora(List(state.range(0), 0), kDefaults, "quellora").text;
    for (auto _ : state) benchmark::DoNotOptimize(RemoveQuellora(text, kDefaults, "quellora"));
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
    state.counters["KB"] = static_cast<double>(text.size()) / 1000;
}

// Every state.range(1)-th line runs quellora.
void BM_RemoveOthersEntries(benchmark::State& state) {
    const std::string text = List(state.range(0), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        const ListEdit e = RemoveQuellora(text, kDefaults, "quellora");
        if (e.result != ListEdit::Result::Changed) state.SkipWithError("remove failed");
        benchmark::DoNotOptimize(e);
    }
    state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
    state.counters["KB"] = static_cast<double>(text.size()) / 1000;
}

}  // namespace

BENCHMARK(BM_Add)->Arg(1000)->Arg(10000)->Arg(45000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveWhatAddWrote)->Arg(1000)->Arg(10000)->Arg(45000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveOthersEntries)
    ->Args({800, 1})
    ->Args({800, 3})
    ->Args({10000, 3})
    ->Args({45000, 3})
    ->Args({45000, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
