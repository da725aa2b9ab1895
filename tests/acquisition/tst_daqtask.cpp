// The task's calls into the card library, checked against the stand-in's
// call log, and the lines of error.txt and data.txt.

#include <QDateTime>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QSignalSpy>
#include <QTest>
#include <clocale>

#include "acquisition/libraryread.h"
#include "app/eventlog.h"
#include "acqtest.h"
#include "artsim.h"

namespace {

const QStringList startCalls = {
    QStringLiteral("ArtDAQ_CreateTask(\"\", T1) = 0"),
    QStringLiteral(
        "ArtDAQ_CreateAIVoltageChan(T1, \"Dev1/ai0\", \"\", -1, -10, 10, 10348, NULL) = 0"),
    QStringLiteral(
        "ArtDAQ_CreateAIVoltageChan(T1, \"Dev1/ai1\", \"\", -1, -10, 10, 10348, NULL) = 0"),
    QStringLiteral(
        "ArtDAQ_CreateAIVoltageChan(T1, \"Dev1/ai2\", \"\", -1, -10, 10, 10348, NULL) = 0"),
    QStringLiteral(
        "ArtDAQ_CreateAIVoltageChan(T1, \"Dev1/ai3\", \"\", -1, -10, 10, 10348, NULL) = 0"),
    QStringLiteral("ArtDAQ_CfgSampClkTiming(T1, \"\", 4000, 10280, 10123, 1000) = 0"),
    QStringLiteral("ArtDAQ_RegisterEveryNSamplesEvent(T1, 1, 100, 0, ptr, ptr) = 0"),
    QStringLiteral("ArtDAQ_RegisterDoneEvent(T1, 0, ptr, ptr) = 0"),
    QStringLiteral("ArtDAQ_StartTask(T1) = 0"),
};

const QRegularExpression
    stopLine(QStringLiteral("^(\\d+)    stop collect data time\\x{FF1A} (\\d{4}-\\d\\d-\\d\\d "
                            "\\d\\d:\\d\\d:\\d\\d\\.\\d{3})  $"));

class DaqTaskTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        acqtest::resetStandIn();
        acqtest::truncateErrorLog();
    }

    void startAndStop()
    {
        acqtest::Run w;
        QSignalSpy changes(&w.acquisitionState(), &AcquisitionState::runningChanged);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        w.start();
        QCOMPARE(changes, QList<QVariantList>{{true}});
        QVERIFY(w.running());
        QCOMPARE(acqtest::callLog(), startCalls);
        QVERIFY(w.task().taskHandle != nullptr);
        QVERIFY(w.task().lastBlockMs >= before);
        QVERIFY(acqtest::readErrorLog().isEmpty());

        w.stop();
        QVERIFY(!w.running());
        QCOMPARE(changes, (QList<QVariantList>{{true}, {false}}));
        QStringList expected = startCalls;
        expected << QStringLiteral("ArtDAQ_StopTask(T1) = 0")
                 << QStringLiteral("ArtDAQ_ClearTask(T1) = 0");
        QCOMPARE(acqtest::callLog(), expected);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(w.task().taskHandle == nullptr);

        // One stop line, UTF-8, CR LF, milliseconds matching the local time written.
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 1);
        const QRegularExpressionMatch m = stopLine.match(lines[0]);
        QVERIFY2(m.hasMatch(), qPrintable(lines[0]));
        const qint64 ms = m.captured(1).toLongLong();
        QVERIFY(ms >= before && ms <= QDateTime::currentMSecsSinceEpoch());
        QCOMPARE(m.captured(2), QDateTime::fromMSecsSinceEpoch(ms).toString(
                                    QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        QVERIFY(acqtest::readErrorLog().endsWith("  \r\n"));

        // Stopping again makes no call, writes nothing and warns of no timer.
        acqtest::MessageCapture messages;
        w.stop();
        QCOMPARE(acqtest::callLog().size(), startCalls.size() + 2);
        QCOMPARE(acqtest::errorLogLines().size(), 1);
        QCOMPARE(messages.messages(), QStringList());
        QCOMPARE(changes.size(), 2);
    }

    void stopWithoutStart()
    {
        acqtest::MessageCapture messages;
        acqtest::Run w;
        w.stop();
        QVERIFY(acqtest::callLog().isEmpty());
        QVERIFY(acqtest::readErrorLog().isEmpty());
        QVERIFY(!w.running());
        QCOMPARE(messages.messages(), QStringList());
    }

    void secondStartStopsTheFirst()
    {
        acqtest::Run w;
        DaqTask &daq = w.task();
        daq.start();
        daq.start();
        QStringList expected = startCalls;
        expected << QStringLiteral("ArtDAQ_StopTask(T1) = 0")
                 << QStringLiteral("ArtDAQ_ClearTask(T1) = 0");
        for (QString call : startCalls)
            expected << call.replace(QStringLiteral("T1"), QStringLiteral("T2"));
        QCOMPARE(acqtest::callLog(), expected);
        QCOMPARE(ArtSim_LiveTasks(), 1);
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(stopLine.match(lines[0]).hasMatch());
    }

    void failingStartCall_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("callsBeforeFailure"); // of the start sequence
        QTest::newRow("CreateTask") << "ArtDAQ_CreateTask" << 1 << 0;
        for (int c = 1; c <= 4; ++c)
            QTest::addRow("CreateAIVoltageChan #%d", c) << "ArtDAQ_CreateAIVoltageChan" << c << c;
        QTest::newRow("CfgSampClkTiming") << "ArtDAQ_CfgSampClkTiming" << 1 << 5;
        QTest::newRow("RegisterEveryNSamplesEvent")
            << "ArtDAQ_RegisterEveryNSamplesEvent" << 1 << 6;
        QTest::newRow("RegisterDoneEvent") << "ArtDAQ_RegisterDoneEvent" << 1 << 7;
        QTest::newRow("StartTask") << "ArtDAQ_StartTask" << 1 << 8;
    }
    void failingStartCall()
    {
        QFETCH(QString, function);
        QFETCH(int, nth);
        QFETCH(int, callsBeforeFailure);
        acqtest::Run w;
        QSignalSpy changes(&w.acquisitionState(), &AcquisitionState::runningChanged);
        ArtSim_FailCall(function.toUtf8().constData(), nth);
        w.start();
        QCOMPARE(changes.size(), 0); // never running

        const QStringList log = acqtest::callLog();
        QCOMPARE(log.mid(0, callsBeforeFailure), startCalls.mid(0, callsBeforeFailure));
        const QString failed = log.value(callsBeforeFailure);
        QVERIFY2(failed.startsWith(function + QLatin1Char('(')), qPrintable(failed));
        QVERIFY2(failed.contains(QStringLiteral(") = -")), qPrintable(failed));
        QStringList rest = acqtest::callNames(log.mid(callsBeforeFailure + 1));
        QStringList expectedRest{QStringLiteral("ArtDAQ_GetExtendedErrorInfo")};
        if (function != QLatin1String("ArtDAQ_CreateTask"))
            expectedRest << QStringLiteral("ArtDAQ_StopTask") << QStringLiteral("ArtDAQ_ClearTask");
        QCOMPARE(rest, expectedRest);
        QCOMPARE(ArtSim_LiveTasks(), 0);
        QVERIFY(w.task().taskHandle == nullptr);

        // The library's text, kept as UTF-8, then the start-failure line.
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("ArtDAQ_ Error: ")), qPrintable(lines[0]));
        QVERIFY(lines[0].endsWith(QLatin1Char(' ')));
        const QString text = lines[0].mid(15).chopped(1);
        QVERIFY(!text.trimmed().isEmpty());
        QVERIFY(!text.contains(QChar::ReplacementCharacter));
        QVERIFY(!text.contains(QLatin1Char('?')));
        QCOMPARE(lines[1], QStringLiteral("start leave error  "));

        // The run is idle again and says why; stop then makes no call.
        QVERIFY(!w.running());
        QCOMPARE(w.lastError(), text);
        const int calls = log.size();
        w.stop();
        QCOMPARE(acqtest::callLog().size(), calls);
        QCOMPARE(acqtest::errorLogLines().size(), 2);

        // And the next start works.
        w.start();
        QCOMPARE(ArtSim_LiveTasks(), 1);
        verifyNoCallOnClearedHandle();
    }

    void readCountConvention_data()
    {
        QTest::addColumn<bool>("inScans");
        QTest::newRow("count of values") << false;
        QTest::newRow("count of scans") << true;
    }
    void readCountConvention()
    {
        // A library that counts scans: every scan still arrives, and error.txt says so once.
        QFETCH(bool, inScans);
        ArtSim_SetReadCountInScans(inScans);
        acqtest::Run w;
        w.start();
        QCOMPARE(ArtSim_Pump(300), 3);
        QTRY_COMPARE(w.store().count(0), 30); // "100": every 10th of 300 scans
        QCOMPARE(w.store().count(3), 30);
        QCOMPARE(w.store().channel(3).view().at(29).value, 100.0); // 2 V on U2
        w.stop();
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), inScans ? 2 : 1);
        QVERIFY(stopLine.match(lines.last()).hasMatch());
        if (inScans)
            QCOMPARE(lines[0], QStringLiteral("ArtDAQ_ Error: ArtDAQ_ReadAnalogF64 stored a count "
                                              "of 100 but wrote 400 values (4 channels, callback "
                                              "for 100 scans): the library counts scans; all 400 "
                                              "values taken "));
    }

    void readCountCheck_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("taken");
        QTest::addColumn<QString>("problem"); // part of it; empty: none
        QTest::newRow("values") << 400 << 400 << 400 << QString();
        QTest::newRow("partial last scan") << 401 << 401 << 401 << QString();
        QTest::newRow("nothing") << 0 << 0 << 0 << QString();
        QTest::newRow("scans") << 100 << 400 << 400 << "counts scans";
        QTest::newRow("more than written") << 800 << 400 << 400 << "400 values taken";
        QTest::newRow("written past the count") << 400 << 800 << 400 << "400 values taken";
        QTest::newRow("negative count") << -1 << 400 << 0 << "0 values taken";
    }
    void readCountCheck()
    {
        QFETCH(int, count);
        QFETCH(int, written);
        QFETCH(int, taken);
        QFETCH(QString, problem);
        // What the library wrote is found from the marked array.
        double values[800];
        markUnwritten(values, 800);
        for (int v = 0; v < written; ++v)
            values[v] = v % 3 ? 0.0 : -1.5;
        QCOMPARE(valuesWritten(values, 800), written);
        const ReadCount read = checkReadCount(count, valuesWritten(values, 800), 4, 100);
        QCOMPARE(read.values, taken);
        if (problem.isEmpty())
            QVERIFY2(read.problem.isEmpty(), qPrintable(read.problem));
        else
            QVERIFY2(read.problem.contains(problem), qPrintable(read.problem));
    }

    void libraryText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("fallback");
        QTest::addColumn<QString>("text");
        const QString chinese = QStringLiteral("模拟故障：第 1 次调用 / simulated failure");
        QStringEncoder toGbk("GBK");
        QVERIFY(toGbk.isValid());
        const QByteArray gbk = toGbk(chinese);
        QTest::newRow("UTF-8") << chinese.toUtf8() << QByteArray("GBK") << chinese;
        QTest::newRow("GBK") << gbk << QByteArray("GBK") << chinese;
        QTest::newRow("ASCII") << QByteArray("invalid task handle") << QByteArray("GBK")
                               << QStringLiteral("invalid task handle");
        QTest::newRow("Latin-1") << QByteArray("\xE9t\xE9") << QByteArray("ISO-8859-1")
                                 << QStringLiteral("\u00E9t\u00E9");
    }
    void libraryText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, fallback);
        QFETCH(QString, text);
        QCOMPARE(decodeLibraryText(bytes, fallback), text);
    }

    // A library on a Chinese system writes its texts in the local code page:
    // they reach the window's message and error.txt (UTF-8) intact.
    void gbkErrorTextReachesUserAndLog_data()
    {
        QTest::addColumn<bool>("atStart"); // else: a read error ends the run
        QTest::addColumn<QString>("text");
        QTest::newRow("failed start") << true
                                      << QStringLiteral("模拟故障：第 1 次调用 ArtDAQ_StartTask / "
                                                        "simulated failure: call 1 of "
                                                        "ArtDAQ_StartTask");
        QTest::newRow("read error") << false
                                    << QStringLiteral("读取失败（模拟的读取错误） / read failed "
                                                      "(simulated read error)");
    }
    void gbkErrorTextReachesUserAndLog()
    {
        QFETCH(bool, atStart);
        QFETCH(QString, text);
        const QByteArray previous = std::setlocale(LC_CTYPE, nullptr);
        if (!std::setlocale(LC_CTYPE, "zh_CN.GBK"))
            QSKIP("locale zh_CN.GBK is not installed (scripts/test generates it)");
        const auto restore = qScopeGuard([&] { std::setlocale(LC_CTYPE, previous.constData()); });
        QCOMPARE(localEightBitEncoding().toUpper(), QByteArray("GBK"));
        ArtSim_SetErrorTextGbk(1);
        if (atStart)
            ArtSim_FailCall("ArtDAQ_StartTask", 1);
        else
            ArtSim_SetReadErrorAfter(0);
        acqtest::Run w;
        QSignalSpy ended(&w, &LiveRun::cardEnded);
        QCOMPARE(w.start(), atStart ? false : true);
        if (atStart)
            QCOMPARE(w.lastError(), text);
        else
            QCOMPARE(ArtSim_Pump(100), 1);
        QTRY_VERIFY(!w.running());
        QCOMPARE(ended, atStart ? QList<QVariantList>{} : QList<QVariantList>{{text}});
        const QByteArray log = acqtest::readErrorLog();
        QVERIFY(log.isValidUtf8());
        const QStringList lines = acqtest::errorLogLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("ArtDAQ_ Error: %1 ").arg(text));
        if (atStart)
            QCOMPARE(lines[1], QStringLiteral("start leave error  "));
        else
            QVERIFY(stopLine.match(lines[1]).hasMatch());
    }

    // Each kind of entry, byte for byte (UTF-8, C-locale numbers); CR LF is the file's.
    void logLines_data()
    {
        using E = EventLog;
        QTest::addColumn<std::string>("line");
        QTest::addColumn<QString>("expected");
        const qint64 ms = 1796983503007; // 2026-12-11 10:05:03.007 UTC
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        const QString file = QStringLiteral("/tmp/录制/run 1.kdq");
        QTest::newRow("card error") << E::cardErrorLine(QStringLiteral("设备 Dev9 不存在"))
                                    << QStringLiteral("ArtDAQ_ Error: 设备 Dev9 不存在 ");
        QTest::newRow("start failed")
            << E::startFailedLine() << QStringLiteral("start leave error  ");
        QTest::newRow("stopped") << E::taskStoppedLine(when)
                                 << QStringLiteral("1796983503007    stop collect data time\uFF1A "
                                                   "2026-12-11 10:05:03.007  ");
        QTest::newRow("clock off") << E::clockOffLine(ms, 3960.04, 4000)
                                   << QStringLiteral("1796983503007    card clock off\uFF1A "
                                                     "3960.0 scans/s, not 4000  ");
        QTest::newRow("memory stop")
            << E::memoryLimitLine(1610612736, 2147483648)
            << QStringLiteral("memory limit reached: the recording holds 1536 MB, and its next "
                              "growth would pass the 2048 MB it may use");
        QTest::newRow("write error")
            << E::recordingProblemLine(ms, E::RecordingProblem::WriteError, file, "磁盘已满")
            << QStringLiteral(
                   "1796983503007    recording write error\uFF1A /tmp/录制/run 1.kdq  磁盘已满  ");
        QTest::newRow("recovery error")
            << E::recordingProblemLine(ms, E::RecordingProblem::RecoveryError, file, "x")
            << QStringLiteral(
                   "1796983503007    recording recovery error\uFF1A /tmp/录制/run 1.kdq  x  ");
        QTest::newRow("journal kept")
            << E::recordingProblemLine(ms, E::RecordingProblem::JournalKept, file, "y")
            << QStringLiteral(
                   "1796983503007    recording journal kept\uFF1A /tmp/录制/run 1.kdq  y  ");
        QTest::newRow("max temp") << E::temperatureLimitLine(E::TemperatureLimit::Max, 1234567)
                                  << QStringLiteral(" set the max temp: 1.23457e+06");
        QTest::newRow("min temp") << E::temperatureLimitLine(E::TemperatureLimit::Min, -40.5)
                                  << QStringLiteral(" set the min temp: -40.5");
        QTest::newRow("point count") << E::pointCountLine(ChannelU2, 12345)
                                     << QStringLiteral("  --------u2  data count------   12345");
    }
    void logLines()
    {
        QFETCH(std::string, line);
        QFETCH(QString, expected);
        QCOMPARE(QByteArray::fromStdString(line), expected.toUtf8());
    }
};

} // namespace

int runDaqTaskTests(int argc, char **argv)
{
    DaqTaskTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_daqtask.moc"
