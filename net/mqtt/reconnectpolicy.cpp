#include "net/mqtt/reconnectpolicy.h"

#include <algorithm>
#include <array>

namespace lw::mqtt {

namespace {

using S = LinkState;
using E = LinkEvent;

struct Transition {
    LinkState from;
    LinkEvent event;
    LinkState to;
};

// Every move the link makes; an event not listed for a state is ignored.
constexpr std::array kTransitions{
    Transition{S::Idle, E::Open, S::Connecting},
    Transition{S::Idle, E::Close, S::Closed},
    Transition{S::Connecting, E::Accepted, S::Connected},
    Transition{S::Connecting, E::Failed, S::Waiting},
    Transition{S::Connecting, E::TimerDue, S::Waiting},  // no answer in time
    Transition{S::Connecting, E::Close, S::Closed},
    Transition{S::Connected, E::Failed, S::Waiting},
    Transition{S::Connected, E::TimerDue, S::Connected},  // keepalive check
    Transition{S::Connected, E::Close, S::Closing},
    Transition{S::Waiting, E::TimerDue, S::Connecting},
    Transition{S::Waiting, E::Close, S::Closed},
    Transition{S::Closing, E::Failed, S::Closed},  // the broker closed on us
    Transition{S::Closing, E::TimerDue, S::Closed},
    Transition{S::Closing, E::Gone, S::Closed},
};

}  // namespace

std::optional<LinkStep> ReconnectPolicy::on(LinkEvent event, std::chrono::milliseconds now,
                                            std::string_view why) {
    const auto t = std::find_if(kTransitions.begin(), kTransitions.end(), [&](const auto& x) {
        return x.from == m_state && x.event == event;
    });
    if (t == kTransitions.end()) return std::nullopt;
    const LinkState from = m_state;
    m_state = t->to;

    LinkStep step{m_state};
    switch (m_state) {
        case S::Connecting:
            step.timer = kConnectTimeout;
            break;
        case S::Connected:
            step.timer = kKeepaliveCheck;
            if (from == S::Connecting) {
                step.say = LinkStep::Say::Connected;
                m_upSince = now;
                m_told.clear();
            }
            break;
        case S::Waiting:
            if (from == S::Connected) {
                if (now - m_upSince >= kSteadyConnection) m_backoff = kFirstRetry;
                step.say = LinkStep::Say::Lost;
            } else if (why != m_told) {
                step.say = LinkStep::Say::Unreachable;
                m_told = why;
            }
            step.timer = m_backoff;
            m_backoff = std::min(m_backoff * 2, kLongestRetry);
            break;
        case S::Closing:
            step.timer = kCloseWait;
            break;
        case S::Idle:
        case S::Closed:
            break;
    }
    return step;
}

}  // namespace lw::mqtt
