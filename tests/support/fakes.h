#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/beeper.h"
#include "core/busmonitor.h"
#include "core/busport.h"
#include "core/monitorsession.h"
#include "core/reports.h"
#include "core/timetext.h"

namespace lwtest {

class FakePort final : public lw::BusInput {
public:
    bool open = false;
    std::deque<std::string> pending;

    bool portOpen() const override { return open; }
    std::string input() override {
        if (pending.empty()) return {};
        std::string s = std::move(pending.front());
        pending.pop_front();
        return s;
    }
};

using lw::CountingBeeper;

// Keeps every record in memory; can be told to fail.
class MemorySink final : public lw::LogSink {
public:
    struct Entry {
        std::string path;
        std::string record;
    };
    std::vector<Entry> entries;
    bool failing = false;

    lw::Result<> append(const std::string& path, std::string_view record) override {
        if (failing) return {false, "disk on fire"};
        entries.push_back({path, std::string(record)});
        return {};
    }
    std::string all() const {
        std::string s;
        for (const auto& e : entries) s += e.record;
        return s;
    }
};

// A monitor session wired to fakes, its port open, all log options on.
struct Rig {
    explicit Rig(std::string versionChoice = "HUBQV-2")
        : time(lw::CivilTime{2002, 3, 1, 22, 15, 7, 0}),
          version(std::move(versionChoice)),
          session(lw::SessionDeps{.port = port,
                                  .time = time,
                                  .beeper = beeper,
                                  .sink = sink,
                                  .logOptions = [this] { return options; },
                                  .versionChoice = [this] { return this->version; },
                                  .rawOut = [this](std::string_view s) { raw += s; },
                                  .onLogFailure =
                                      [this](const lw::LogFailure& f) {
                                          if (logFailure) logFailure(f);
                                      }}) {
        options.rawdata = options.busnoise = options.unitactivity = 1;
        options.logpath = "log.txt";
        session.load();
        port.open = true;
    }

    // One decoder tick that reads `input`.
    void tick(const std::string& input = {}) {
        port.pending.push_back(input);
        session.decoderTick();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    const lw::UnitSlot& slot(int n) const { return session.board().slot(n); }
    std::vector<std::string> records() const {
        std::vector<std::string> r;
        for (const auto& e : sink.entries) r.push_back(e.record);
        return r;
    }

    lw::ManualTime time;
    FakePort port;
    CountingBeeper beeper;
    MemorySink sink;
    lw::LogOptions options;
    std::string version;
    std::string raw;
    std::function<void(const lw::LogFailure&)> logFailure;
    lw::MonitorSession session;
};

}  // namespace lwtest
