#pragma once

#include <string>
#include <string_view>

#include "core/unitboard.h"

// The topics one booth publishes under, and which prefixes and sites can make them.
namespace lw::mqtt {

inline constexpr std::string_view kDefaultPrefix = "linewarden";

// Retained topics by slot: the sixteen units, then the bus.
inline constexpr int kBusSlot = kSlots;
inline constexpr int kRetainedSlots = kSlots + 1;

// PREFIX/SITE/... for one booth.
class Topics {
public:
    Topics(std::string_view prefix, std::string_view site);

    const std::string& online() const { return m_online; }
    const std::string& bus() const { return m_bus; }
    const std::string& record() const { return m_record; }
    const std::string& event() const { return m_event; }
    std::string unit(int n) const;  // n = 1..16
    // The topic of a retained slot (0..15 units, kBusSlot the bus).
    std::string slot(int slot) const { return slot == kBusSlot ? m_bus : unit(slot + 1); }

private:
    std::string m_base;
    std::string m_online;
    std::string m_bus;
    std::string m_record;
    std::string m_event;
};

// Empty when `prefix` and `site` make valid topics, else why not. A prefix may
// hold levels ("chain/linewarden"); a site is one level.
std::string topicError(std::string_view prefix, std::string_view site);

}  // namespace lw::mqtt
