// Block arithmetic: split, step, scaling and clamp, keep interval.

#include <QTest>
#include <cmath>
#include <limits>

#include "acquisition/blockmath.h"
#include "acquisitiontests.h"

namespace {

class BlockMathTest : public QObject
{
    Q_OBJECT

private slots:
    void split_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("scans");
        QTest::newRow("nothing read") << 0 << 800 << 0;
        QTest::newRow("negative count") << -4 << 800 << 0;
        QTest::newRow("100 values") << 100 << 800 << 25;
        QTest::newRow("400 values") << 400 << 800 << 100;
        QTest::newRow("partial last scan") << 401 << 800 << 101;
        QTest::newRow("full array") << 800 << 800 << 200;
        QTest::newRow("count beyond the array") << 1000 << 800 << 200;
    }
    void split()
    {
        QFETCH(int, count);
        QFETCH(int, capacity);
        QFETCH(int, scans);
        // Value 4k + c is channel c of scan k; past the count the array is zero-filled.
        QVector<double> values(capacity, 0.0);
        for (int v = 0; v < std::min(count, capacity); ++v)
            values[v] = 1000.0 * (v % 4) + v / 4 + 1;
        const ChannelLists lists = splitScans(values.constData(), count, capacity);
        QCOMPARE(lists.u1.size(), scans);
        QCOMPARE(lists.i.size(), scans);
        QCOMPARE(lists.t.size(), scans);
        QCOMPARE(lists.u2.size(), scans);
        for (int k = 0; k < scans; ++k) {
            const QVector<double> *channel[4] = {&lists.u1, &lists.i, &lists.t, &lists.u2};
            for (int c = 0; c < 4; ++c) {
                const double expected = 4 * k + c < count ? 1000.0 * c + k + 1 : 0.0;
                QCOMPARE(channel[c]->at(k), expected);
            }
        }
    }

    void step_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("step");
        QTest::newRow("26 ms / 25, single precision") << 26.0 << 25 << 1.0399999618530273;
        QTest::newRow("25 ms / 100") << 25.0 << 100 << 0.25;
        QTest::newRow("fraction truncated") << 25.9 << 100 << 0.25;
        QTest::newRow("100 ms / 3") << 100.0 << 3 << double(100.0f / 3.0f);
        QTest::newRow("0 ms becomes 1 ms per sample") << 0.0 << 100 << 1.0;
        QTest::newRow("below 1 ms") << 0.9 << 25 << 1.0;
        QTest::newRow("clock went back") << -40.0 << 25 << 1.0;
        QTest::newRow("NaN") << std::nan("") << 25 << 1.0;
        QTest::newRow("beyond 32 bits saturates")
            << 1e12 << 100 << double(float(4294967295u) / 100.0f);
    }
    void step()
    {
        QFETCH(double, elapsed);
        QFETCH(int, n);
        QFETCH(double, step);
        QCOMPARE(sampleStepMs(elapsed, n), step);
    }

    void scaling_data()
    {
        QTest::addColumn<int>("channel"); // 0 U1/U2, 1 I, 2 T
        QTest::addColumn<double>("volts");
        QTest::addColumn<QString>("minTemp");
        QTest::addColumn<QString>("maxTemp");
        QTest::addColumn<double>("stored");
        QTest::newRow("U 1 V") << 0 << 1.0 << ""
                               << "" << 50.0;
        QTest::newRow("U 8.5 V") << 0 << 8.5 << ""
                                 << "" << 425.0;
        QTest::newRow("U -0.2 V clamped") << 0 << -0.2 << ""
                                          << "" << 0.0;
        QTest::newRow("I 0.5 V") << 1 << 0.5 << ""
                                 << "" << 50.0;
        QTest::newRow("I -1 V clamped") << 1 << -1.0 << ""
                                        << "" << 0.0;
        QTest::newRow("T 5 V in 400..3600") << 2 << 5.0 << "400"
                                            << "3600" << 200.0;
        QTest::newRow("T 0 V is min / 10") << 2 << 0.0 << "400"
                                           << "3600" << 40.0;
        QTest::newRow("T 10 V in 400..3600") << 2 << 10.0 << "400"
                                             << "3600" << 360.0;
        QTest::newRow("T below min clamped") << 2 << -2.0 << "400"
                                             << "3600" << 0.0;
        QTest::newRow("T no number as min") << 2 << 5.0 << "abc"
                                            << "3600" << 180.0;
        QTest::newRow("T exponent text") << 2 << 1.0 << "1e2"
                                         << "1.1e3" << 20.0;
        QTest::newRow("T limits reversed") << 2 << 5.0 << "3600"
                                           << "400" << 200.0;
    }
    void scaling()
    {
        QFETCH(int, channel);
        QFETCH(double, volts);
        QFETCH(QString, minTemp);
        QFETCH(QString, maxTemp);
        QFETCH(double, stored);
        double raw = 0.0;
        switch (channel) {
        case 0: raw = scaleU(volts); break;
        case 1: raw = scaleI(volts); break;
        default: raw = scaleT(volts, temperatureScale(editNumber(minTemp), editNumber(maxTemp)));
        }
        QCOMPARE(clampBelowZero(raw), stored);
    }

    void clampKeepsNaN()
    {
        QVERIFY(std::isnan(clampBelowZero(std::numeric_limits<double>::quiet_NaN())));
        QCOMPARE(clampBelowZero(-std::numeric_limits<double>::infinity()), 0.0);
    }

    void keep_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("keptOf1000"); // samples 0..999 kept
        QTest::newRow("1000") << "1000" << 1 << 1000;
        QTest::newRow("100") << "100" << 10 << 100;
        QTest::newRow("10") << "10" << 100 << 10;
        QTest::newRow("1") << "1" << 1000 << 1;
        QTest::newRow("3") << "3" << 333 << 4;
        QTest::newRow("-100 like 100") << "-100" << 10 << 100;
        QTest::newRow("0 keeps all") << "0" << 1 << 1000;
        QTest::newRow("no number keeps all") << "abc" << 1 << 1000;
        QTest::newRow("empty keeps all") << "" << 1 << 1000;
        QTest::newRow("5000 keeps all") << "5000" << 1 << 1000;
        QTest::newRow("1001 keeps all") << "1001" << 1 << 1000;
        QTest::newRow("-5000 keeps all") << "-5000" << 1 << 1000;
        QTest::newRow("-1000") << "-1000" << 1 << 1000;
        QTest::newRow("beyond int") << "99999999999" << 1 << 1000;
    }
    void keep()
    {
        QFETCH(QString, text);
        QFETCH(int, interval);
        QFETCH(int, keptOf1000);
        QCOMPARE(keepInterval(text), interval);
        int kept = 0;
        for (int32_t counter = 0; counter < 1000; ++counter)
            kept += keepSample(counter, keepInterval(text)) ? 1 : 0;
        QCOMPARE(kept, keptOf1000);
        QVERIFY(keepSample(0, interval)); // the first sample after a reset is kept
    }

    void counterWrapsWithoutOverflow()
    {
        const int32_t wrapped = nextSampleCounter(std::numeric_limits<int32_t>::max());
        QCOMPARE(wrapped, std::numeric_limits<int32_t>::min());
        QCOMPARE(nextSampleCounter(-1), 0);
        QVERIFY(keepSample(wrapped, 1));
    }
};

} // namespace

int runBlockMathTests(int argc, char **argv)
{
    BlockMathTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_blockmath.moc"
