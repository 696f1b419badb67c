// The local wall clock: the zone looked up once a minute, and still followed.
#include "platform/localtime.h"

#include <QDateTime>
#include <QtTest>

#include "core/timetext.h"

using namespace std::chrono;
using lw::LocalTime;

namespace {

sys_time<milliseconds> utcAt(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
    return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s} +
           milliseconds{ms};
}

// The process's TZ for the length of one test, put back afterwards.
class ZoneScope {
public:
    ZoneScope() : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ")) {}
    ~ZoneScope() {
        if (m_had) {
            qputenv("TZ", m_old);
        } else {
            qunsetenv("TZ");
        }
    }
    void set(const char* zone) { qputenv("TZ", zone); }

private:
    bool m_had;
    QByteArray m_old;
};

}  // namespace

class LocalTimeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theZoneIsLookedUpOnceAMinute() {
        auto now = utcAt(2002, 3, 1, 21, 15, 0);
        int lookups = 0;
        LocalTime clock([&] { return now; },
                        [&](sys_seconds) {
                            ++lookups;
                            return seconds{3600};
                        });
        // A minute of clock ticks, ten a second.
        for (int i = 0; i < 600; ++i) {
            const auto s = clock.stamp();
            if (i == 0) QCOMPARE(s.time, std::string("10:15:00 PM"));
            if (i == 599) QCOMPARE(s.time, std::string("10:15:59 PM"));
            now += milliseconds{100};
        }
        QCOMPARE(lookups, 1);
        const auto s = clock.stamp();
        QCOMPARE(s.time, std::string("10:16:00 PM"));
        QCOMPARE(s.date, std::string("3/1/2002"));
        QCOMPARE(s.seconds, std::string("00"));
        QCOMPARE(lookups, 2);
        // The clock set back a minute is looked up again too.
        now -= minutes{1};
        QCOMPARE(clock.stamp().time, std::string("10:15:00 PM"));
        QCOMPARE(lookups, 3);
    }

    void anOffsetChangeShowsAtTheMinuteItHappens() {
        const auto change = utcAt(2002, 3, 31, 1, 0, 0);
        auto now = change - milliseconds{100};
        LocalTime clock([&] { return now; },
                        [&](sys_seconds at) { return at < change ? hours{1} : hours{2}; });
        QCOMPARE(clock.stamp().time, std::string("1:59:59 AM"));
        now = change;
        QCOMPARE(clock.stamp().time, std::string("3:00:00 AM"));
        // The day turns on local time, not on UTC.
        now = utcAt(2002, 3, 31, 22, 59, 59, 900);
        QCOMPARE(clock.stamp().date, std::string("4/1/2002"));
        QCOMPARE(clock.stamp().time, std::string("12:59:59 AM"));
    }

    void theSystemZoneIsFollowedWhenItChanges() {
        ZoneScope zone;
        zone.set("UTC0");
        auto now = utcAt(2002, 3, 1, 12, 0, 30);
        LocalTime clock([&] { return now; });
        QCOMPARE(clock.stamp().time, std::string("12:00:30 PM"));
        zone.set("EST5");
        now = utcAt(2002, 3, 1, 12, 1, 0);
        QCOMPARE(clock.stamp().time, std::string("7:01:00 AM"));
        // Daylight saving time by the system's own rules for the zone.
        zone.set("CET-1CEST,M3.5.0,M10.5.0/3");
        now = utcAt(2002, 3, 31, 0, 59, 59, 500);
        QCOMPARE(clock.stamp().time, std::string("1:59:59 AM"));
        now = utcAt(2002, 3, 31, 1, 0, 0);
        QCOMPARE(clock.stamp().time, std::string("3:00:00 AM"));
        now = utcAt(2002, 10, 27, 1, 0, 0);
        QCOMPARE(clock.stamp().time, std::string("2:00:00 AM"));
        QCOMPARE(clock.stamp().date, std::string("10/27/2002"));
    }

    // Counted from the stamp last given: a second that turned since is due at
    // once, so a tick never sleeps past a second it has not seen.
    void theNextSecondIsTimedFromTheLastStamp() {
        auto now = utcAt(2002, 3, 1, 21, 15, 7, 250);
        LocalTime clock([&] { return now; }, [](sys_seconds) { return seconds{-18000}; });
        QVERIFY(!clock.untilNextSecond().has_value());  // no stamp yet
        QCOMPARE(clock.stamp().seconds, std::string("07"));
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{750}));
        now += milliseconds{749};
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{1}));
        now += milliseconds{1};
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{0}));
        now += milliseconds{2000};
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{0}));
        QCOMPARE(clock.stamp().seconds, std::string("10"));  // 21:15:10.000
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{1000}));
        // Before 1970 too.
        now = sys_time<milliseconds>{milliseconds{-1500}};
        QCOMPARE(clock.stamp().seconds, std::string("58"));
        QCOMPARE(clock.untilNextSecond(), std::optional(milliseconds{500}));
    }

    void theDefaultClockReadsTheSystemsLocalTime() {
        LocalTime clock;
        // One of the two readings around it, whichever second it fell in.
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QDateTime before = QDateTime::currentDateTime();
            const auto s = clock.stamp();
            const QDateTime after = QDateTime::currentDateTime();
            if (before.time().second() != after.time().second()) continue;
            const QDate d = before.date();
            const QTime t = before.time();
            const lw::CivilTime expect{d.year(),   d.month(),  d.day(), t.hour(),
                                       t.minute(), t.second(), 0};
            QCOMPARE(s.time, lw::timeText(expect));
            QCOMPARE(s.date, lw::dateText(expect));
            return;
        }
        QFAIL("no reading fell within one second");
    }
};

QTEST_GUILESS_MAIN(LocalTimeTest)
#include "localtime_test.moc"
