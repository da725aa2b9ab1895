// The live run without a window: time base on the card's clock, keep rule
// across blocks, scaling by the limits in force, blocks landing inside an
// opened recording (value range, clear) and the points-added signal.

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "acquisition/liverun.h"
#include "acqtest.h"
#include "artsim.h"
#include "channelpoints.h"
#include "datafiles/recordings.h"
#include "mainwindow/lodgraph.h"

Q_DECLARE_METATYPE(Limit)

namespace {

QVector<double> filled(int n, double v)
{
    return QVector<double>(n, v);
}

SampleBlock block(int n, double v = 1)
{
    return {filled(n, v), filled(n, v), filled(n, v), filled(n, v)};
}

class LivePathTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<LiveRun> run;

private slots:
    void init() { run = std::make_unique<LiveRun>(recordingsFolder(), recordingsSizeLimit()); }
    void cleanup() { run.reset(); }

    void valuesFollowTheLimits()
    {
        run->setKeepEvery(1);
        QSignalSpy added(run.get(), &LiveRun::pointsAdded);
        run->processBlock({{1.0, -0.2}, {0.5, 2.0}, {5.0, 0.0}, {2.0, 9.0}}, 2.0);
        QCOMPARE(added.count(), 1);
        const double expected[4][2] = {{50.0, 0.0}, {50.0, 200.0}, {200.0, 40.0}, {100.0, 450.0}};
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(keysOf(run->store(), c), (QVector<double>{1 / 4000.0, 2 / 4000.0}));
            for (int j = 0; j < 2; ++j)
                QCOMPARE(run->store().channel(c).view().at(j).value, expected[c][j]);
        }
    }

    void keepRuleRunsAcrossBlocks_data()
    {
        QTest::addColumn<QString>("sampleText");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("stored");
        QTest::addColumn<bool>("refused"); // then "100", in force from the start, stays
        QTest::newRow("100: every 10th of 4 x 25") << "100" << 4 << 10 << false;
        QTest::newRow("1000: all") << "1000" << 4 << 100 << false;
        QTest::newRow("10: every 100th of 40 x 25") << "10" << 40 << 10 << false;
        QTest::newRow("1: every 1000th of 40 x 25") << "1" << 40 << 1 << false;
        for (const char *text : {"abc", "", "0", "-100", "3", "5000", "99999999999999", "100.0"})
            QTest::addRow("refused: \"%s\"", text) << text << 2 << 5 << true;
    }
    void keepRuleRunsAcrossBlocks()
    {
        QFETCH(QString, sampleText);
        QFETCH(int, blocks);
        QFETCH(int, stored);
        QFETCH(bool, refused);
        // As the sampling edit puts a text in force.
        const int rate = acceptedSampleRate(sampleText);
        QCOMPARE(rate == 0, refused);
        if (rate != 0)
            run->setKeepEvery(keepInterval(QString::number(rate)));
        for (int b = 0; b < blocks; ++b)
            run->processBlock(block(25), 25.0);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(run->store().count(c), stored);
        // The first kept sample is the first one, then every interval-th.
        const int interval = refused ? 10 : keepInterval(sampleText);
        QCOMPARE(run->keepEvery(), interval);
        const QVector<double> keys = keysOf(run->store(), 0);
        for (int k = 0; k < keys.size(); ++k)
            verifyKeyOfScan(keys[k], k * interval + 1);
    }

    // Clearing, and a new recording alone, start the time base at zero with
    // the next block; an empty block neither adds nor advances.
    void timeBaseRestarts_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::newRow("clear") << true;
        QTest::newRow("new recording, points kept") << false;
    }
    void timeBaseRestarts()
    {
        QFETCH(bool, clear);
        run->setKeepEvery(1);
        run->processBlock(block(25), 26.0);
        run->processBlock(block(25), 26.0);
        QSignalSpy added(run.get(), &LiveRun::pointsAdded);
        run->processBlock({}, 500.0);
        QCOMPARE(added.count(), 0);
        const QVector<double> before = keysOf(run->store(), 0);
        QCOMPARE(before.size(), 50);
        QVERIFY(std::is_sorted(before.begin(), before.end()));
        QCOMPARE(before.last(), 50 / 4000.0);

        if (clear)
            run->clear();
        else
            run->startNewRecording();
        QVERIFY(run->timeBaseRestartPending());
        QCOMPARE(run->store().count(0), clear ? 0 : 50);
        run->processBlock(block(25), 26.0);
        QVERIFY(!run->timeBaseRestartPending());
        const QVector<double> after = keysOf(run->store(), 0);
        QCOMPARE(after.size(), clear ? 25 : 75);
        QCOMPARE(after.first(), 1 / 4000.0);
    }

    // The card samples at exactly 4000 scans/s: keys count scans, whatever
    // the wall-clock time between the callbacks.
    void keysFollowTheCardClock_data()
    {
        QTest::addColumn<QVector<int>>("sizes");      // scans per block
        QTest::addColumn<QVector<double>>("elapsed"); // ms measured per block
        QTest::addColumn<int>("interval");
        QTest::newRow("burst: three at once, then a late one")
            << QVector<int>{100, 100, 100, 100} << QVector<double>{0, 0, 0, 100} << 1;
        QTest::newRow("slow callbacks")
            << QVector<int>{100, 100, 100} << QVector<double>{1000, 1000, 1000} << 1;
        QTest::newRow("varying sizes and times, every 10th")
            << QVector<int>{1, 200, 37, 150, 12} << QVector<double>{0.4, 60, 3, 250, 0} << 10;
    }
    void keysFollowTheCardClock()
    {
        QFETCH(QVector<int>, sizes);
        QFETCH(QVector<double>, elapsed);
        QFETCH(int, interval);
        run->setKeepEvery(interval);
        int scans = 0;
        for (int b = 0; b < sizes.size(); ++b) {
            run->processBlock(block(sizes[b]), elapsed[b]);
            scans += sizes[b];
        }
        const QVector<double> keys = keysOf(run->store(), 0);
        QCOMPARE(keys.size(), (scans + interval - 1) / interval);
        for (int k = 0; k < keys.size(); ++k)
            verifyKeyOfScan(keys[k], k * interval + 1);
    }

    // The value range of a graph follows points merged into its middle, also
    // where the points the summary compares stay the same (a flat recording
    // at two times).
    void valueRangeAfterBlocksInsideARecording()
    {
        run->setKeepEvery(1);
        QCustomPlot plot;
        QVector<QCPGraph *> graphs;
        for (int c = 0; c < 4; ++c)
            graphs << LodGraph::addTo(&plot, run->store(), c);
        QVector<QCPGraphData> recording;
        for (int k = 0; k < 2048; ++k)
            recording.append(QCPGraphData(k < 1024 ? 0.0 : 10.0, 1.0));
        mergePoints(run->store(), recording);
        for (QCPGraph *graph : graphs) {
            bool found = false;
            QCOMPARE(graph->getValueRange(found), QCPRange(1, 1));
        }
        // U1 9 V: 450 V.
        run->processBlock({filled(100, 9), filled(100, 0.5), filled(100, 1), filled(100, 1)}, 25);
        plot.yAxis->rescale(true);
        QCOMPARE(plot.yAxis->range(), QCPRange(1, 450));
        plot.replot(); // merges the waiting points
        for (QCPGraph *graph : graphs) {
            bool found = false, foundInData = false;
            QCOMPARE(graph->getValueRange(found), graph->data()->valueRange(foundInData));
        }
    }

    void clearDropsWaitingPoints()
    {
        run->setKeepEvery(1);
        mergePoints(run->store(), {{100.0, 1.0}}); // a recording up to 100 s
        run->processBlock(block(100), 25.0);
        QCOMPARE(run->store().channel(0).waitingCount(), 100);
        run->clear();
        for (int c = 0; c < 4; ++c)
            QCOMPARE(run->store().count(c), 0);
        run->processBlock(block(10), 25.0);
        QCOMPARE(keysOf(run->store(), 0).first(), 1 / 4000.0);
        QCOMPARE(run->store().count(0), 10);
    }

    // A minute of the stand-in's constant-current rig (5 F, 50 mOhm) measured
    // live: every full cycle's capacitance by the discharge and its ESR by the
    // IR drop, or, with the discharge current not measured, by the charge.
    // The run information's rated voltage and figures (4 F, 40 mOhm) are the
    // analysis's where given.
    void cyclesOfTheConstantCurrentRig_data()
    {
        QTest::addColumn<QString>("sign");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("withInfo");
        QTest::newRow("1000 kept") << "positive" << 1 << false;
        QTest::newRow("100 kept") << "positive" << 10 << false;
        QTest::newRow("discharge current not measured") << "none" << 1 << false;
        QTest::newRow("the sample's rating and figures") << "positive" << 1 << true;
    }
    void cyclesOfTheConstantCurrentRig()
    {
        QFETCH(QString, sign);
        QFETCH(int, interval);
        QFETCH(bool, withInfo);
        const auto restore = qScopeGuard([] { ArtSim_Configure(nullptr); });
        QSignalSpy settingsChanged(run.get(), &LiveRun::cycleSettingsChanged);
        if (withInfo)
            run->setRunInfo({"", "C-17", 200.0, 4.0, 0.04, ""});
        QCOMPARE(settingsChanged.size(), int(withInfo));
        QCOMPARE(run->chosenCycleSettings().ratedVoltage, 0.0); // the settings file's stays
        QCOMPARE(ArtSim_Configure(qPrintable("signal=cc;seed=3;cc=sign:" + sign)), 0);
        ArtSim_SetManualClock(1);
        run->setKeepEvery(interval);
        QVERIFY(run->start());
        for (int s = 0; s < 60; ++s, QCoreApplication::processEvents())
            QCOMPARE(ArtSim_Pump(4000), 40);
        run->stop();
        const bool measured = sign != "none";
        int full = 0;
        for (const CycleResult &c : run->cycles().cycles()) {
            const double f = (measured ? c.capacitance : c.capacitanceCharge).value.value_or(-1);
            const double esr = c.esr.value.value_or(-1);
            const QString figures =
                QString("cycle %1: C %2 F, ESR %3 ohm").arg(c.number).arg(f).arg(esr);
            full += !c.partial;
            QVERIFY2(c.partial || std::fabs(f / 5 - 1) < (measured ? 0.005 : 0.01),
                     qPrintable(figures));
            QVERIFY2(c.partial || (measured ? std::fabs(esr / 0.05 - 1) < 0.02
                                            : c.esr.why == Missing::NoCurrent),
                     qPrintable(figures));
            // No leakage: what the charge and its hold put in comes out.
            QVERIFY2(c.partial || !measured ||
                         std::fabs(c.coulombicEfficiency.value.value_or(0) / 100 - 1) < 0.005,
                     qPrintable(figures +
                                QString(", %1 %").arg(c.coulombicEfficiency.value.value_or(-1))));
        }
        QCOMPARE(full, 4); // and one cut by the end
        if (withInfo) {
            QCOMPARE(run->cycles().ratedVoltage(), 200.0);
            for (const CycleResult &c : run->cycles().cycles()) {
                QVERIFY(!c.reference);
                QVERIFY(c.partial || std::fabs(*c.capacitanceChange.value - 25) < 0.7);
                QVERIFY(c.partial || std::fabs(*c.esrChange.value - 25) < 2.5);
            }
        }
    }

    // Limits report transitions only: a delay and a deadband turn values that
    // jump around a limit into one alarm; each transition is one log line.
    void limitsWatched_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<Limit>("limit");
        QTest::addColumn<QVector<double>>("u1"); // input volts, x 50 V; I at 0.3 V (30 A)
        QTest::addColumn<QString>("changes");    // kind and point index
        QTest::addColumn<bool>("stops");
        const auto high = [](double v, double band = 0, double delay = 0,
                             unsigned act = Limit::Show) {
            return Limit{std::nullopt, v, band, delay, act};
        };
        QVector<double> noisy;
        for (int k = 0; k < 40; ++k)
            noisy << (k % 2 ? 2.02 : 1.98);
        QTest::newRow("crossing and back")
            << 0 << high(100) << QVector<double>{1, 1, 3, 3, 1} << "H2 N4" << false;
        QTest::newRow("delay") << 0 << high(100, 0, 0.0004) << QVector<double>{3, 3, 1, 3, 3, 3, 1}
                               << "H5 N6" << false;
        QTest::newRow("deadband") << 0 << high(100, 20) << QVector<double>{3, 1.8, 3, 1.4}
                                  << "H0 N3" << false;
        QTest::newRow("low") << 0 << Limit{50.0, std::nullopt} << QVector<double>{2, 0.5, 0.5, 2}
                             << "L1 N3" << false;
        QTest::newRow("noise on the limit, deadband")
            << 0 << high(100, 5) << noisy << "H1" << false;
        QTest::newRow("noise on the limit, delay")
            << 0 << high(100, 0, 0.001) << noisy << "" << false;
        QTest::newRow("power") << int(LimitPower) << high(1000) << QVector<double>{0.5, 1} << "H1"
                               << false;
        QTest::newRow("low not below high: not watched")
            << 0 << Limit{200.0, 100.0} << QVector<double>{1, 5} << "" << false;
        QTest::newRow("stop action")
            << 0 << high(100, 0, 0, Limit::Stop) << QVector<double>{1, 3} << "H1" << true;
    }
    void limitsWatched()
    {
        QFETCH(int, channel);
        QFETCH(Limit, limit);
        QFETCH(QVector<double>, u1);
        QFETCH(QString, changes);
        QFETCH(bool, stops);
        acqtest::resetStandIn();
        QVERIFY(run->start());
        acqtest::truncateErrorLog();
        LimitSettings limits;
        limits[std::size_t(channel)] = limit;
        run->setLimits(limits);
        run->setKeepEvery(1);
        QStringList seen;
        connect(run.get(), &LiveRun::limitChanged, this, [&](const LimitEvent &e) {
            seen << QStringLiteral("%1%2").arg("HLN"[e.kind]).arg(qRound(e.time * 4000) - 1);
        });
        const int n = int(u1.size());
        run->processBlock(
            {u1, QVector<double>(n, 0.3), QVector<double>(n, 0), QVector<double>(n, 0)}, 1);
        QCOMPARE(seen.join(' '), changes);
        QTRY_COMPARE(run->running(), !stops);
        const QStringList lines = acqtest::errorLogLines().filter(QStringLiteral(" limit "));
        QCOMPARE(lines.size(), int(seen.size()));
        if (!seen.isEmpty())
            QVERIFY2(lines[0].contains(channel == 0 ? " U1 > 100 at " : " P > 1000 at ") ||
                         lines[0].contains(" U1 < 50 at "),
                     qPrintable(lines[0]));
    }
};

} // namespace

int runLivePathTests(int argc, char **argv)
{
    LivePathTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_livepath.moc"
