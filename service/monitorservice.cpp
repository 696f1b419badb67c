#include "service/monitorservice.h"

#include "core/boardjson.h"
#include "core/contractjson.h"
#include "core/busprotocol.h"
#include "core/monitorsession.h"
#include "core/namesfile.h"

namespace lw::service {

namespace {

CommPort::Resolver resolverFor(const ServiceOptions& o) {
    if (o.device.empty()) return {};  // the settings store, as the board maps COM numbers
    const QString path = QString::fromStdString(o.device);
    return [path](int) { return path; };
}

PortState portStateOf(PortKeeper::State s) {
    switch (s) {
        case PortKeeper::State::Open:
            return PortState::Open;
        case PortKeeper::State::Lost:
            return PortState::Lost;
        case PortKeeper::State::Closed:
            break;
    }
    return PortState::Closed;
}

}  // namespace

MonitorService::MonitorService(const ServiceOptions& options, Tell tell, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_tell(std::move(tell)),
      m_lineSettings(lineSettings(baudForVersion(options.softwareVersion))),
      m_port(resolverFor(options)),
      m_keeper(m_port) {
    m_logOptions.rawdata = options.raw ? 1 : 0;
    m_logOptions.busnoise = options.noise ? 1 : 0;
    m_logOptions.unitactivity = options.activity ? 1 : 0;
    m_logOptions.logpath = options.logPath;
    if (options.logPath.empty()) {
        m_sink = std::make_unique<DiscardLogSink>();
    } else {
        m_sink = std::make_unique<FileLogSink>();
    }

    m_session = std::make_unique<MonitorSession>(SessionDeps{
        .port = m_port,
        .time = m_time,
        .beeper = m_beeper,
        .sink = *m_sink,
        .logOptions = [this] { return m_logOptions; },
        .versionChoice = [this] { return m_options.softwareVersion; },
        .onLogFailure =
            [this](const LogFailure& f) {
                m_tell("cannot write the activity log " + f.path + ": " + f.error +
                       "; records are left out until it can be written again");
            },
        .names =
            [this](UnitNames& captions) {
                if (!m_options.namesPath.empty() && !readNamesFile(m_options.namesPath, captions)) {
                    m_tell("cannot read the unit names from " + m_options.namesPath +
                           "; the units are numbered");
                }
                return Result<>{};
            },
    });
    m_session->setRecordObserver(
        [this](const RecordEvent& e) { Q_EMIT recordAdded(m_records.push(e)); });
    m_session->setEventObserver([this](const BoardEvent& e) {
        m_events.push(e.seq, eventJson(e));
        Q_EMIT eventAdded(e);
    });

    connect(&m_keeper, &PortKeeper::stateChanged, this, &MonitorService::portChanged);
    m_decoderTimer.setInterval(kDecoderTick);
    m_clockTimer.setInterval(kClockTick);
    m_blinkTimer.setInterval(kBlinkTick);
    // Only the decoder tick reads the blink phase: the blink ticks due are
    // run just before it instead of each waking the service.
    connect(&m_decoderTimer, &QTimer::timeout, this, [this] {
        m_session->blinkTicks(m_blinkTimer.takeDue());
        decoderTick();
    });
    connect(&m_clockTimer, &TickTimer::timeout, this, &MonitorService::clockTick);
    connect(&m_blinkTimer, &TickTimer::timeout, this, [this] { m_session->blinkTick(); });
}

MonitorService::~MonitorService() = default;

void MonitorService::start() {
    m_sinceLoad.start();
    m_session->load();  // the port is still closed: every unit absent
    m_tick = 0;
    m_tickAt = 0;
    m_tickBeeps = m_beeper.take();
    const Result<> r = m_keeper.open(m_options.port.value_or(kMinPortNumber), m_lineSettings,
                                     PortKeeper::FirstOpen::KeepTrying);
    if (!r.ok && m_keeper.state() == PortKeeper::State::Closed) {
        m_tell("cannot use " + m_keeper.device().toStdString() + ": " + r.error);
    }
    refreshBoard();
    m_decoderTimer.start();
    m_clockTimer.start();
    m_blinkTimer.start();
    m_blinkTimer.sleep();
}

void MonitorService::stop() {
    m_decoderTimer.stop();
    m_clockTimer.stop();
    m_blinkTimer.stop();
    m_keeper.close();
    Q_EMIT stopped();
}

void MonitorService::decoderTick() {
    m_session->decoderTick();
    ++m_tick;
    m_tickAt = m_sinceLoad.elapsed();
    m_tickBeeps = m_beeper.take();
    refreshBoard();
    Q_EMIT ticked();
}

void MonitorService::clockTick() {
    m_clockTimer.skipTo(m_session->clockTick());
}

void MonitorService::portChanged(PortKeeper::State state, const QString& reason) {
    const std::string device = m_keeper.device().toStdString();
    switch (state) {
        case PortKeeper::State::Open:
            m_tell(std::string(m_everOpen ? "port back: " : "port open: ") + device + " at " +
                   m_lineSettings);
            m_everOpen = true;
            break;
        case PortKeeper::State::Lost:
            m_tell(std::string(m_everOpen ? "port lost: " : "cannot open the port: ") + device +
                   ": " + reason.toStdString() + "; trying again every " +
                   std::to_string(PortKeeper::kRetryPeriod.count() / 1000) + " s");
            break;
        case PortKeeper::State::Closed:
            if (m_everOpen) m_tell("port closed: " + device);  // never opened: nothing closed
            break;
    }
    m_session->portChanged(portStateOf(state));
    refreshBoard();
    Q_EMIT portStateChanged(state, reason);
}

void MonitorService::refreshBoard() {
    m_boardJson =
        lw::boardJson(m_tick, m_tickAt, m_session->board(), m_tickBeeps, m_session->view());
    // One object, not a line.
    if (!m_boardJson.empty() && m_boardJson.back() == '\n') m_boardJson.pop_back();
}

}  // namespace lw::service
