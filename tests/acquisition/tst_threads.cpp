// The live path across threads: blocks reach processBlock on the GUI thread,
// tasks that end in a callback are never touched again, start/stop storms and
// closing the window while blocks arrive; the time axis on the card's clock;
// the whole path end to end; and the inbox that carries the blocks across.

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
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
#include "dialoganswer.h"
#include "windowprobe.h"
#include "windowtexts.h"

namespace {

QPushButton *button(MainWindow &w, const char *name)
{
    return w.findChild<QPushButton *>(QLatin1String(name));
}

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

void clearWindow(MainWindow &w)
{
    w.channelStore().clear();
    MainWindowProbe::requestTimeBaseReset(w);
}

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
        MainWindow w;
        clearWindow(w);
        QThread *processingThread = nullptr;
        int blocks = 0;
        connect(
            &w, &MainWindow::updateData, &w,
            [&] {
                processingThread = QThread::currentThread();
                ++blocks;
            },
            Qt::DirectConnection);
        button(w, "btn_start_collect")->click();
        QCOMPARE(ArtSim_Pump(300), 3);
        // Handed over by a queued call: nothing is processed until the loop runs.
        QCOMPARE(blocks, 0);
        QTRY_COMPARE(blocks, 3);
        QCOMPARE(processingThread, QCoreApplication::instance()->thread());
        QCOMPARE(w.channelGraph(0)->dataCount(), 30); // "100": every 10th of 300
        button(w, "btn_stop_collect")->click();
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
        MainWindow w;
        clearWindow(w);
        if (readError)
            ArtSim_SetReadErrorAfter(2);
        else
            ArtSim_SetOverrunAfter(2);
        button(w, "btn_start_collect")->click();
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

