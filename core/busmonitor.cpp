#include "core/busmonitor.h"

#include <algorithm>

#include "core/beeper.h"
#include "core/busport.h"
#include "core/busprotocol.h"
#include "core/showclock.h"
#include "core/timesource.h"
#include "core/unitdisplay.h"

namespace lw {

namespace {

constexpr std::array<signed char, 256> makeCodeTable() {
    std::array<signed char, 256> t{};
    t.fill(-1);
    for (std::size_t i = 0; i < kStatusCodes.size(); ++i) {
        t[static_cast<unsigned char>(kStatusCodes[i].code)] = static_cast<signed char>(i);
    }
    return t;
}
constexpr auto kCodeOf = makeCodeTable();

constexpr int kPresenceTicks = 30;
constexpr int kRemoteTicks = 6;
constexpr int kNoiseTicks = 5;
constexpr int kQuietAfterInput = 10;
constexpr int kQuietAfterCut = 20;
constexpr int kQuietAfterEmpty = 12;

bool containsPanicPair(std::string_view b) {
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if ((b[i] == 'P' || b[i] == 'p') && (b[i + 1] == 'K' || b[i + 1] == 'k')) return true;
    }
    return false;
}

}  // namespace

BusMonitor::BusMonitor(MonitorDeps deps) : m_deps(std::move(deps)) { fillTables(); }

void BusMonitor::fillTables() {
    for (int i = 0; i < kSlots; ++i)
        m_board.addrchar[static_cast<std::size_t>(i)] = addressOf(i + 1);
    std::copy(kTags.begin(), kTags.end(), m_board.tagchar.begin());
    m_slotOf.fill(-1);
    m_isTag.fill(false);
    for (int i = 0; i < kSlots; ++i) {
        m_slotOf[static_cast<unsigned char>(m_board.addrchar[static_cast<std::size_t>(i)])] =
            static_cast<signed char>(i);
    }
    for (char c : m_board.tagchar) m_isTag[static_cast<unsigned char>(c)] = true;
}

void BusMonitor::load() {
    fillTables();
    for (UnitSlot& s : m_board.slots) {
        s.unitstatus = status::notThere;
        s.clock = "00:00:00";
    }
    m_dec.busbuffer = "ssssssss";
    decoderTick();
}

// One backward scan: the first frame met for a slot is its rightmost one.
void BusMonitor::decodeFrames(std::array<int, kSlots>& codeAt) const {
    codeAt.fill(-1);
    const std::string& b = m_dec.busbuffer;
    if (b.size() < 3) return;
    int left = kSlots;
    for (std::size_t i = b.size() - 2; i-- > 0 && left > 0;) {
        const int slot = m_slotOf[static_cast<unsigned char>(b[i])];
        if (slot < 0 || codeAt[static_cast<std::size_t>(slot)] >= 0) continue;
        if (!m_isTag[static_cast<unsigned char>(b[i + 1])]) continue;
        const int code = kCodeOf[static_cast<unsigned char>(b[i + 2])];
        if (code < 0) continue;
        codeAt[static_cast<std::size_t>(slot)] = code;
        --left;
    }
}

void BusMonitor::panic(std::string_view t, std::string_view d) {
    m_deps.reports.report(ReportKind::PanicStop, t, d, {});
}

void BusMonitor::decoderTick() {
    // 1. One time and date for every record of this tick.
    const TimeSource::Stamp now = m_deps.time.stamp();
    const std::string& t = now.time;
    const std::string& d = now.date;

    // 2. Drain the port.
    std::string in;
    if (m_deps.port.portOpen()) {
        in = m_deps.port.input();
        if (m_deps.rawOut) m_deps.rawOut(in);
        m_dec.rawlog += in;
        if (m_dec.rawlog.size() > kRawBlockLimit) {
            ReportPieces p;
            p.raw = m_dec.rawlog;
            m_deps.reports.report(ReportKind::RawBlock, t, d, p);
            m_dec.rawlog.clear();
        }
    }

    // 3. Working buffer: keep three characters so a split frame completes.
    std::string& buf = m_dec.busbuffer;
    if (buf.size() <= 4) {
        buf += in;
    } else {
        buf.erase(0, buf.size() - 3);
        buf += in;
        m_dec.quietticks = kQuietAfterCut;
    }

    // 4. Silence.
    if (!in.empty()) m_dec.quietticks = kQuietAfterInput;
    if (m_dec.quietticks > 0) {
        --m_dec.quietticks;
    } else {
        buf.clear();
        m_dec.quietticks = kQuietAfterEmpty;
    }

    // 5. Master remote.
    if (buf.find(kMasterRemote) != std::string::npos) m_dec.remoteticks = kRemoteTicks;
    if (m_dec.remoteticks > 0) {
        m_board.remoteLamp = colours::red;
        m_board.remoteTextColour = colours::highlight;
        --m_dec.remoteticks;
    } else {
        m_board.remoteLamp = colours::windowText;
        m_board.remoteTextColour = colours::windowText;
    }

    // 6. Panic stop by pair, once per tick.
    if (containsPanicPair(buf)) panic(t, d);

    // 7. Slots in order.
    std::array<int, kSlots> codeAt;
    decodeFrames(codeAt);
    SlotContext ctx{m_deps.reports, m_deps.beeper, t, d, buf, m_board.blinkphase};
    for (std::size_t i = 0; i < kSlots; ++i) {
        UnitSlot& s = m_board.slots[i];
        ctx.unit = static_cast<int>(i) + 1;
        if (codeAt[i] >= 0) {
            const StatusCode& m = kStatusCodes[static_cast<std::size_t>(codeAt[i])];
            s.unitstatus = m.word;
            if (!m.cause.empty()) s.failcause = m.cause;
            s.presence = kPresenceTicks;
        }
        updateUnitSlot(s, ctx);
        if (s.presence < 1) {
            s.unitstatus = status::notThere;
            clockStop(s);
        } else {
            --s.presence;
        }
    }

    // 8. Character scan: single-P panics and noise, in buffer order.
    for (const char ch : buf) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == kSinglePanic) {
            if (singlePVersion(m_deps.versionChoice ? m_deps.versionChoice() : std::string{})) {
                panic(t, d);
            }
        } else if (!isKnownBusChar(c)) {
            if (m_board.noiseLit()) {
                ReportPieces p;
                p.buffer = buf;
                m_deps.reports.report(ReportKind::Noise, t, d, p);
            }
            if (m_dec.noiseticks == 0) m_dec.noiseticks = kNoiseTicks;
        }
    }

    // 9. Noise indicator.
    if (m_dec.noiseticks > 0) {
        --m_dec.noiseticks;
        m_board.noiseTextColour = colours::red;
        m_board.noiseLamp = colours::yellow;
    } else {
        m_board.noiseTextColour = colours::black;
        m_board.noiseLamp = colours::black;
    }
}

void BusMonitor::clockTick() { lw::clockTick(m_board, m_deps.time.stamp().seconds); }

void BusMonitor::blinkTick() { lw::blinkTick(m_board); }

}  // namespace lw
