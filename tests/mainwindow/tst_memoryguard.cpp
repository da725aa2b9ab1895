// The memory guard's arithmetic: the points that fit before a container's
// growth would pass the budget, and over a run the one warning and the stop.

#include <QtTest>

#include <algorithm>

#include "mainwindow/memoryguard.h"

namespace {
// Which rule gives the one warning of a run.
enum class Warning { ByShare, ByTimeLeft, AtOnce };
} // namespace

Q_DECLARE_METATYPE(Warning)

namespace {

RecordingMemory fourContainers(const std::vector<qint64> &sizes, qint64 capacity,
                               double otherPerPoint = 0)
{
    RecordingMemory use;
    for (const qint64 size : sizes)
        use.containers.push_back({size, capacity});
    use.otherBytesPerPoint = otherPerPoint;
    return use;
}

class MemoryGuardTest : public QObject
{
    Q_OBJECT

private slots:
    // Four containers of 1000 points (16 bytes each, 64000 bytes), 900 full.
    // A growth to 2064 holds the old 16000 bytes until the points have moved.
    void pointsUntilBudget_data()
    {
        QTest::addColumn<std::vector<qint64>>("sizes");
        QTest::addColumn<double>("otherPerPoint");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<qint64>("points");
        const std::vector<qint64> even{900, 900, 900, 900};
        QTest::newRow("already past the budget") << even << 0.0 << qint64(50000) << qint64(0);
        // The first growth needs 64000 + 17024 + 16000 = 97024.
        QTest::newRow("no growth fits") << even << 0.0 << qint64(97023) << qint64(100);
        // All four grow (the last needs 148096); growing again needs 199168.
        QTest::newRow("one growth each, not two") << even << 0.0 << qint64(150000) << qint64(1164);
        // All four grow twice, the last second growth needing 301312 exactly.
        QTest::newRow("two growths each, just")
            << even << 0.0 << qint64(301312) << qint64(4192 - 900);
        QTest::newRow("two growths each, a byte short")
            << even << 0.0 << qint64(301311) << qint64(2064 - 900);
        // The fullest container decides when the next growth comes.
        QTest::newRow("one container fuller")
            << std::vector<qint64>{990, 900, 500, 0} << 0.0 << qint64(97023) << qint64(10);
        // The index's 4 x 10 bytes per point reach the budget first.
        QTest::newRow("the index decides") << even << 10.0 << qint64(66000) << qint64(50);
    }
    void pointsUntilBudget()
    {
        QFETCH(std::vector<qint64>, sizes);
        QFETCH(double, otherPerPoint);
        QFETCH(qint64, budget);
        QFETCH(qint64, points);
        RecordingMemory use = fourContainers(sizes, 1000, otherPerPoint);
        QCOMPARE(::pointsUntilBudget(use, budget), points);
        // A container may not pass the plot's limit of points either.
        use.maxPoints = use.points() + 7;
        QCOMPARE(::pointsUntilBudget(use, budget), std::min<qint64>(points, 7));
    }

    // A run at a steady rate, checked every 600 ms, the containers growing
    // as pointsUntilBudget expects: one warning, at 15 minutes left or at
    // 90 % of the points that fit, whichever is first; a stop at which the
    // next seconds of points still fit.
    void warnsOnceThenStops_data()
    {
        QTest::addColumn<double>("pointsPerSecond");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<Warning>("warning");
        QTest::newRow("60 MB at 64000 points/s")
            << 64000.0 << qint64(60) * 1024 * 1024 << Warning::AtOnce;
        QTest::newRow("an hour or so")
            << 1000.0 << qint64(400) * 1024 * 1024 << Warning::ByTimeLeft;
        QTest::newRow("most of a day")
            << 1000.0 << qint64(8) * 1024 * 1024 * 1024 << Warning::ByShare;
    }
    void warnsOnceThenStops()
    {
        QFETCH(double, pointsPerSecond);
        QFETCH(qint64, budget);
        QFETCH(Warning, warning);
        RecordingMemory use = fourContainers({0, 0, 0, 0}, 0, 0.6);
        const auto grow = [&](qint64 points) {
            for (ContainerUse &c : use.containers) {
                c.size = points;
                while (c.capacity < c.size)
                    c.capacity = grownCapacity(c.capacity);
            }
            use.otherBytes = qint64(0.6 * 4 * double(points));
        };
        MemoryGuard guard;
        guard.begin(budget, use, 0, 4000);
        qint64 warnedAt = -1, warnedPoints = 0, stoppedAt = -1;
        double leftAtWarning = 0;
        for (qint64 ms = 600; stoppedAt < 0 && ms < 48 * 3600 * 1000; ms += 600) {
            grow(qint64(pointsPerSecond * double(ms) / 1000));
            switch (guard.update(use, ms)) {
            case MemoryGuard::Action::Warn:
                QCOMPARE(warnedAt, qint64(-1));
                warnedAt = ms;
                warnedPoints = use.points();
                leftAtWarning = guard.secondsLeft();
                break;
            case MemoryGuard::Action::Stop: stoppedAt = ms; break;
            case MemoryGuard::Action::None: break;
            }
        }
        QVERIFY(stoppedAt > 0);
        QVERIFY(warnedAt > 0 && warnedAt < stoppedAt);
        QVERIFY(use.heldBytes() <= budget);
        // The points that still come after the stop fit without a growth.
        QVERIFY(::pointsUntilBudget(use, budget) >=
                qint64(pointsPerSecond * (MemoryGuard::stopMarginSeconds - 0.6)));
        // Which rule warned, told by the outcome, so that a fault cannot pass
        // by switching to another row's rule.
        const Warning seen = leftAtWarning > MemoryGuard::warnSecondsLeft ? Warning::ByShare
                             : warnedAt == 600                            ? Warning::AtOnce
                                                                          : Warning::ByTimeLeft;
        QCOMPARE(int(seen), int(warning));
        const double warnedBeforeStop = double(stoppedAt - warnedAt) / 1000;
        switch (warning) {
        case Warning::ByShare: {
            QVERIFY2(leftAtWarning > MemoryGuard::warnSecondsLeft,
                     qPrintable(QString::number(leftAtWarning)));
            const double share = double(warnedPoints) / double(use.points());
            QVERIFY2(share >= 0.89 && share <= 0.91, qPrintable(QString::number(share)));
            break;
        }
        case Warning::ByTimeLeft:
            QVERIFY(stoppedAt > 20 * 60 * 1000);
            QVERIFY2(std::abs(warnedBeforeStop - MemoryGuard::warnSecondsLeft) < 1.5,
                     qPrintable(QString::number(warnedBeforeStop)));
            break;
        case Warning::AtOnce:
            QCOMPARE(warnedAt, qint64(600)); // less than 15 minutes from the start
            break;
        }
    }

