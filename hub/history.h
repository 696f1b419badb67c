#pragma once

#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "core/journal.h"
#include "core/payloadcheck.h"
#include "core/result.h"

// The chain's history in one SQLite file (WAL): every unit state as it
// changed, every event and every record, per site; never periodic samples.
// A write that fails is told once per streak and counted; the live view
// never waits for it.
namespace lw::hub {

class History {
public:
    explicit History(Journal journal);
    ~History();

    Result<> open(const std::string& path);
    bool isOpen() const { return m_open; }

    // `received` is the hub's time in milliseconds since the epoch.
    void unitChanged(const std::string& site, const UnitDoc& unit, const std::string& json,
                     std::int64_t received);
    // An event repeated by the broker (QoS 1 may deliver twice) is kept once.
    void event(const std::string& site, const EventDoc& event, const std::string& json,
               std::int64_t received);
    void record(const std::string& site, const std::string& text, std::int64_t received);
    void online(const std::string& site, bool online, std::int64_t received);
    // An operator's action on an alarm: who (the token's label), what, when.
    void action(const std::string& site, const std::string& alarm, const std::string& action,
                const std::string& by, const std::string& reason, const std::string& until, std::int64_t at);

    // An alarm opened, cleared or began flapping; how many opened in a stretch.
    void alarm(const std::string& site, const std::string& alarm, const std::string& what, std::int64_t at);
    std::int64_t alarmsOpened(const std::string& site, std::int64_t from, std::int64_t to);

    // Drops what is older than `days` before `now`; returns rows dropped.
    std::int64_t prune(int days, std::int64_t now);

    // JSON arrays for the API, oldest first, at most `limit`.
    std::string eventsJson(const std::string& site, std::int64_t afterId, int limit);
    std::string historyJson(const std::string& site, std::int64_t from, std::int64_t to,
                            int limit);
    // The records of a site between two hub times, as the log file held them.
    std::string recordsText(const std::string& site, std::int64_t from, std::int64_t to);

    std::uint64_t failedWrites() const { return m_failed; }
    const std::string& problem() const { return m_problem; }

private:
    bool exec(const QString& sql, const std::function<void(class QSqlQuery&)>& bind);
    void failed(const QString& what);

    Journal m_journal;
    QString m_connection;
    bool m_open = false;
    bool m_told = false;
    std::uint64_t m_failed = 0;
    std::string m_problem;
};

}  // namespace lw::hub
