#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// When a broker link tries again and what it is worth telling: no sockets,
// no clock of its own, so a table can walk it through hours of outages.
namespace lw::mqtt {

inline constexpr std::chrono::milliseconds kConnectTimeout{15'000};
inline constexpr std::chrono::milliseconds kFirstRetry{1'000};
inline constexpr std::chrono::milliseconds kLongestRetry{30'000};
// A connection that held this long starts the back-off again from the first step.
inline constexpr std::chrono::milliseconds kSteadyConnection{10'000};
// The library's keepalive checks run this often while connected: a quarter of
// the 60 s keepalive keeps the ping well inside the broker's 1.5 x limit.
inline constexpr std::chrono::milliseconds kKeepaliveCheck{15'000};
// How long a clean close waits for the broker to close on its DISCONNECT.
inline constexpr std::chrono::milliseconds kCloseWait{1'000};

enum class LinkState {
    Idle,        // not opened yet
    Connecting,  // an attempt is under way
    Connected,   // the broker accepted the session
    Waiting,     // backing off before the next attempt
    Closing,     // DISCONNECT sent, the last packets leaving
    Closed,      // for good
};

enum class LinkEvent {
    Open,      // the owner starts the link
    Accepted,  // the broker accepted the session
    Failed,    // an attempt or a connection failed (with why)
    TimerDue,  // the state's timer ran out
    Close,     // the owner closes the link
    Gone,      // the connection is closed (after Close)
};

// What the link does after an event.
struct LinkStep {
    enum class Say { Nothing, Connected, Lost, Unreachable };

    LinkState state = LinkState::Idle;
    // The one timer's next run in this state, none when zero: the connect
    // timeout, the keepalive check, the back-off or the close wait.
    std::chrono::milliseconds timer{0};
    Say say = Say::Nothing;  // Unreachable once per streak of the same cause
};

class ReconnectPolicy {
public:
    // nullopt: the event means nothing in the present state.
    std::optional<LinkStep> on(LinkEvent event, std::chrono::milliseconds now,
                               std::string_view why = {});
    LinkState state() const { return m_state; }

private:
    LinkState m_state = LinkState::Idle;
    std::chrono::milliseconds m_backoff = kFirstRetry;
    std::chrono::milliseconds m_upSince{0};
    std::string m_told;  // the failure last told in this streak
};

}  // namespace lw::mqtt
