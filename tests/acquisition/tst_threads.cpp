// The live run across threads: blocks reach processBlock on the GUI thread,
// tasks that end in a callback are never touched again, start/stop storms and
// deleting the run while blocks arrive; the time axis on the card's clock;
// the whole path end to end; and the inbox that carries the blocks across.

#include <QBuffer>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include <qcustomplot.h>

#include "acqtest.h"
#include "app/guiinbox.h"
#include "artsim.h"
#include "datafiles/datafile.h"
#include "datafiles/recorder.h"
#include "acquisition/liverun.h"

namespace {

void spinEvents(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct CountingInbox : GuiInbox
{
    int calls = 0; // queued calls that reached it
    bool event(QEvent *e) override
    {
        calls += e->type() == QEvent::MetaCall;
        return GuiInbox::event(e);
    }
};

class ThreadTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        acqtest::resetStandIn();
        acqtest::truncateErrorLog();
    }
    void cleanup() { ArtSim_Reset(); }

    void blocksAreProcessedOnTheGuiThread()
    {
        acqtest::Run w;
        QThread *processingThread = nullptr;
        int blocks = 0;
        connect(
            &w, &LiveRun::pointsAdded, &w,
            [&] {
                processingThread = QThread::currentThread();
                ++blocks;
            },
            Qt::DirectConnection);
        w.start();
        QCOMPARE(ArtSim_Pump(300), 3);
        // Handed over by a queued call: nothing is processed until the loop runs.
        QCOMPARE(blocks, 0);
        QTRY_COMPARE(blocks, 3);
        QCOMPARE(processingThread, QCoreApplication::instance()->thread());
        QCOMPARE(w.store().count(0), 30); // "100": every 10th of 300
        w.stop();
    }

    // Threads post while the GUI thread is busy (one queued call takes all)
    // or while it drains; each queued call finds jobs.
    void inboxDeliversInOrder_data()
    {
        QTest::addColumn<bool>("guiBusy");
        QTest::newRow("GUI busy") << true;
        QTest::newRow("GUI draining") << false;
    }
    void inboxDeliversInOrder()
    {
        QFETCH(bool, guiBusy);
        CountingInbox inbox;
        int next[4] = {}, lastCall = 0, callsWithJobs = 0;
        bool inOrder = true;
        std::vector<std::future<void>> workers; // each waited for when dropped
        for (int t = 0; t < 4; ++t)
            workers.push_back(std::async(std::launch::async, [&, t] {
                for (int n = 0; n < 5000; ++n, std::this_thread::yield())
                    inbox.post([&, t, n] {
                        inOrder &= n == next[t]++ && QThread::currentThread() == inbox.thread();
                        callsWithJobs += std::exchange(lastCall, inbox.calls) != inbox.calls;
                    });
            }));
        if (guiBusy)
            workers.clear();
        QTRY_COMPARE_WITH_TIMEOUT(next[0] + next[1] + next[2] + next[3], 4 * 5000, 60000);
        QVERIFY(inOrder);
        QCOMPARE(callsWithJobs, inbox.calls);
        QVERIFY(inbox.calls == 1 || !guiBusy);
    }

    // Jobs waiting and later posts go with detach(), a queued drain with the inbox.
    void inboxDropsJobs()
    {
        const auto payload = std::make_shared<int>(0);
        const auto job = [payload] { ++*payload; };
        auto destroyed = std::make_unique<GuiInbox>();
        destroyed->post(job);
        destroyed.reset();
        GuiInbox detached;
        detached.post(job);
        detached.detach();
        std::thread([&] { detached.post(job); }).join();
        QCoreApplication::processEvents();
        QCOMPARE(*payload, 0);
        QCOMPARE(payload.use_count(), 2L); // this test's job only
    }

