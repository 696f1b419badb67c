#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

// linewarden-hub's options: one table gives the command line, the config
// file's keys and the usage text.
namespace lw::hub {

inline constexpr std::string_view kHubName = "linewarden-hub";

struct HubOptions {
    std::string mqttHost;
    int mqttPort = 1883;
    std::string mqttPrefix = "linewarden";
    std::string mqttCafile;
    std::string mqttCredentials;
    std::string clientId;  // the persistent session's name; several hubs need their own
    std::string httpAddress = "127.0.0.1";
    int httpPort = 0;  // 0: no web page
    bool http = false;
    std::string httpToken;
    std::string httpsCert;  // both or neither: HTTPS only on the page's port
    std::string httpsKey;
    std::string db;  // empty: no history
    int keepDays = 400;
    std::size_t maxSites = 5000;
    std::string configPath;
    // Alarms and who hears of them.
    std::int64_t busLostAfterMs = 30'000;
    std::int64_t offlineAfterMs = 120'000;
    std::int64_t remindMs = 15 * 60'000;
    std::int64_t groupMs = 30'000;
    std::string operatorTokens;  // empty: no operator actions
    std::vector<std::string> notifyWebhook;
    std::vector<std::string> notifyNtfy;
    std::vector<std::string> notifyMail;
    std::string sendmail = "/usr/sbin/sendmail";
    int summaryAt = -1;  // minutes after midnight; -1: no morning summary
    std::string pageUrl;  // links in messages; default the page's own address
};

std::string hubUsage();

// The command line over the config file (if --config names one).
Result<HubOptions> readHubOptions(const std::vector<std::string>& args);

}  // namespace lw::hub
