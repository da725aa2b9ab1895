// Block arithmetic: split, time base, scaling and clamp, keep interval.

#include <QTest>
#include <cmath>
#include <limits>

#include "acquisition/blockmath.h"
#include "acqtest.h"

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
        const SampleBlock lists = splitScans(values.constData(), count, capacity);
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

    // Blocks of any size, however they arrived: the k-th scan since the
    // restart has the key k / 4000 s, and every interval-th scan is kept with
    // the values of that very scan.
    void keysCountScans_data()
    {
        QTest::addColumn<QVector<int>>("blocks"); // scans per block
        QTest::addColumn<int>("interval");
        QTest::newRow("blocks of 100, all kept") << QVector<int>(10, 100) << 1;
        QTest::newRow("varying sizes, every 10th")
            << QVector<int>{1, 37, 200, 0, 63, 99, 100, 2, 198} << 10;
        QTest::newRow("every 333rd across blocks")
            << QVector<int>{150, 200, 7, 200, 200, 43} << 333;
        QTest::newRow("single scans") << QVector<int>(50, 1) << 3;
    }
    void keysCountScans()
    {
        QFETCH(QVector<int>, blocks);
        QFETCH(int, interval);
        TimeBase timeBase(cardScanRate);
        const TemperatureScale tScale = temperatureScale(400, 3600);
        qint64 scan = 0; // scans counted so far
        QVector<qint64> keptScans;
        for (int size : blocks) {
            // Volts that tell the scans apart.
            QVector<double> u1, i, t, u2;
            for (int j = 0; j < size; ++j) {
                const double v = double((scan + j + 1) % 1000) / 100.0;
                u1 << v;
                i << v / 2;
                t << v / 4;
                u2 << v / 8;
            }
            const SampleBlock kept = keepSamples(timeBase, {u1, i, t, u2}, interval, tScale);
            QCOMPARE(kept.u1.size(), kept.keys.size());
            QCOMPARE(kept.i.size(), kept.keys.size());
            QCOMPARE(kept.t.size(), kept.keys.size());
            QCOMPARE(kept.u2.size(), kept.keys.size());
            for (int k = 0; k < kept.keys.size(); ++k) {
                const qint64 s = qRound64(kept.keys[k] * 4000.0);
                verifyKeyOfScan(kept.keys[k], s); // a whole number of scans
                QVERIFY(s > scan && s <= scan + size);
                const double v = double(s % 1000) / 100.0;
                QCOMPARE(kept.u1[k], scaleU(v));
                QCOMPARE(kept.i[k], scaleI(v / 2));
                QCOMPARE(kept.t[k], scaleT(v / 4, tScale));
                QCOMPARE(kept.u2[k], scaleU(v / 8));
                keptScans << s;
            }
            scan += size;
            QCOMPARE(timeBase.scans(), quint64(scan));
        }
        // The first scan, then every interval-th.
        QCOMPARE(keptScans.size(), int((scan + interval - 1) / interval));
        for (int k = 0; k < keptScans.size(); ++k)
            QCOMPARE(keptScans[k], qint64(k) * interval + 1);
    }

    // Days or years of acquisition: the scan count passes 32 bits and the
    // keep counter wraps, while keys stay exact and rising.
    void longRuns_data()
    {
        QTest::addColumn<quint64>("startScans");
        QTest::newRow("12.4 days: past 32 bits") << quint64(0xFFFFFFFFull - 50);
        QTest::newRow("8.7 years") << (quint64(1) << 40);
        QTest::newRow("70 years") << (quint64(1) << 43);
    }
    void longRuns()
    {
        QFETCH(quint64, startScans);
        TimeBase timeBase(cardScanRate, startScans, std::numeric_limits<int32_t>::max() - 40);
        double previous = double(startScans) / 4000.0;
        for (int k = 1; k <= 100; ++k) {
            double key = 0;
            QVERIFY(timeBase.countScan(1, key)); // keeps all while its counter wraps
            verifyKeyOfScan(key, startScans + k);
            QVERIFY(key > previous);
            previous = key;
        }
        QCOMPARE(timeBase.scans(), startScans + 100);
        QCOMPARE(timeBase.sampleCounter(), std::numeric_limits<int32_t>::min() + 59);
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
