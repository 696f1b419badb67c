#include "service/mqtt/publisher.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <utility>

#include "service/mqtt/payloads.h"
#include "service/mqtt/sender.h"

namespace lw::mqtt {

Publisher::Publisher(Settings settings, Journal journal)
    : m_settings(std::move(settings)),
      m_journal(std::move(journal)),
      m_outbox(std::make_shared<Outbox>(m_settings.queueCapacity)) {
    if (!m_journal) {
        m_journal = [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        };
    }
}

Publisher::~Publisher() { stop(); }

Result<> Publisher::start() {
    if (m_thread) return {};
    if (std::string why = topicError(m_settings.prefix, m_settings.site); !why.empty()) {
        return Result<>::failure(why);
    }
    std::optional<Credentials> login;
    if (!m_settings.credentialsFile.empty()) {
        auto c = readCredentials(m_settings.credentialsFile);
        if (!c.ok) return Result<>::failure(c.error);
        login = std::move(c.value);
    }
    // Lines from the publisher's thread are told on this one, a whole line at a time.
    auto tell = [this](const std::string& line) {
        QMetaObject::invokeMethod(
            &m_home, [this, line] { m_journal(line); }, Qt::QueuedConnection);
    };
    auto sender = Sender::create(m_settings, std::move(login), m_outbox, std::move(tell));
    if (!sender.ok) return Result<>::failure(sender.error);

    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("mqtt"));
    if (m_onMessage) {
        sender.value->setMessageHandler([this](const std::string& topic, const std::string& payload) {
            QMetaObject::invokeMethod(
                &m_home, [this, topic, payload] { m_onMessage(topic, payload); },
                Qt::QueuedConnection);
        });
    }
    m_sender = sender.value.release();
    m_sender->moveToThread(m_thread.get());
    m_thread->start();
    QMetaObject::invokeMethod(m_sender, &Sender::open, Qt::QueuedConnection);
    return {};
}

void Publisher::stop(std::chrono::milliseconds grace) {
    if (!m_thread) return;
    Sender* sender = std::exchange(m_sender, nullptr);
    QMetaObject::invokeMethod(
        sender, [sender, grace] { sender->stop(grace); }, Qt::QueuedConnection);
    if (m_thread->wait(QDeadlineTimer(grace.count() + 1000))) {
        delete sender;
        m_thread.reset();
    } else {
        // Stuck in a name lookup or a connect: leave it to the process's end.
        (void)m_thread.release();
    }
    // Lines told while stopping, before the caller's event loop ends.
    QCoreApplication::sendPostedEvents(&m_home);
}

void Publisher::publishBoard(const BoardView& view) {
    if (!m_sender) return;
    std::vector<RetainedUpdate> changes = m_retained.changes(view);
    if (!changes.empty() && m_outbox->putRetained(std::move(changes))) giveTurn();
}

void Publisher::publishEvent(const BoardEvent& event) {
    if (!m_sender) return;
    if (auto payload = eventPayload(event); payload && m_outbox->putEvent(std::move(*payload))) {
        giveTurn();
    }
}

void Publisher::publishRecord(std::string_view text) {
    if (m_sender && m_outbox->putRecord(std::string(text))) giveTurn();
}

// Kept from before start() on: the first connect sends what is there by then.
void Publisher::publishRetained(std::string topic, std::string payload) {
    if (m_outbox->putRetainedTopic(std::move(topic), std::move(payload)) && m_sender) giveTurn();
}

void Publisher::resendRetained() {
    if (!m_sender) return;
    m_outbox->resendRetained();
    if (m_outbox->claimTurn()) giveTurn();
}

void Publisher::giveTurn() {
    QMetaObject::invokeMethod(m_sender, &Sender::sendWaiting, Qt::QueuedConnection);
}

}  // namespace lw::mqtt
