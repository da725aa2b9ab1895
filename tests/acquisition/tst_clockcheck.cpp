// The clock check on a fake clock, with delivery steady, jittered or in bursts.

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>

#include "acquisition/clockcheck.h"

struct ClockFeed
{
    double factor;      // true rate / nominal
    int window;         // seconds
    int burst;          // blocks per delivery, at most
    double maxDelay;    // random lateness of a delivery, beyond 50 ms after its last block
    int seconds;        // of the run, twice if paused
    bool pause = false; // 100 s and a restart between two runs
};
Q_DECLARE_METATYPE(ClockFeed)

namespace {

class ClockCheckTest : public QObject
{
    Q_OBJECT

private slots:
    // A row that is not off is never off. Every rate measured is within
    // rateTolerance; 0 expects no rate at the end, below 0 checks none.
    void judgesTheCardsClock_data()
    {
        QTest::addColumn<ClockFeed>("feed");
        QTest::addColumn<bool>("off");
        QTest::addColumn<double>("rateTolerance");
        QTest::newRow("steady") << ClockFeed{1, 10, 1, 0, 30} << false << 1e-3;
        QTest::newRow("half rate") << ClockFeed{0.5, 10, 1, 0, 30} << true << 1e-3;
        QTest::newRow("double rate") << ClockFeed{2, 10, 1, 0, 30} << true << 1e-3;
        QTest::newRow("1.5 % fast") << ClockFeed{1.015, 10, 1, 0, 30} << true << 1e-3;
        QTest::newRow("0.5 % fast") << ClockFeed{1.005, 10, 1, 0, 30} << false << 1e-3;
        // Bursts of up to 9 blocks, the most a buffer of a quarter second delivers.
        QTest::newRow("bursts of up to 9") << ClockFeed{1, 10, 9, 0, 60} << false << 1e-3;
        QTest::newRow("bursts up to 1 s late") << ClockFeed{1, 10, 9, 1, 600} << false << -1.;
        QTest::newRow("late, 60 s window") << ClockFeed{1, 60, 9, 1, 600} << false << 0.01;
        QTest::newRow("half rate, late bursts") << ClockFeed{0.5, 10, 9, 1, 60} << true << -1.;
        QTest::newRow("jitter +-50 ms") << ClockFeed{1, 10, 1, 0.1, 300} << false << 5e-3;
        QTest::newRow("window not filled") << ClockFeed{1, 10, 1, 0, 9} << false << 0.0;
        QTest::newRow("restart, pause") << ClockFeed{1, 10, 1, 0, 30, true} << false << 1e-3;
    }
    void judgesTheCardsClock()
    {
        QFETCH(ClockFeed, feed);
        QFETCH(bool, off);
        QFETCH(double, rateTolerance);
        QRandomGenerator rng(11);
        ClockCheck check(4000, feed.window);
        bool everOff = false;
        double worst = 0; // deviation of any rate measured
        const double period = 100 / (4000 * feed.factor);
        for (int run = 0; run <= int(feed.pause); ++run) {
            if (run > 0)
                check.restart();
            QVERIFY(!check.measuredRate());
            // A clock that has run for a day; 50 ms of latency.
            const double start = 86400 + run * (feed.seconds + 100.0);
            double arrival = start;
            for (qint64 block = 0, size = 1; block * period < feed.seconds; block += size) {
                size = 1 + rng.bounded(feed.burst);
                const double delivered =
                    start + (block + size) * period + 0.05 + rng.generateDouble() * feed.maxDelay;
                for (qint64 b = 1; b <= size; ++b) {
                    arrival = std::max(arrival, delivered);
                    check.addBlock((block + b) * 100, arrival);
                    everOff = everOff || check.off();
                    if (const auto rate = check.measuredRate())
                        worst = std::max(worst, std::abs(*rate / (4000 * feed.factor) - 1));
                }
            }
        }
        QCOMPARE(check.off(), off);
        QVERIFY(off || !everOff);
        QCOMPARE(check.measuredRate().has_value(), rateTolerance != 0);
        if (rateTolerance > 0)
            QVERIFY2(worst < rateTolerance, qPrintable(QString::number(worst)));
    }
};

} // namespace

int runClockCheckTests(int argc, char **argv)
{
    ClockCheckTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clockcheck.moc"
