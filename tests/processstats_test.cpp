// The process_* figures against what this test process does.
#include "platform/processstats.h"

#include <QtTest>
#include <cstdio>
#include <ctime>

class ProcessStatsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void figuresFollowTheProcess() {
        const auto before = lw::readProcessSample();
        QVERIFY(before);
        const double now = static_cast<double>(std::time(nullptr));
        QVERIFY(before->startTime <= now + 1 && before->startTime > now - 600);
        QVERIFY(before->residentBytes > 1 << 20);
        QVERIFY(before->virtualBytes >= before->residentBytes);
        QVERIFY(before->maxFds && *before->maxFds > 0);

        std::FILE* extra = std::tmpfile();
        // Two tenths of a second of CPU, however busy the machine is.
        const std::clock_t spin = std::clock() + CLOCKS_PER_SEC / 5;
        volatile unsigned sink = 0;
        while (std::clock() < spin) sink = sink + 1;
        const auto after = lw::readProcessSample();
        QVERIFY(after);
        QCOMPARE(after->openFds, before->openFds + 1);
        QVERIFY(after->cpuSeconds >= before->cpuSeconds + 0.15);
        std::fclose(extra);
    }
};

QTEST_GUILESS_MAIN(ProcessStatsTest)
#include "processstats_test.moc"