    void noPointsComingNoStop()
    {
        RecordingMemory use = fourContainers({900, 900, 900, 900}, 1000);
        MemoryGuard guard;
        guard.begin(150000, use, 0, 0);
        for (qint64 ms = 600; ms < 60000; ms += 600)
            QCOMPARE(int(guard.update(use, ms)), int(MemoryGuard::Action::None));
        QVERIFY(guard.secondsLeft() < 0);
        // Past the budget (a recording opened meanwhile), it stops at once.
        QCOMPARE(int(guard.update(fourContainers({900, 900, 900, 900}, 3000), 60600)),
                 int(MemoryGuard::Action::Stop));
    }

    void openAndClearDuringARun_data()
    {
        QTest::addColumn<qint64>("after"); // points per container after the event
        QTest::newRow("a file opened") << qint64(1500000);
        QTest::newRow("cleared") << qint64(0);
    }
    // The rate is the acquisition's: points opened or cleared during a run
    // move the estimate by their memory only, and the outlook is warned of anew.
    void openAndClearDuringARun()
    {
        QFETCH(qint64, after);
        const qint64 budget = qint64(200) << 20; // less than 15 minutes from the start
        RecordingMemory use = fourContainers({0, 0, 0, 0}, 0);
        const auto set = [&use](qint64 points) {
            for (ContainerUse &c : use.containers) {
                c.size = points;
                while (c.capacity < c.size)
                    c.capacity = grownCapacity(c.capacity);
            }
        };
        MemoryGuard guard;
        guard.begin(budget, use, 0, 4000);
        qint64 held = 0;
        int warnings = 0;
        for (qint64 ms = 600; ms <= 120000; ms += 600) {
            use.livePoints = 4000 * ms / 1000;
            if (ms == 60000) {
                held = after - use.livePoints;
                guard.outlookChanged();
            }
            set(std::max<qint64>(0, held + use.livePoints));
            const MemoryGuard::Action action = guard.update(use, ms);
            if (action == MemoryGuard::Action::Stop)
                break;
            warnings += action == MemoryGuard::Action::Warn;
            const double expected =
                double(::pointsUntilBudget(use, budget)) / 4000 - MemoryGuard::stopMarginSeconds;
            QVERIFY2(std::abs(guard.secondsLeft() - expected) < 1,
                     qPrintable(QString::number(guard.secondsLeft() - expected)));
        }
        QCOMPARE(warnings, 2); // at once, and again after the event
    }

    void limitFromEnvironment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("bytes"); // -1: none
        QTest::newRow("60") << QByteArray("60") << qint64(60) * 1024 * 1024;
        QTest::newRow("0.5") << QByteArray(" 0.5 ") << qint64(512) * 1024;
        QTest::newRow("0") << QByteArray("0") << qint64(-1);
        QTest::newRow("not a number") << QByteArray("lots") << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1);
    }
    void limitFromEnvironment()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, bytes);
        qputenv("KORVEL_MEMORY_LIMIT_MB", value);
        const std::optional<qint64> limit = memoryLimitFromEnvironment();
        qunsetenv("KORVEL_MEMORY_LIMIT_MB");
        QCOMPARE(limit.value_or(-1), bytes);
    }
};

} // namespace

int runMemoryGuardTests(int argc, char **argv)
{
    MemoryGuardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_memoryguard.moc"
