#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hub/alarms.h"
#include "net/notify/message.h"

// What the alarms say to people and when: one message when an alarm opens,
// the alarms of one site that open close together in one message, a
// reminder while nobody has acknowledged, "cleared" when it is over, and a
// unit that keeps failing and clearing told once as flapping. Shelved alarms
// and sites out of service say nothing. No Qt, no clock of its own.
namespace lw::hub {

struct NoticeSettings {
    std::int64_t gatherMs = 1'000;    // what opens together, told together
    std::int64_t groupMs = 30'000;    // one message per site at most this often
    std::int64_t remindMs = 15 * 60'000;
    std::string pageUrl;              // the hub's page as people reach it, for links
};

class NoticePolicy {
public:
    explicit NoticePolicy(NoticeSettings settings) : m_settings(std::move(settings)) {}

    void changed(const AlarmChange& change, const HubTime& now);
    // The messages due at `now`; what they tell is marked told in the book.
    std::vector<notify::Message> due(AlarmBook& book, const HubTime& now);

    const NoticeSettings& settings() const { return m_settings; }
    void setPageUrl(std::string url) { m_settings.pageUrl = std::move(url); }
    // The site's page, or empty without a page URL.
    std::string siteLink(const std::string& site, const std::string& tail = "") const;

private:
    struct Pending {
        std::set<std::string> which;
        std::int64_t since = 0;
    };
    notify::Message message(const AlarmBook& book, const std::string& site, const std::string& kind,
                            const std::vector<const Alarm*>& alarms, const HubTime& now) const;

    NoticeSettings m_settings;
    std::map<std::string, Pending> m_pending;
    std::map<std::string, std::int64_t> m_lastSent;
    std::set<std::pair<std::string, std::string>> m_toldFlapping;
};

// One line about an alarm as a message tells it: "unit 3 (Three) failed:
// presence, 0:41:12 into the show".
std::string alarmLine(const Alarm& a);

}  // namespace lw::hub
