#include "hub/history.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>

#include "core/jsonreader.h"

namespace lw::hub {

namespace {

constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;

const char* const kSchema[] = {
    "PRAGMA journal_mode=WAL",
    "PRAGMA synchronous=NORMAL",
    "CREATE TABLE IF NOT EXISTS unit_change (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "unit INTEGER NOT NULL, state TEXT NOT NULL, since TEXT NOT NULL, received INTEGER NOT NULL, "
    "doc TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS unit_change_site ON unit_change (site, received)",
    "CREATE TABLE IF NOT EXISTS event (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "seq INTEGER NOT NULL, kind TEXT NOT NULL, at TEXT NOT NULL, received INTEGER NOT NULL, "
    "doc TEXT NOT NULL, UNIQUE (site, at, seq, kind))",
    "CREATE INDEX IF NOT EXISTS event_site ON event (site, id)",
    "CREATE TABLE IF NOT EXISTS record (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "received INTEGER NOT NULL, text BLOB NOT NULL)",
    "CREATE INDEX IF NOT EXISTS record_site ON record (site, received)",
    "CREATE TABLE IF NOT EXISTS online (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "online INTEGER NOT NULL, received INTEGER NOT NULL)",
    // Who did what to which alarm: the only writes people make.
    "CREATE TABLE IF NOT EXISTS action (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "alarm TEXT NOT NULL, action TEXT NOT NULL, by TEXT NOT NULL, reason TEXT NOT NULL, "
    "until TEXT NOT NULL, received INTEGER NOT NULL)",
    // Alarms as they opened, cleared and flapped, for the morning summary.
    "CREATE TABLE IF NOT EXISTS alarm (id INTEGER PRIMARY KEY, site TEXT NOT NULL, "
    "alarm TEXT NOT NULL, what TEXT NOT NULL, received INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS alarm_site ON alarm (site, received)",
};

QString q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A query over one site's rows received in [from, to), prepared and bound.
QSqlQuery siteRange(const QString& connection, const QString& sql, const std::string& site,
                    std::int64_t from, std::int64_t to) {
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(sql);
    query.addBindValue(q(site));
    query.addBindValue(static_cast<qlonglong>(from));
    query.addBindValue(static_cast<qlonglong>(to));
    return query;
}

// The rows a prepared query gives, each made a JSON value, as one array;
// empty when the query fails.
std::string rowsJson(QSqlQuery& query, const std::function<std::string(const QSqlQuery&)>& row) {
    std::string out = "[";
    if (query.exec()) {
        while (query.next()) {
            if (out.size() > 1) out += ',';
            out += row(query);
        }
    }
    return out + ']';
}

}  // namespace

History::History(Journal journal) : m_journal(std::move(journal)) {
    static std::atomic<int> next{0};
    m_connection = QStringLiteral("linewarden-hub-history-%1").arg(next++);
}

History::~History() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(m_connection)) QSqlDatabase::removeDatabase(m_connection);
}

Result<> History::open(const std::string& path) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return Result<>::failure("the Qt SQL SQLite driver is not installed (libqt6sql6-sqlite)");
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(q(path));
    // Another writer holding the file briefly is waited for, not failed on.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        return Result<>::failure("cannot open the history " + path + ": " +
                                 db.lastError().text().toStdString());
    for (const char* sql : kSchema) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(sql)))
            return Result<>::failure("cannot use the history " + path + ": " +
                                     query.lastError().text().toStdString());
    }
    m_open = true;
    return {};
}

void History::failed(const QString& what) {
    ++m_failed;
    m_problem = what.toStdString();
    if (!m_told && m_journal) {
        m_journal("history cannot be written (" + m_problem +
               "); the live view goes on, what is not stored is counted");
    }
    m_told = true;
}

bool History::exec(const QString& sql, const std::function<void(QSqlQuery&)>& bind) {
    if (!m_open) return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.prepare(sql)) {
        failed(query.lastError().text());
        return false;
    }
    bind(query);
    if (!query.exec()) {
        failed(query.lastError().text());
        return false;
    }
    if (m_told) {
        m_told = false;
        if (m_journal) m_journal("history is written again");
        m_problem.clear();
    }
    return true;
}

void History::unitChanged(const std::string& site, const UnitDoc& u, const std::string& json,
                          std::int64_t received) {
    exec(QStringLiteral("INSERT INTO unit_change (site, unit, state, since, received, doc) "
                        "VALUES (?, ?, ?, ?, ?, ?)"),
         [&](QSqlQuery& query) {
             query.addBindValue(q(site));
             query.addBindValue(u.unit);
             query.addBindValue(q(u.state));
             query.addBindValue(q(u.since));
             query.addBindValue(static_cast<qlonglong>(received));
             query.addBindValue(q(json));
         });
}

void History::event(const std::string& site, const EventDoc& e, const std::string& json,
                    std::int64_t received) {
    exec(QStringLiteral("INSERT OR IGNORE INTO event (site, seq, kind, at, received, doc) "
                        "VALUES (?, ?, ?, ?, ?, ?)"),
         [&](QSqlQuery& query) {
             query.addBindValue(q(site));
             query.addBindValue(static_cast<qlonglong>(e.seq));
             query.addBindValue(q(e.kind));
             query.addBindValue(q(e.at));
             query.addBindValue(static_cast<qlonglong>(received));
             query.addBindValue(q(json));
         });
}

