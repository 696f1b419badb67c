#include "tools/simulator.h"

#include <algorithm>
#include <charconv>

#include "core/busprotocol.h"
#include "core/textutil.h"

namespace lw::sim {

namespace {

constexpr std::int64_t kQuietRemoteMs = 250;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool duration(std::string_view s, std::int64_t& ms) {
    std::int64_t scale = 1;
    if (s.ends_with("ms")) {
        s.remove_suffix(2);
    } else if (s.ends_with("s")) {
        s.remove_suffix(1);
        scale = 1000;
    } else if (s.ends_with("m")) {
        s.remove_suffix(1);
        scale = 60'000;
    }
    if (!parseDecimal(s, ms)) return false;
    ms *= scale;
    return true;
}

std::optional<UnitState> stateNamed(std::string_view w) {
    if (w == "off") return UnitState::Off;
    if (w == "film-in") return UnitState::FilmIn;
    if (w == "start") return UnitState::Start;
    if (w == "run") return UnitState::Run;
    if (w == "ending") return UnitState::Ending;
    if (w == "no-film") return UnitState::NoFilm;
    if (w == "fail-presence") return UnitState::FailPresence;
    if (w == "fail-motion") return UnitState::FailMotion;
    return std::nullopt;
}

bool units(std::string_view w, int& first, int& last) {
    if (w == "all") {
        first = 1;
        last = 16;
        return true;
    }
    const auto dash = w.find('-');
    std::int64_t a = 0, b = 0;
    if (dash == std::string_view::npos) {
        if (!parseDecimal(w, a)) return false;
        b = a;
    } else if (!parseDecimal(w.substr(0, dash), a) || !parseDecimal(w.substr(dash + 1), b)) {
        return false;
    }
    if (a < 1 || b > 16 || a > b) return false;
    first = static_cast<int>(a);
    last = static_cast<int>(b);
    return true;
}

constexpr std::string_view kShowNight =
    R"(# Four units run an evening of shows; unit 3 runs in interlock.
at 0s unit 1-4 film-in
at 0s remote on
at 5s unit 1 show 3m
at 20s unit 2 show 150s
at 35s unit 3 show 2m interlock
at 50s unit 4 show 100s
at 4m end
)";

constexpr std::string_view kFailure =
    R"(# Shows that go wrong: presence, motion in interlock, a unit that drops off.
at 0s unit 1-4 film-in
at 0s remote on
at 3s unit 1-3 start
at 3s unit 4 run
at 7s unit 1-3 run
at 25s unit 2 fail-presence
at 35s unit 3 fail-motion interlock
at 45s unit 4 off
at 50s unit 1 ending
at 60s unit 1 no-film
at 70s unit 2-3 film-in
at 90s end
)";

constexpr std::string_view kNoisy =
    R"(# A bus with bad wiring: noise bursts, a panic pair and a lone P.
at 0s unit 1-2 run
at 0s unit 3 film-in
at 5s noise 40
at 20s noise 0
at 24s panic pk
at 28s panic p
at 30s unit 3 show 20s
at 60s end
)";

constexpr std::string_view kQuick =
    R"(# A short test pattern: every kind of unit report within twelve seconds.
at 0s remote on
at 1s unit 1 start
at 1s unit 2 start interlock
at 1s unit 3 run
at 3s unit 1-2 run
at 5s unit 3 fail-motion
at 6s unit 2 fail-presence interlock
at 7s unit 1 ending
at 8s unit 1 no-film
at 12s end
)";

constexpr std::string_view kIdle = R"(# The master remote box alone, units ready.
at 0s remote on
at 0s unit 1-16 film-in
)";

struct Named {
    std::string_view name;
    std::string_view text;
};
constexpr std::array<Named, 5> kScenarios{{{"show-night", kShowNight},
                                           {"failure", kFailure},
                                           {"noisy", kNoisy},
                                           {"quick", kQuick},
                                           {"idle", kIdle}}};

}  // namespace

std::optional<std::string_view> builtinScenario(std::string_view name) {
    for (const auto& s : kScenarios) {
        if (s.name == name) return s.text;
    }
    return std::nullopt;
}

std::vector<std::string_view> builtinScenarioNames() {
    std::vector<std::string_view> n;
    for (const auto& s : kScenarios) n.push_back(s.name);
    return n;
}