    void taskEndedInCallback_data()
    {
        QTest::addColumn<bool>("readError"); // else: done with an overrun status
        QTest::addColumn<QString>("reason"); // part of the stand-in's error text
        QTest::newRow("read error") << true << "read failed (simulated read error)";
        QTest::newRow("done with error") << false << "buffer overrun";
    }
    void taskEndedInCallback()
    {
        QFETCH(bool, readError);
        QFETCH(QString, reason);
        acqtest::MessageCapture messages;
        acqtest::Run w;
        QSignalSpy ended(&w, &LiveRun::cardEnded);
        if (readError)
            ArtSim_SetReadErrorAfter(2);
        else
            ArtSim_SetOverrunAfter(2);
        w.start();
        QCOMPARE(ArtSim_Pump(400), readError ? 3 : 2);
        QCOMPARE(ArtSim_LiveTasks(), 0);

        QStringList tail = acqtest::callNames(acqtest::callLog()).mid(9);
        const QString read = QStringLiteral("ArtDAQ_ReadAnalogF64");
        const QString info = QStringLiteral("ArtDAQ_GetExtendedErrorInfo");
        const QString stop = QStringLiteral("ArtDAQ_StopTask");
        const QString clear = QStringLiteral("ArtDAQ_ClearTask");
        if (readError)
            QCOMPARE(tail, (QStringList{read, read, read, info, stop, clear}));
        else
            QCOMPARE(tail, (QStringList{read, read, info, clear}));

        // The run learns it, returns to idle, keeps the data and says why.
        QTRY_VERIFY(!w.running());
        QVERIFY(w.task().taskHandle == nullptr);
        QCOMPARE(w.store().count(0), 20);
        QCOMPARE(ended.size(), 1);
        QVERIFY2(ended[0][0].toString().contains(reason), qPrintable(ended[0][0].toString()));

        // error.txt: the library's text, then the stop time.
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("ArtDAQ_ Error: ")) &&
                     lines[0].endsWith(QLatin1Char(' ')) && lines[0].contains(reason),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QStringLiteral("    stop collect data time\uFF1A ")),
                 qPrintable(lines[1]));

        // Stop then makes no call, writes nothing and warns of nothing.
        const int calls = acqtest::callLog().size();
        const int logged = messages.messages().size();
        w.stop();
        QCOMPARE(acqtest::callLog().size(), calls);
        QCOMPARE(acqtest::errorLogLines().size(), 2);
        QCOMPARE(messages.messages().size(), logged);

        if (!readError) {
            const QStringList shown = messages.messages().filter(QStringLiteral("ArtDAQ_ Error: "));
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown[0].size() > 15);
            QVERIFY(!shown[0].contains(QChar::ReplacementCharacter));
        }

        // A new task gets a new handle; the old one is never used again.
        w.start();
        QCOMPARE(ArtSim_Pump(100), 1);
        w.stop();
        QVERIFY(acqtest::callLog().contains(QStringLiteral("ArtDAQ_ClearTask(T2) = 0")));
        verifyNoCallOnClearedHandle();
    }

    // A report that arrives after the user stopped and started again tells
    // of the ended task but leaves the new recording running.
    void lateReportKeepsNewerTask()
    {
        acqtest::Run w;
        QSignalSpy ended(&w, &LiveRun::cardEnded);
        ArtSim_SetOverrunAfter(1);
        w.start();
        QCOMPARE(ArtSim_Pump(200), 1); // the report is queued, not yet delivered
        ArtSim_SetOverrunAfter(-1);
        w.stop();
        w.start();
        QTRY_COMPARE(acqtest::errorLogLines().size(), 2);
        QCOMPARE(ended.size(), 1);
        QVERIFY(w.running());
        QCOMPARE(ArtSim_LiveTasks(), 1);
        QCOMPARE(ArtSim_Pump(100), 1);
        w.stop();
        verifyNoCallOnClearedHandle();
    }

    void stopRacesTaskEndingCallback()
    {
        // The real-time clock, fast: callbacks end tasks while the GUI stops them.
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(40);
        acqtest::Run w;
        QRandomGenerator rng(7);
        for (int round = 0; round < 60; ++round) {
            const int after = int(rng.bounded(4));
            if (round % 2)
                ArtSim_SetReadErrorAfter(after);
            else
                ArtSim_SetOverrunAfter(after);
            w.start();
            QThread::usleep(rng.bounded(3000));
            w.stop();
            QCoreApplication::processEvents();
        }
        ArtSim_SetReadErrorAfter(-1);
        ArtSim_SetOverrunAfter(-1);
        spinEvents(20);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(w.task().taskHandle == nullptr);
        verifyNoCallOnClearedHandle();
    }

    void startStopStorm()
    {
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(40);
        acqtest::Run w;
        QRandomGenerator rng(11);
        for (int round = 0; round < 80; ++round) {
            if (rng.bounded(2))
                w.start();
            else
                w.task().start(); // a start while running
            spinEvents(int(rng.bounded(4)));
            if (rng.bounded(3))
                w.stop();
        }
        w.stop();
        spinEvents(20);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(w.store().count(0) > 0);
        verifyNoCallOnClearedHandle();
        // Keys rise across all the tasks.
        const ChannelView data = w.store().channel(0).view();
        for (int k = 1; k < data.size(); ++k)
            QVERIFY(data.at(k).key > data.at(k - 1).key);
    }

    void deletingTheRunDuringAcquisition_data()
    {
        QTest::addColumn<bool>("manualClock");
        QTest::newRow("blocks queued, not yet processed") << true;
        QTest::newRow("fast real-time clock") << false;
    }
    void deletingTheRunDuringAcquisition()
    {
        QFETCH(bool, manualClock);
        if (!manualClock) {
            ArtSim_SetManualClock(0);
            ArtSim_SetRate(40);
        }
        for (int round = 0; round < 10; ++round) {
            auto *w = new acqtest::Run;
            w->start();
            if (manualClock)
                QCOMPARE(ArtSim_Pump(500), 5);
            else
                spinEvents(round % 3);
            delete w; // queued blocks for it are dropped
            QCoreApplication::processEvents();
            QCOMPARE(ArtSim_LiveTasks(), 0);
        }
        verifyNoCallOnClearedHandle();
        QCOMPARE(acqtest::errorLogLines().filter(QStringLiteral("stop collect data time")).size(),
                 10);
    }

    // The stand-in's clock at real speed and 16 times faster, with callbacks
    // one by one or in bursts, stopped and started again: every scan is
    // 0.25 ms after the one before, whenever its callback came, and the pause
    // does not reach the time axis.
    void keysOnTheCardClock_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("burst");
        QTest::newRow("real time") << 1.0 << 1;
        QTest::newRow("16 times fast") << 16.0 << 1;
        QTest::newRow("bursts of 8") << 1.0 << 8;
        QTest::newRow("bursts of 9, the most the buffer takes") << 1.0 << 9;
        QTest::newRow("16 times fast, bursts of 40") << 16.0 << 40;
    }
    void keysOnTheCardClock()
    {
        QFETCH(double, rate);
        QFETCH(int, burst);
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(rate);
        ArtSim_SetBurst(burst);
        acqtest::Run w;
        w.setKeepEvery(1);
        QSignalSpy updates(&w, &LiveRun::pointsAdded);
        for (int run = 1; run <= 2; ++run) {
            w.start();
            QTRY_VERIFY(updates.count() >= 4 * run);
            w.stop();
            spinEvents(30);
        }
        QCOMPARE(ArtSim_LiveTasks(), 0);
        const ChannelView data = w.store().channel(0).view();
        QVERIFY(data.size() >= 800);
        for (int k = 0; k < data.size(); ++k)
            verifyKeyOfScan(data.at(k).key, k + 1);
    }

    void runDeletedWhileACallbackEndsTheTask_data()
    {
        QTest::addColumn<bool>("readError"); // else: done with an overrun status
        QTest::newRow("read error") << true;
        QTest::newRow("done with error") << false;
    }
    void runDeletedWhileACallbackEndsTheTask()
    {
        // The callback has taken the task and cleared it, and is held there,
        // before it tells the run. Deleting the run must wait for it.
        QFETCH(bool, readError);
        acqtest::MessageCapture messages; // the done path's debug line
        auto *w = new acqtest::Run;
        if (readError)
            ArtSim_SetReadErrorAfter(0);
        else
            ArtSim_SetOverrunAfter(0);
        ArtSim_HoldCallback("ArtDAQ_ClearTask", 1);
        w->start();
        std::thread pump([] { ArtSim_Pump(100); });
        QCOMPARE(ArtSim_WaitHeld(10000), 1);
        std::atomic<bool> released{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            released = true;
            ArtSim_Release();
        });
        delete w;
        const bool waited = released;
        releaser.join();
        pump.join();
        QVERIFY2(waited, "the run was gone while a callback of its task still ran");
        QCoreApplication::processEvents();
        QCOMPARE(ArtSim_LiveTasks(), 0);
        verifyNoCallOnClearedHandle();
    }

    // A run that outgrows its memory limit stops as the stop button stops it,
    // before a graph grows past the limit, and its data stays whole.
    void memoryGuardStopsTheRun()
    {
        qputenv("KORVEL_MEMORY_LIMIT_MB", "60");
        const auto restore = qScopeGuard([] { qunsetenv("KORVEL_MEMORY_LIMIT_MB"); });
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(16);
        acqtest::Run w;
        w.setKeepEvery(1);
        QSignalSpy warned(&w, &LiveRun::memoryWarning);
        QSignalSpy stopped(&w, &LiveRun::memoryStopped);
        w.start();
        QTRY_VERIFY(w.memorySecondsLeft() >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(!w.running(), 60000);
        spinEvents(300); // blocks still queued at the stop
        QCOMPARE(ArtSim_LiveTasks(), 0);

        // error.txt: why, then the stop line of the stop button.
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            lines[0].startsWith(QStringLiteral("memory limit reached: the recording holds ")) &&
                lines[0].endsWith(QStringLiteral(" MB it may use")) &&
                lines[0].contains(QStringLiteral(" the 60 MB ")),
            qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QStringLiteral("    stop collect data time\uFF1A ")),
                 qPrintable(lines[1]));
        // One warning before, one report of the stop.
        QCOMPARE(warned.size(), 1);
        QCOMPARE(stopped, QList<QVariantList>{{qint64(60) * 1024 * 1024}});

        // Never past the limit, not even with the blocks that came after the stop.
        const qint64 held = w.memoryUse().heldBytes();
        QVERIFY2(held <= 60 * 1024 * 1024, qPrintable(QString::number(held)));
        // Every scan of the run, in order, in all four graphs.
        const int points = w.store().count(0);
        QVERIFY2(points > 100000, qPrintable(QString::number(points)));
        const ChannelView u1 = w.store().channel(0).view();
        int wrongKeys = 0;
        for (int k = 0; k < points; ++k)
            wrongKeys += u1.at(k).key != double(k + 1) / 4000.0;
        QCOMPARE(wrongKeys, 0);

        // Saved as the save command saves: the points held, all of them.
        QBuffer file;
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(writeDataFile(file, w.store().snapshot().views()));
        QVERIFY(file.seek(0));
        const DataFileContents saved = readDataFile(file);
        QCOMPARE(int(saved.stop), int(ReadStop::EndOfData));
        for (int c = 0; c < 4; ++c) {
            const ChannelView data = w.store().channel(c).view();
            QCOMPARE(data.size(), points);
            QCOMPARE(int(saved.points[c].size()), points);
            QCOMPARE(saved.points[c].back().key, data.at(points - 1).key);
            QCOMPARE(saved.points[c].back().value, data.at(points - 1).value);
        }
    }

    void endToEnd()
    {
        const double volts[4] = {1.5, 0.25, 5.0, 7.0};
        ArtSim_SetConstantSignal(volts);
        acqtest::Run w;
        QSignalSpy updates(&w, &LiveRun::pointsAdded);
        w.start();
        for (int b = 0; b < 10; ++b) {
            QCOMPARE(ArtSim_Pump(100), 1);
            QThread::msleep(2);
        }
        QTRY_COMPARE(updates.count(), 10);
        w.stop();

        // Every 10th, as "100" in the sampling edit keeps: of 1000 scans, at the card's 4000
        // scans/s.
        const double expected[4] = {75.0, 25.0, 200.0, 350.0};
        for (int c = 0; c < 4; ++c) {
            const ChannelView data = w.store().channel(c).view();
            QCOMPARE(data.size(), 100);
            for (int k = 0; k < data.size(); ++k) {
                QCOMPARE(data.at(k).value, expected[c]);
                verifyKeyOfScan(data.at(k).key, 10 * k + 1);
            }
        }
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].contains(QStringLiteral("    stop collect data time\uFF1A ")));
        QVERIFY(!w.running());
        QCOMPARE(ArtSim_LiveTasks(), 0);
    }
};

} // namespace

int runThreadTests(int argc, char **argv)
{
    ThreadTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_threads.moc"
