#include "service/monitorservice.h"

#include "core/boardjson.h"
#include "core/busprotocol.h"
#include "core/contractjson.h"
#include "core/monitoroptions.h"

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

MonitorService::MonitorService(const ServiceOptions& options, Journal journal, QObject* parent)
    : QObject(parent),
      m_options(options),
      m_journal(std::move(journal)),
      m_lineSettings(lineSettings(baudForVersion(*options.softwareVersion))),
      m_port(resolverFor(options)),
      m_keeper(m_port),
      m_session([this] {
          SessionDeps deps = fixedSessionDeps(m_options, *m_options.softwareVersion, m_port,
                                              m_time, m_beeper, m_sink);
          deps.onLogFailure = [this](const LogFailure& f) {
              m_journal("cannot write the activity log " + f.path + ": " + f.error +
                        "; records are left out until it can be written again");
          };
          return deps;
      }()),
      m_runner(m_session) {
    m_session.setRecordObserver(
        [this](const RecordEvent& e) { Q_EMIT recordAdded(m_records.push(e)); });
    m_session.setEventObserver([this](const BoardEvent& e) {
        m_events.push(e.seq, eventJson(e));
        Q_EMIT eventAdded(e);
    });

    connect(&m_keeper, &PortKeeper::stateChanged, this, &MonitorService::portChanged);
    connect(&m_runner, &SessionRunner::decoderTicked, this, &MonitorService::decoderTicked);
}

MonitorService::~MonitorService() = default;

void MonitorService::start() {
    m_sinceLoad.start();
    const Result<> names = m_runner.load();  // the port is still closed: every unit absent
    if (!names.ok) m_journal(names.error);
    m_tick = 0;
    m_tickAt = 0;
    m_tickBeeps = m_beeper.take();
    const Result<> r = m_keeper.open(m_options.comNumber.value_or(kMinPortNumber), m_lineSettings,
                                     PortKeeper::FirstOpen::KeepTrying);
    if (!r.ok && m_keeper.state() == PortKeeper::State::Closed) {
        m_journal("cannot use " + m_keeper.device().toStdString() + ": " + r.error);
    }
    refreshBoard();
    m_runner.start();
}

void MonitorService::stop() {
    m_runner.stop();
    m_keeper.close();
    Q_EMIT stopped();
}

void MonitorService::decoderTicked() {
    ++m_tick;
    m_tickAt = m_sinceLoad.elapsed();
    m_tickBeeps = m_beeper.take();
    refreshBoard();
    Q_EMIT ticked();
}

void MonitorService::portChanged(PortKeeper::State state, const QString& reason) {
    const std::string device = m_keeper.device().toStdString();
    switch (state) {
        case PortKeeper::State::Open:
            m_journal(std::string(m_everOpen ? "port back: " : "port open: ") + device + " at " +
                   m_lineSettings);
            m_everOpen = true;
            break;
        case PortKeeper::State::Lost:
            m_journal(std::string(m_everOpen ? "port lost: " : "cannot open the port: ") + device +
                   ": " + reason.toStdString() + "; trying again every " +
                   std::to_string(PortKeeper::kRetryPeriod.count() / 1000) + " s");
            break;
        case PortKeeper::State::Closed:
            if (m_everOpen) m_journal("port closed: " + device);  // never opened: nothing closed
            break;
    }
    m_session.portChanged(portStateOf(state));
    refreshBoard();
    Q_EMIT portStateChanged(state, reason);
}

void MonitorService::refreshBoard() {
    m_boardJson =
        lw::boardJson(m_tick, m_tickAt, m_session.board(), m_tickBeeps, m_session.view());
    // One object, not a line.
    if (!m_boardJson.empty() && m_boardJson.back() == '\n') m_boardJson.pop_back();
}

}  // namespace lw::service
