#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/beeper.h"
#include "core/busmonitor.h"
#include "core/busport.h"
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

class CountingBeeper final : public lw::Beeper {
public:
    int count = 0;
    void beep() override { ++count; }
};

// Keeps every record in memory; can be told to fail.
class MemorySink final : public lw::LogSink {
public:
    struct Entry {
        std::string path;
        std::string record;
    };
    std::vector<Entry> entries;
    bool failing = false;

    lw::AppendResult append(const std::string& path, std::string_view record) override {
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

// A monitor wired to fakes, its port open, all log options on.
struct Rig {
    explicit Rig(std::string versionChoice = "HUBQV-2")
        : time(lw::CivilTime{2002, 3, 1, 22, 15, 7, 0}),
          reports(sink, [this] { return options; }),
          monitor(lw::MonitorDeps{time, port, beeper, reports, [this] { return this->version; },
                                  [this](std::string_view s) { raw += s; }}),
          version(std::move(versionChoice)) {
        options.rawdata = options.busnoise = options.unitactivity = 1;
        options.logpath = "log.txt";
        monitor.load();
        port.open = true;
    }

    // One decoder tick that reads `input`.
    void tick(const std::string& input = {}) {
        port.pending.push_back(input);
        monitor.decoderTick();
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    const lw::UnitSlot& slot(int n) const { return monitor.board().slot(n); }
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
    lw::EventReports reports;
    lw::BusMonitor monitor;
    std::string version;
    std::string raw;
};

}  // namespace lwtest
