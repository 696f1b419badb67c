// Costs of the monitor core: one decoder tick at line rate, a flood tick, and
// the replay of a dense hour. Run: build/bench/core_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "core/beeper.h"
#include "core/busport.h"
#include "core/monitorsession.h"
#include "core/timetext.h"
#include "tools/replay.h"

namespace {

class SamePort final : public lw::BusInput {
public:
    explicit SamePort(std::string s) : m_s(std::move(s)) {}
    bool portOpen() const override { return true; }
    std::string input() override { return m_s; }

private:
    std::string m_s;
};

class NoBeep final : public lw::Beeper {
public:
    void beep() override {}
};

class Discard final : public lw::LogSink {
public:
    lw::Result<> append(const std::string&, std::string_view r) override {
        benchmark::DoNotOptimize(r.data());
        return {};
    }
};

// What 800 ms of a busy 4800 baud bus carries: sixteen units' frames over and
// over, the master remote and a little noise.
std::string lineRateTick() {
    std::string s;
    const std::string codes = "quznlhUQZNLM";
    int k = 0;
    while (s.size() < 380) {
        for (int u = 0; u < 16 && s.size() < 380; ++u) {
            s += static_cast<char>('0' + u);
            s += "ijvwIJVWX"[k % 9];
            s += codes[static_cast<std::size_t>((u + k / 16) % static_cast<int>(codes.size()))];
            ++k;
        }
    }
    s += "T@x";
    s.resize(384, 's');
    return s;
}

std::string tempLog(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

void runTicks(benchmark::State& state, const std::string& input, lw::LogSink& sink,
              const std::string& path) {
    lw::ManualTime time({2002, 3, 1, 22, 15, 7, 0});
    SamePort port(input);
    NoBeep beeper;
    lw::LogOptions opt{1, 1, 1, path};
    lw::MonitorSession m(lw::SessionDeps{.port = port,
                                         .time = time,
                                         .beeper = beeper,
                                         .sink = sink,
                                         .logOptions = [&opt] { return opt; },
                                         .versionChoice = [] { return std::string("HUB7"); }});
    m.load();
    for (auto _ : state) {
        m.decoderTick();
        benchmark::DoNotOptimize(m.board().slots[0].status.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(input.size()));
    state.counters["records/tick"] =
        benchmark::Counter(static_cast<double>(m.recordsWritten()) /
                           static_cast<double>(std::max<std::int64_t>(1, state.iterations())));
}

void BM_Tick4800_NoFileWrites(benchmark::State& state) {
    Discard sink;
    runTicks(state, lineRateTick(), sink, "unused");
}

void BM_Tick4800_LogToFile(benchmark::State& state) {
    lw::FileLogSink sink;
    const auto path = tempLog("lw-bench-tick.log");
    runTicks(state, lineRateTick(), sink, path);
    std::filesystem::remove(path);
}

void BM_FloodTick1024Noise_NoFileWrites(benchmark::State& state) {
    Discard sink;
    runTicks(state, std::string(1024, '@'), sink, "unused");
}

void BM_FloodTick1024Noise_LogToFile(benchmark::State& state) {
    lw::FileLogSink sink;
    const auto path = tempLog("lw-bench-flood.log");
    runTicks(state, std::string(1024, '@'), sink, path);
    std::filesystem::remove(path);
}

// One hour at 4800 baud, every tick full: units start, run, fail and stop,
// the master remote talks, noise comes and goes.
lw::Capture denseHour() {
    lw::Capture cap;
    cap.start = {2002, 3, 1, 19, 0, 0, 0};
    std::mt19937 rng(42);
    const std::string cycle = "qquuuuuuuuuunnlzzhz";
    for (std::int64_t t = 0; t < 3600 * 1000; t += 800) {
        std::string s;
        const auto phase = static_cast<std::size_t>(t / 20000);
        while (s.size() < 380) {
            for (int u = 0; u < 16 && s.size() < 380; ++u) {
                s += static_cast<char>('0' + u);
                s += 'i';
                s += cycle[(phase + static_cast<std::size_t>(u)) % cycle.size()];
            }
        }
        if (rng() % 4 == 0) s += 'T';
        if (rng() % 10 == 0) s += '@';
        s.resize(384, 's');
        cap.chunks.push_back({t, s});
    }
    return cap;
}

void BM_ReplayDenseHour_AllOptionsToFile(benchmark::State& state) {
    const lw::Capture cap = denseHour();
    const auto path = tempLog("lw-bench-hour.log");
    lw::ReplayOptions opt;
    opt.logPath = path;
    opt.raw = opt.noise = opt.activity = true;
    std::uint64_t records = 0;
    for (auto _ : state) {
        std::filesystem::remove(path);
        lw::FileLogSink sink;
        records = lw::runReplay(cap, opt, sink, nullptr).recordsWritten;
    }
    state.counters["records"] = static_cast<double>(records);
    std::filesystem::remove(path);
}

BENCHMARK(BM_Tick4800_NoFileWrites);
BENCHMARK(BM_Tick4800_LogToFile);
BENCHMARK(BM_FloodTick1024Noise_NoFileWrites);
BENCHMARK(BM_FloodTick1024Noise_LogToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplayDenseHour_AllOptionsToFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