        // The window learns it, returns to idle, keeps the data and says why.
        QTRY_VERIFY(button(w, "btn_start_collect")->isEnabled());
        QVERIFY(MainWindowProbe::daq(w).taskHandle == nullptr);
        QVERIFY(!w.acquisitionState().running());
        QCOMPARE(w.channelGraph(0)->dataCount(), 20);
        const QStringList shown = takeMessages(w);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(reason), qPrintable(shown[0]));
        QVERIFY(statusMessage(w).contains(reason));
        QVERIFY(recordingStatus(w).startsWith(QStringLiteral("已停止")));

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
        button(w, "btn_stop_collect")->click();
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
        button(w, "btn_start_collect")->click();
        QCOMPARE(ArtSim_Pump(100), 1);
        button(w, "btn_stop_collect")->click();
        QVERIFY(acqtest::callLog().contains(QStringLiteral("ArtDAQ_ClearTask(T2) = 0")));
        verifyNoCallOnClearedHandle();
    }

    // A report that arrives after the user stopped and started again tells
    // of the ended task but leaves the new recording running.
    void lateReportKeepsNewerTask()
    {
        MainWindow w;
        ArtSim_SetOverrunAfter(1);
        button(w, "btn_start_collect")->click();
        QCOMPARE(ArtSim_Pump(200), 1); // the report is queued, not yet delivered
        ArtSim_SetOverrunAfter(-1);
        button(w, "btn_stop_collect")->click();
        button(w, "btn_start_collect")->click();
        QTRY_COMPARE(acqtest::errorLogLines().size(), 2);
        QCOMPARE(takeMessages(w).size(), 1);
        QVERIFY(!button(w, "btn_start_collect")->isEnabled());
        QVERIFY(w.acquisitionState().running());
        QCOMPARE(ArtSim_LiveTasks(), 1);
        QCOMPARE(ArtSim_Pump(100), 1);
        button(w, "btn_stop_collect")->click();
        verifyNoCallOnClearedHandle();
    }

    // The figures follow the 600 ms redraw, not each block; stop keeps them.
    void statusBarFollowsTheRedraw()
    {
        MainWindow w;
        clearWindow(w);
        QSignalSpy updates(&w, &MainWindow::updateData);
        QElapsedTimer sinceStart; // started before the redraw timer, so never behind it
        sinceStart.start();
        button(w, "btn_start_collect")->click();
        MainWindowProbe::recorder(w).waitUntilWritten(); // its name is shown as it starts
        const QString atStart = recordingStatus(w);
        QVERIFY2(atStart.startsWith(QStringLiteral("正在采集")), qPrintable(atStart));
        QVERIFY(atStart.contains(QStringLiteral("每通道 0 个点")));
        QCOMPARE(ArtSim_Pump(300), 3);
        QTRY_COMPARE(updates.count(), 3);
        // Only while the first redraw cannot have come yet: a loaded machine
        // may take longer for the blocks. Coarse timers may fire up to 5 %
        // early; no events run between the wait and the check.
        if (sinceStart.elapsed() < 550)
            QCOMPARE(recordingStatus(w), atStart);

        const QString points = QStringLiteral("每通道 %1 个点").arg(QLocale().toString(30));
        const QString lastKey =
            QLocale().toString(w.channelGraph(0)->data()->at(29)->key, 'f', 3) + " s";
        QTRY_VERIFY(recordingStatus(w).contains(points));
        QVERIFY2(recordingStatus(w).contains(lastKey), qPrintable(recordingStatus(w)));
        QVERIFY(recordingStatus(w).startsWith(QStringLiteral("正在采集")));

        button(w, "btn_stop_collect")->click();
        const QString stopped = recordingStatus(w);
        QVERIFY2(stopped.startsWith(QStringLiteral("已停止")), qPrintable(stopped));
        QVERIFY(stopped.contains(points) && stopped.contains(lastKey));
    }

    void stopRacesTaskEndingCallback()
    {
        // The real-time clock, fast: callbacks end tasks while the GUI stops them.
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(40);
        MainWindow w;
        clearWindow(w);
        QRandomGenerator rng(7);
        for (int round = 0; round < 60; ++round) {
            const int after = int(rng.bounded(4));
            if (round % 2)
                ArtSim_SetReadErrorAfter(after);
            else
                ArtSim_SetOverrunAfter(after);
            button(w, "btn_start_collect")->click();
            QThread::usleep(rng.bounded(3000));
            button(w, "btn_stop_collect")->click();
            QCoreApplication::processEvents();
        }
        ArtSim_SetReadErrorAfter(-1);
        ArtSim_SetOverrunAfter(-1);
        spinEvents(20);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(MainWindowProbe::daq(w).taskHandle == nullptr);
        verifyNoCallOnClearedHandle();
    }

    void startStopStorm()
    {
        ArtSim_SetManualClock(0);
        ArtSim_SetRate(40);
        MainWindow w;
        clearWindow(w);
        QRandomGenerator rng(11);
        for (int round = 0; round < 80; ++round) {
            if (rng.bounded(2))
                button(w, "btn_start_collect")->click();
            else
                MainWindowProbe::daq(w).start(); // a start while running
            spinEvents(int(rng.bounded(4)));
            if (rng.bounded(3))
                button(w, "btn_stop_collect")->click();
        }
        button(w, "btn_stop_collect")->click();
        spinEvents(20);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(w.channelGraph(0)->dataCount() > 0);
        verifyNoCallOnClearedHandle();
        // Keys rise across all the tasks.
        const auto *data = w.channelGraph(0)->data().data();
        for (int k = 1; k < data->size(); ++k)
            QVERIFY(data->at(k)->key > data->at(k - 1)->key);
    }

    void closingTheWindowDuringAcquisition_data()
    {
        QTest::addColumn<bool>("manualClock");
        QTest::newRow("blocks queued, not yet processed") << true;
        QTest::newRow("fast real-time clock") << false;
    }
    void closingTheWindowDuringAcquisition()
    {
        QFETCH(bool, manualClock);
        if (!manualClock) {
            ArtSim_SetManualClock(0);
            ArtSim_SetRate(40);
        }
        for (int round = 0; round < 10; ++round) {
            auto *w = new MainWindow;
            button(*w, "btn_start_collect")->click();
            if (manualClock)
                QCOMPARE(ArtSim_Pump(500), 5);
            else
                spinEvents(round % 3);
            w->close();
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
        MainWindow w;
        clearWindow(w);
        enterText(w.findChild<QLineEdit *>(QStringLiteral("edit_sample")), QStringLiteral("1000"));
        QSignalSpy updates(&w, &MainWindow::updateData);
        for (int run = 1; run <= 2; ++run) {
            button(w, "btn_start_collect")->click();
            QTRY_VERIFY(updates.count() >= 4 * run);
            button(w, "btn_stop_collect")->click();
            spinEvents(30);
        }
        QCOMPARE(ArtSim_LiveTasks(), 0);
        const auto *data = w.channelGraph(0)->data().data();
        QVERIFY(data->size() >= 800);
        for (int k = 0; k < data->size(); ++k)
            verifyKeyOfScan(data->at(k)->key, k + 1);
    }

    void windowClosedWhileACallbackEndsTheTask_data()
    {
        QTest::addColumn<bool>("readError"); // else: done with an overrun status
        QTest::newRow("read error") << true;
        QTest::newRow("done with error") << false;
    }
    void windowClosedWhileACallbackEndsTheTask()
    {
        // The callback has taken the task and cleared it, and is held there,
        // before it tells the window. Closing the window must wait for it.
        QFETCH(bool, readError);
        acqtest::MessageCapture messages; // the done path's debug line
        auto *w = new MainWindow;
        if (readError)
            ArtSim_SetReadErrorAfter(0);
        else
            ArtSim_SetOverrunAfter(0);
        ArtSim_HoldCallback("ArtDAQ_ClearTask", 1);
        button(*w, "btn_start_collect")->click();
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
        QVERIFY2(waited, "the window was gone while a callback of its task still ran");
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
        MainWindow w;
        clearWindow(w);
        enterText(w.findChild<QLineEdit *>(QStringLiteral("edit_sample")), QStringLiteral("1000"));
        button(w, "btn_start_collect")->click();
        QTRY_VERIFY2(recordingStatus(w).contains(QStringLiteral("内存")),
                     qPrintable(recordingStatus(w)));
        QTRY_VERIFY_WITH_TIMEOUT(button(w, "btn_start_collect")->isEnabled(), 60000);
        spinEvents(300); // blocks still queued at the stop
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(!w.acquisitionState().running());

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
        // One warning before, one message at the stop; neither holds up the program.
        const QStringList shown = takeMessages(w);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.filter(QStringLiteral("内存即将用完")).size(), 1);
        QCOMPARE(shown.filter(QStringLiteral("内存已达上限（60 MB）")).size(), 1);

        // Never past the limit, not even with the blocks that came after the stop.
        const qint64 held = MainWindowProbe::recordingMemory(w).heldBytes();
        QVERIFY2(held <= 60 * 1024 * 1024, qPrintable(QString::number(held)));
        // Every scan of the run, in order, in all four graphs.
        const int points = w.channelGraph(0)->dataCount();
        QVERIFY2(points > 100000, qPrintable(QString::number(points)));
        const auto *u1 = w.channelGraph(0)->data().data();
        int wrongKeys = 0;
        for (int k = 0; k < points; ++k)
            wrongKeys += u1->at(k)->key != double(k + 1) / 4000.0;
        QCOMPARE(wrongKeys, 0);

        // Saved through File > Save: the points held, all of them.
        QTemporaryDir dir;
        const QString fileName = dir.filePath(QStringLiteral("run.txt"));
        {
            DialogAnswer answer(fileName);
            w.findChild<QAction *>(QStringLiteral("menu_save"))->trigger();
            QVERIFY(waitForFileWork(w));
        }
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const DataFileContents saved = readDataFile(file);
        QCOMPARE(int(saved.stop), int(ReadStop::EndOfData));
        for (int c = 0; c < 4; ++c) {
            const auto *data = w.channelGraph(c)->data().data();
            QCOMPARE(data->size(), points);
            QCOMPARE(int(saved.points[c].size()), points);
            QCOMPARE(saved.points[c].back().key, data->at(points - 1)->key);
            QCOMPARE(saved.points[c].back().value, data->at(points - 1)->value);
        }
    }

    void endToEnd()
    {
        const double volts[4] = {1.5, 0.25, 5.0, 7.0};
        ArtSim_SetConstantSignal(volts);
        MainWindow w;
        clearWindow(w);
        QSignalSpy updates(&w, &MainWindow::updateData);
        button(w, "btn_start_collect")->click();
        for (int b = 0; b < 10; ++b) {
            QCOMPARE(ArtSim_Pump(100), 1);
            QThread::msleep(2);
        }
        QTRY_COMPARE(updates.count(), 10);
        button(w, "btn_stop_collect")->click();

        // "100" in edit_sample: every 10th of 1000 scans, at the card's 4000 scans/s.
        const double expected[4] = {75.0, 25.0, 200.0, 350.0};
        for (int c = 0; c < 4; ++c) {
            const auto *data = w.channelGraph(c)->data().data();
            QCOMPARE(data->size(), 100);
            for (int k = 0; k < data->size(); ++k) {
                QCOMPARE(data->at(k)->value, expected[c]);
                verifyKeyOfScan(data->at(k)->key, 10 * k + 1);
            }
        }
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].contains(QStringLiteral("    stop collect data time\uFF1A ")));
        QVERIFY(button(w, "btn_start_collect")->isEnabled());
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
