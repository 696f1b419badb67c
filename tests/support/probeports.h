#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/busport.h"

namespace lwtest {

// Ports that open or not, and what each hears at each speed.
class ProbePorts final : public lw::SerialPortOps {
public:
    std::map<int, bool> opens;                                 // port -> opens
    std::map<std::pair<int, std::string>, std::string> heard;  // (port, baud) -> bytes
    std::vector<std::string> log;
    bool open = false;
    int n = 0;
    std::string baud;
    bool served = false;

    lw::Result<> setCommPort(int p) override {
        n = p;
        return {};
    }
    lw::Result<> setSettings(const std::string& s) override {
        baud = s.substr(0, s.find(','));
        return {};
    }
    lw::Result<> setPortOpen(bool o) override {
        if (o && !opens[n]) return lw::Result<>::failure("No such file or directory");
        if (o) log.push_back(std::to_string(n) + "@" + baud);
        open = o;
        served = false;
        return {};
    }
    bool portOpen() const override { return open; }
    std::string input() override {
        if (!open || served) return {};
        served = true;
        return heard[{n, baud}];
    }
    void setLostHandler(std::function<void(const std::string&)>) override {}
};

}  // namespace lwtest