void History::record(const std::string& site, const std::string& text, std::int64_t received) {
    exec(QStringLiteral("INSERT INTO record (site, received, text) VALUES (?, ?, ?)"),
         [&](QSqlQuery& query) {
             query.addBindValue(q(site));
             query.addBindValue(static_cast<qlonglong>(received));
             query.addBindValue(QByteArray::fromStdString(text));
         });
}

void History::action(const std::string& site, const std::string& alarm, const std::string& action,
                     const std::string& by, const std::string& reason, const std::string& until,
                     std::int64_t at) {
    exec(QStringLiteral("INSERT INTO action (site, alarm, action, by, reason, until, received) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?)"),
         [&](QSqlQuery& query) {
             for (const std::string* v : {&site, &alarm, &action, &by, &reason, &until}) query.addBindValue(q(*v));
             query.addBindValue(static_cast<qlonglong>(at));
         });
}

void History::online(const std::string& site, bool on, std::int64_t received) {
    exec(QStringLiteral("INSERT INTO online (site, online, received) VALUES (?, ?, ?)"),
         [&](QSqlQuery& query) {
             query.addBindValue(q(site));
             query.addBindValue(on ? 1 : 0);
             query.addBindValue(static_cast<qlonglong>(received));
         });
}

std::int64_t History::prune(int days, std::int64_t now) {
    const qlonglong before = now - days * kDayMs;
    std::int64_t dropped = 0;
    for (const char* table : {"unit_change", "event", "record", "online", "action", "alarm"}) {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        query.prepare(QStringLiteral("DELETE FROM %1 WHERE received < ?").arg(QLatin1String(table)));
        query.addBindValue(before);
        if (!m_open || !query.exec()) {
            if (m_open) failed(query.lastError().text());
            continue;
        }
        dropped += query.numRowsAffected();
    }
    return dropped;
}

std::string History::eventsJson(const std::string& site, std::int64_t afterId, int limit) {
    if (!m_open) return "[]";
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT id, site, received, doc FROM event WHERE id > ? AND "
                                 "(? = '' OR site = ?) ORDER BY id LIMIT ?"));
    query.addBindValue(static_cast<qlonglong>(afterId));
    query.addBindValue(q(site));
    query.addBindValue(q(site));
    query.addBindValue(limit);
    // The document was checked when it came and is stored as it came.
    return rowsJson(query, [](const QSqlQuery& r) {
        return "{\"id\":" + std::to_string(r.value(0).toLongLong()) +
               ",\"site\":" + jsonQuote(r.value(1).toString().toStdString()) +
               ",\"received\":" + std::to_string(r.value(2).toLongLong()) +
               ",\"event\":" + r.value(3).toString().toStdString() + "}";
    });
}

std::string History::historyJson(const std::string& site, std::int64_t from, std::int64_t to,
                                 int limit) {
    if (!m_open) return "[]";
    QSqlQuery query = siteRange(m_connection,
                                QStringLiteral("SELECT id, received, doc FROM unit_change WHERE site = ? AND "
                                               "received >= ? AND received < ? ORDER BY id LIMIT ?"),
                                site, from, to);
    query.addBindValue(limit);
    return rowsJson(query, [](const QSqlQuery& r) {
        return "{\"id\":" + std::to_string(r.value(0).toLongLong()) +
               ",\"received\":" + std::to_string(r.value(1).toLongLong()) +
               ",\"unit\":" + r.value(2).toString().toStdString() + "}";
    });
}

std::string History::recordsText(const std::string& site, std::int64_t from, std::int64_t to) {
    std::string out;
    if (!m_open) return out;
    QSqlQuery query = siteRange(m_connection,
                                QStringLiteral("SELECT text FROM record WHERE site = ? AND received >= ? AND "
                                               "received < ? ORDER BY id"),
                                site, from, to);
    if (!query.exec()) return out;
    while (query.next()) out += query.value(0).toByteArray().toStdString();
    return out;
}

void History::alarm(const std::string& site, const std::string& alarm, const std::string& what,
                    std::int64_t at) {
    exec(QStringLiteral("INSERT INTO alarm (site, alarm, what, received) VALUES (?, ?, ?, ?)"),
         [&](QSqlQuery& query) {
             for (const std::string* v : {&site, &alarm, &what}) query.addBindValue(q(*v));
             query.addBindValue(static_cast<qlonglong>(at));
         });
}

std::int64_t History::alarmsOpened(const std::string& site, std::int64_t from, std::int64_t to) {
    if (!m_open) return 0;
    QSqlQuery query = siteRange(m_connection,
                                QStringLiteral("SELECT count(*) FROM alarm WHERE site = ? AND what = 'opened' AND "
                                               "received >= ? AND received < ?"),
                                site, from, to);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

}  // namespace lw::hub