Result<Script> parseScript(std::string_view text) {
    Script script;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        ++lineNo;
        if (const auto hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto w = words(line);
        if (w.empty()) continue;
        auto fail = [&](std::string msg) {
            return Result<Script>::failure(std::move(msg), lineNo);
        };

        Event e;
        if (w.size() < 3 || w[0] != "at" || !duration(w[1], e.at)) {
            return fail("expected \"at TIME ...\"");
        }
        const std::string_view what = w[2];
        if (what == "end" && w.size() == 3) {
            e.kind = Event::Kind::End;
            script.end = e.at;
        } else if (what == "remote" && w.size() == 4 && (w[3] == "on" || w[3] == "off")) {
            e.kind = Event::Kind::Remote;
            e.on = w[3] == "on";
        } else if (what == "panic" && w.size() == 4 && (w[3] == "pk" || w[3] == "p")) {
            e.kind = Event::Kind::Panic;
            e.panic = w[3] == "pk" ? std::string(kPanicStop) : std::string(1, kSinglePanic);
        } else if (what == "noise" && w.size() == 4) {
            std::int64_t pm = 0;
            if (!parseDecimal(w[3], pm) || pm > 1000)
                return fail("noise takes 0 to 1000 per mille");
            e.kind = Event::Kind::Noise;
            e.noisePerMille = static_cast<int>(pm);
        } else if (what == "unit" && w.size() >= 5 && w.size() <= 7) {
            if (!units(w[3], e.firstUnit, e.lastUnit)) return fail("units are 1 to 16, N-M or all");
            const bool show = w[4] == "show";
            std::size_t flag = show ? 6 : 5;
            if (w.size() > flag + 1) return fail("too many words");
            if (w.size() == flag + 1) {
                if (w[flag] != "interlock") return fail("expected \"interlock\"");
                e.interlock = true;
            }
            if (show) {
                std::int64_t len = 0;
                if (w.size() < 6 || !duration(w[5], len) || len < 10'000) {
                    return fail("show takes a length of at least 10s");
                }
                // A whole show: start, run, closing, end of film, reloaded.
                const std::int64_t t = e.at;
                const std::pair<std::int64_t, UnitState> steps[] = {
                    {t, UnitState::Start},
                    {t + 4000, UnitState::Run},
                    {t + len - (len >= 40'000 ? 20'000 : 4000), UnitState::Ending},
                    {t + len, UnitState::NoFilm},
                    {t + len + 20'000, UnitState::FilmIn}};
                for (const auto& [at, st] : steps) {
                    Event s = e;
                    s.at = at;
                    s.state = st;
                    script.events.push_back(s);
                }
                continue;
            }
            const auto st = stateNamed(w[4]);
            if (!st) return fail("unknown unit state " + std::string(w[4]));
            e.state = *st;
        } else {
            return fail("unknown command");
        }
        script.events.push_back(e);
    }
    std::stable_sort(script.events.begin(), script.events.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    return Result<Script>::success(std::move(script));
}

char statusCode(UnitState s, bool interlock) {
    char c = 0;
    switch (s) {
        case UnitState::Off:
            return 0;
        case UnitState::FilmIn:
            c = code::filmIn;
            break;
        case UnitState::Start:
            c = code::start;
            break;
        case UnitState::Run:
            c = code::showRun;
            break;
        case UnitState::Ending:
            c = code::showEnding;
            break;
        case UnitState::NoFilm:
            c = code::noFilm;
            break;
        case UnitState::FailPresence:
            c = code::failPresence;
            break;
        case UnitState::FailMotion:
            c = code::failMotion;
            break;
    }
    return interlock ? interlocked(c) : c;
}

BusSimulator::BusSimulator(Script script, std::uint64_t seed, int baud)
    : m_script(std::move(script)),
      m_seed(seed),
      m_rng(seed),
      m_charsPerSecond(std::max(1, baud / 10)) {}  // 8N1: ten bits a character

void BusSimulator::restart() {
    m_rng.seed(m_seed);
    m_now = 0;
    m_next = 0;
    m_credit = 0;
    m_units = {};
    m_remote = false;
    m_noisePerMille = 0;
    m_cursor = 0;
    m_lastRemote = -1'000'000;
    m_pending.clear();
}

std::uint64_t BusSimulator::random(std::uint64_t bound) { return m_rng() % bound; }

void BusSimulator::apply(const Event& e) {
    switch (e.kind) {
        case Event::Kind::Unit:
            for (int u = e.firstUnit; u <= e.lastUnit; ++u) {
                m_units[static_cast<std::size_t>(u - 1)] = {e.state, e.interlock};
            }
            break;
        case Event::Kind::Remote:
            m_remote = e.on;
            break;
        case Event::Kind::Panic:
            m_pending += e.panic;
            break;
        case Event::Kind::Noise:
            m_noisePerMille = e.noisePerMille;
            break;
        case Event::Kind::End:
            break;
    }
}

// Queues the next item on the line; false when the bus has nothing to say.
bool BusSimulator::refill() {
    for (int tries = 0; tries <= 16; ++tries) {
        const int slot = m_cursor;
        m_cursor = (m_cursor + 1) % 17;
        if (slot == 16) {
            // Between rounds of frames; on a quiet bus a few times a second.
            const bool anyUnit = std::any_of(m_units.begin(), m_units.end(), [](const Unit& u) {
                return u.state != UnitState::Off;
            });
            if (m_remote && (anyUnit || m_now - m_lastRemote >= kQuietRemoteMs)) {
                m_pending += kMasterRemote;
                m_lastRemote = m_now;
                break;
            }
            continue;
        }
        const Unit& u = m_units[static_cast<std::size_t>(slot)];
        const char code = statusCode(u.state, u.interlock);
        if (!code) continue;
        m_pending += addressOf(slot + 1);
        m_pending += kTags[random(kTags.size())];
        m_pending += code;
        break;
    }
    if (m_noisePerMille > 0 && static_cast<int>(random(1000)) < m_noisePerMille) {
        unsigned char c = 0;
        do {
            c = static_cast<unsigned char>(random(256));
        } while (isKnownBusChar(c));
        m_pending.insert(
            m_pending.begin() + static_cast<std::ptrdiff_t>(random(m_pending.size() + 1)),
            static_cast<char>(c));
    }
    return !m_pending.empty();
}

std::string BusSimulator::advance(std::int64_t ms) {
    std::string out;
    // Millisecond by millisecond, so each character leaves at its own time.
    for (std::int64_t i = 0; i < ms; ++i) {
        while (m_next < m_script.events.size() && m_script.events[m_next].at <= m_now) {
            apply(m_script.events[m_next++]);
        }
        ++m_now;
        m_credit += m_charsPerSecond;
        while (m_credit >= 1000) {
            if (m_pending.empty() && !refill()) {
                m_credit = 0;  // an idle line saves nothing up
                break;
            }
            out += m_pending.front();
            m_pending.erase(0, 1);
            m_credit -= 1000;
        }
    }
    return out;
}

std::size_t charsPerMisframe(int lineBaud, int listenBaud) {
    // The receiver samples its stop bit 9.5 of its bits after the start edge
    // and hunts for the next start bit from the next line character on.
    const std::int64_t stopSample = (19 * std::int64_t{lineBaud}) / (2 * std::int64_t{listenBaud});
    return static_cast<std::size_t>(stopSample / 10 + 1);
}

unsigned char misframe(std::string_view chars, int lineBaud, int listenBaud) {
    // Line bit j: character j / 10, where bit 0 is the start (0), 1 to 8 the
    // data bits from the lowest, 9 the stop (1).
    auto lineBit = [&](std::int64_t j) {
        const auto c = static_cast<unsigned char>(chars[static_cast<std::size_t>(j / 10)]);
        const int pos = static_cast<int>(j % 10);
        if (pos == 0) return 0;
        if (pos == 9) return 1;
        return (c >> (pos - 1)) & 1;
    };
    unsigned byte = 0;
    for (int i = 0; i < 8; ++i) {
        // The middle of the receiver's data bit i, in line bits from the edge.
        const std::int64_t j =
            ((2 * i + 3) * std::int64_t{lineBaud}) / (2 * std::int64_t{listenBaud});
        byte |= static_cast<unsigned>(lineBit(j)) << i;
    }
    return isKnownBusChar(static_cast<unsigned char>(byte)) ? 0 : static_cast<unsigned char>(byte);
}

std::string MismatchedLine::receive(std::string_view sent, int listenBaud) {
    if (listenBaud != m_listenBaud) {
        m_listenBaud = listenBaud;
        m_partial.clear();
    }
    if (listenBaud <= 0) return {};
    if (listenBaud == m_lineBaud) return std::string(sent);
    const std::size_t per = charsPerMisframe(m_lineBaud, listenBaud);
    m_partial.append(sent);
    std::string out;
    std::size_t i = 0;
    for (; i + per <= m_partial.size(); i += per) {
        out += static_cast<char>(
            misframe(std::string_view(m_partial).substr(i, per), m_lineBaud, listenBaud));
    }
    m_partial.erase(0, i);
    return out;
}

}  // namespace lw::sim
