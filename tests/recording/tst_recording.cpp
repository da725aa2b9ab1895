// Recordings: the journal and its damaged tails, the recorder's threads
// against the data-file writer, recovery and housekeeping of the folder; then
// the live run: its recording against File > Save, a run killed with SIGKILL
// and recovered at the next start, and failures to write.
//
// Started with "--record-child" the executable is that run: a live run that
// acquires on the stand-in's real-time clock and prints each block's last
// key until it is killed.

#include "acqtest.h"
#include "acquisition/blockmath.h"
#include "acquisition/liverun.h"
#include "app/logfile.h"
#include "artsim.h"
#include "datafiles/datafile.h"
#include "datafiles/journal.h"
#include "datafiles/recorder.h"
#include "datafiles/runnotes.h"
#include "datafiles/recordings.h"
#include "diskfaults.h"
#include "testfiles.h"
#include "userfolders.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

using Channels = std::array<PointList, ChannelCount>;

namespace {

// Block b of n points, one kept of every `keep` scans: live-like keys,
// values of every kind a channel holds.
SampleBlock makeBlock(int b, int n, int keep = 1)
{
    SampleBlock block;
    for (int j = 0; j < n; ++j) {
        const int k = b * n + j + 1;
        block.keys.append(k * keep / 4000.0);
        block.u1.append(50.0 * std::sin(0.01 * k) + 250);
        block.i.append(k % 17 == 0 ? 0.0 : 100.0 / (k + 3));
        block.t.append(k % 29 == 0 ? std::numeric_limits<double>::quiet_NaN() : 40.0 + k * 1e-7);
        block.u2.append(1e-300 * k);
    }
    return block;
}

void appendTo(Channels &channels, const SampleBlock &block)
{
    const QVector<double> *values[ChannelCount] = {&block.u1, &block.i, &block.t, &block.u2};
    for (int c = 0; c < ChannelCount; ++c)
        for (qsizetype j = 0; j < block.size(); ++j)
            channels[c].push_back({block.keys[j], (*values[c])[j]});
}

// What File > Save writes for these points: in memory, on every core.
QByteArray savedBytes(const ChannelSet &channels)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeDataFile(buffer, channels, nullptr, 0);
    return buffer.data();
}

QByteArray savedBytes(const Channels &c)
{
    return savedBytes(ChannelSet{c[0], c[1], c[2], c[3]});
}

// Scans on the stand-in's manual clock; the blocks they make are processed.
void pump(int scans)
{
    QVERIFY(ArtSim_Pump(scans) >= 0);
    QCoreApplication::processEvents();
}

// A signal that changes with every scan, so a lost or doubled point shows.
void scriptRamp()
{
    std::vector<double> script(4 * 997);
    for (int k = 0; k < 997; ++k)
        for (int c = 0; c < 4; ++c)
            script[size_t(4 * k + c)] = 0.01 * k + 0.3 * c + 1e-9 * k * k;
    ArtSim_SetScript(script.data(), 997);
}

// The child run: acquires until killed and prints each block's last key.
int recordChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    acqtest::Run run;
    run.setKeepEvery(1);
    run.setRunInfo({QStringLiteral("王丽"), QStringLiteral("C-17"), 250, {}, {}, {}});
    QObject::connect(&run, &LiveRun::pointsAdded, [&run] {
        if (run.notes().markers.empty())
            run.addMarker(0.5, QStringLiteral("开门"));
        std::printf("%.17g\n", run.store().lastKey().value_or(0));
        std::fflush(stdout);
    });
    return run.start() ? app.exec() : 1;
}

} // namespace

class RecordingTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void damagedJournal_data();
    void damagedJournal();
    void recorderWritesWhatSaveWrites();
    void recoveryLeavesLiveJournals();
    void housekeeping_data();
    void housekeeping();
    void sizeLimitSetting_data();
    void sizeLimitSetting();

    void runRecordingIsWhatSaveWrites();
    void killedRunIsRecoveredAtNextStart();
    void failureLeavesAcquisitionRunning_data();
    void failureLeavesAcquisitionRunning();
    void assemblyFaultSweep();
    void recoveryFaultSweep();
    void hungDiskHoldsUpNothing_data();
    void hungDiskHoldsUpNothing();
    void twoInstancesRecoverOnce();
    void stopOnAFailingDisk_data();
    void stopOnAFailingDisk();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

void RecordingTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void RecordingTest::damagedJournal_data()
{
    QTest::addColumn<int>("cutAt");       // journal length kept, -1 for all
    QTest::addColumn<QByteArray>("tail"); // appended after the cut
    QTest::addColumn<int>("flipAt");      // byte inverted, -1 for none
    QTest::addColumn<int>("kept");        // whole points expected

    const int record = int(JournalRecordSize);
    const int header = int(JournalHeaderSize);
    const QByteArray garbage = "\x7f garbage \xff\x00\x13 U1_DATA\r\n1 2\r\n" + QByteArray(61, 'x');
    QTest::newRow("intact") << -1 << QByteArray() << -1 << 50;
    QTest::newRow("last point cut in half")
        << header + 49 * record + 20 << QByteArray() << -1 << 49;
    QTest::newRow("cut after a whole point") << header + 12 * record << QByteArray() << -1 << 12;
    QTest::newRow("garbage appended") << -1 << garbage << -1 << 50;
    QTest::newRow("cut line, then garbage") << header + 7 * record + 3 << garbage << -1 << 7;
    QTest::newRow("zeros appended (power cut)") << -1 << QByteArray(4096, '\0') << -1 << 50;
    QTest::newRow("damaged point in the middle")
        << -1 << QByteArray() << header + 30 * record + 9 << 30;
    QTest::newRow("damaged header") << -1 << QByteArray() << 2 << 50;
    QTest::newRow("damaged header, garbage after it") << header << garbage << 2 << 0;
    QTest::newRow("cut inside the header") << 5 << QByteArray() << -1 << 0;
    QTest::newRow("no point yet") << header << QByteArray() << -1 << 0;
}

// Every whole point before the damage reaches the data file, exactly as
// Save writes those points; with none, no data file is written. Recovery
// removes only a journal that holds nothing; one with bytes but no point
// is kept under another name and reported, and not taken up again.
void RecordingTest::damagedJournal()
{
    QFETCH(int, cutAt);
    QFETCH(QByteArray, tail);
    QFETCH(int, flipAt);
    QFETCH(int, kept);

    QByteArray journal = journalHeader();
    Channels expected;
    for (int b = 0; b < 5; ++b) {
        appendJournalRecords(journal, makeBlock(b, 10));
        appendTo(expected, makeBlock(b, 10));
    }
    for (PointList &points : expected)
        points.resize(size_t(kept));
    if (cutAt >= 0)
        journal.truncate(cutAt);
    journal += tail;
    if (flipAt >= 0)
        journal[flipAt] = char(~journal[flipAt]);
    QVERIFY(writeFile(path("r.journal"), journal));

    const AssemblyResult result = assembleRecording(path("r.journal"), path("r.txt"));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.points, qint64(kept));
    QVERIFY(QDir().mkpath(path("left")) &&
            writeFile(path("left/KorvelDAQ-20261201-080000.journal"), journal));
    const std::vector<RecoveredRecording> recovered = recoverRecordings(path("left"));
    QCOMPARE(QDir(path("left")).entryList({"*.journal"}, QDir::Files), QStringList());
    QCOMPARE(recovered.size(), size_t(journal != journalHeader()));
    if (kept == 0 && !recovered.empty())
        QCOMPARE(readFile(recovered[0].keptPath), journal);
    if (kept == 0) {
        QVERIFY(!QFile::exists(path("r.txt")));
        return;
    }
    QCOMPARE(readFile(path("r.txt")), savedBytes(expected));
    const DataFileContents back = readDataFile(readFile(path("r.txt")));
    QCOMPARE(back.stop, ReadStop::EndOfData);
    QCOMPARE(back.points[ChannelU2].size(), size_t(kept));
}

// Through the threads: after each pause the data file is what Save writes
// for every point so far, blocks that come after the pause included; the end of a recording removes
// the journal; the next recording started in the same second gets a name of its own.
void RecordingTest::recorderWritesWhatSaveWrites()
{
    const QDateTime start(QDate(2026, 12, 8), QTime(14, 23, 1));
    const QString first = path("KorvelDAQ-20261208-142301.txt");
    const QString firstJournal = path("KorvelDAQ-20261208-142301.journal");
    const QString second = path("KorvelDAQ-20261208-142301-2.txt");
    Channels all;
    {
        Recorder recorder(dir->path(), qint64(1) << 40);
        QSignalSpy started(&recorder, &Recorder::recordingStarted);
        QSignalSpy failed(&recorder, &Recorder::recordingFailed);

        recorder.begin(start);
        // Reported as soon as the event loop runs, with no timer to wait for.
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, 200);
        for (int b = 0; b < 3; ++b) {
            recorder.add(makeBlock(b, 100));
            appendTo(all, makeBlock(b, 100));
        }
        recorder.pause();
        recorder.add(makeBlock(3, 100)); // on its way when acquisition stopped
        appendTo(all, makeBlock(3, 100));
        recorder.waitUntilWritten();
        QCOMPARE(recorder.currentFile(), first);
        QCOMPARE(readFile(first), savedBytes(all));
        QVERIFY(QFile::exists(firstJournal));

        recorder.begin(start.addSecs(30)); // a restart goes on in the same recording
        for (int b = 4; b < 6; ++b) {
            recorder.add(makeBlock(b, 100));
            appendTo(all, makeBlock(b, 100));
        }
        recorder.pause();
        recorder.waitUntilWritten();
        QCOMPARE(readFile(first), savedBytes(all));

        recorder.finish();
        recorder.begin(start);
        recorder.add(makeBlock(7, 25));
        recorder.finish();
        recorder.waitUntilWritten();
        QCOMPARE(readFile(first), savedBytes(all));
        QVERIFY(!QFile::exists(firstJournal));
        Channels seventh;
        appendTo(seventh, makeBlock(7, 25));
        QCOMPARE(readFile(second), savedBytes(seventh));
        QCOMPARE(started.size(), 2);
        QCOMPARE(started.at(1).at(0).toString(), second);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(recorder.currentFile(), QString());

        // Going away finishes the running recording.
        recorder.add(makeBlock(8, 10));
    }
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 3);
}

// A journal whose process is gone is assembled and removed; one that a
// running recorder holds is left alone.
void RecordingTest::recoveryLeavesLiveJournals()
{
    QByteArray crashed = journalHeader();
    appendJournalRecords(crashed, makeBlock(0, 40));
    Channels expected;
    appendTo(expected, makeBlock(0, 40));
    crashed += QByteArray("\x01\x02", 2); // the write the crash cut short
    QVERIFY(writeFile(path("KorvelDAQ-20261201-080000.journal"), crashed));

    QLockFile liveLock(path("KorvelDAQ-20261201-090000.journal.lock"));
    QVERIFY(liveLock.tryLock(0));
    QVERIFY(writeFile(path("KorvelDAQ-20261201-090000.journal"), crashed));

    Recorder recorder(dir->path(), qint64(1) << 40);
    QSignalSpy recovered(&recorder, &Recorder::recordingRecovered);
    recorder.recoverLeftovers();
    recorder.waitUntilWritten();
    QCOMPARE(recovered.size(), 1);
    QCOMPARE(recovered.at(0).at(0).toString(), path("KorvelDAQ-20261201-080000.txt"));
    QCOMPARE(recovered.at(0).at(1).toLongLong(), 40);
    QCOMPARE(readFile(path("KorvelDAQ-20261201-080000.txt")), savedBytes(expected));
    QVERIFY(!QFile::exists(path("KorvelDAQ-20261201-080000.journal")));
    QVERIFY(QFile::exists(path("KorvelDAQ-20261201-090000.journal")));
    QVERIFY(!QFile::exists(path("KorvelDAQ-20261201-090000.txt")));
}

void RecordingTest::housekeeping_data()
{
    // Files as "name:bytes"; what must remain after keeping within limit.
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QStringList>("remaining");

    const QString a = "KorvelDAQ-20261130-235959.txt", b = "KorvelDAQ-20261201-000000.txt",
                  c = "KorvelDAQ-20261201-101500.txt";
    QTest::newRow("within the limit")
        << QStringList{a + ":100", b + ":100", c + ":100"} << qint64(300) << QStringList{a, b, c};
    QTest::newRow("oldest first") << QStringList{c + ":100", a + ":100", b + ":100"} << qint64(250)
                                  << QStringList{b, c};
    QTest::newRow("until within the limit")
        << QStringList{a + ":100", b + ":100", c + ":100"} << qint64(199) << QStringList{c};
    QTest::newRow("same second: by attempt")
        << QStringList{"KorvelDAQ-20261201-000000-10.txt:100",
                       "KorvelDAQ-20261201-000000-2.txt:100", b + ":100"}
        << qint64(150) << QStringList{"KorvelDAQ-20261201-000000-10.txt"};
    QTest::newRow("recording with a journal is kept")
        << QStringList{a + ":100", "KorvelDAQ-20261130-235959.journal:300", b + ":100", c + ":100"}
        << qint64(450) << QStringList{"KorvelDAQ-20261130-235959.journal", a, c};
    QTest::newRow("a run just begun is not the newest")
        << QStringList{a + ":100", b + ":1000", "KorvelDAQ-20261201-101500.journal:8"}
        << qint64(500) << QStringList{b, "KorvelDAQ-20261201-101500.journal"};
    QTest::newRow("the newest stays even beyond the limit")
        << QStringList{a + ":100", c + ":1000"} << qint64(500) << QStringList{c};
    QTest::newRow("notes go with their data file, never alone")
        << QStringList{a + ":100", a + ".notes:60", c + ":100", c + ".notes:10"} << qint64(200)
        << QStringList{c, c + ".notes"};
    QTest::newRow("other files neither count nor go")
        << QStringList{a + ":100", b + ":100", "notes.txt:5000", "KorvelDAQ-x.txt:5000"}
        << qint64(200) << QStringList{a, b, "KorvelDAQ-x.txt", "notes.txt"};
}

void RecordingTest::housekeeping()
{
    QFETCH(QStringList, files);
    QFETCH(qint64, limit);
    QFETCH(QStringList, remaining);
    for (const QString &file : files) {
        const QStringList parts = file.split(':');
        QVERIFY(writeFile(path(parts[0]), QByteArray(parts[1].toInt(), 'x')));
    }
    removeOldRecordings(dir->path(), limit);
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files, QDir::Name), remaining);
}

void RecordingTest::sizeLimitSetting_data()
{
    QTest::addColumn<QByteArray>("settings"); // the file's text, empty: no file
    QTest::addColumn<qint64>("limit");
    QTest::newRow("no settings file") << QByteArray() << qint64(5000000000);
    QTest::newRow("half a gigabyte")
        << QByteArray("[Recordings]\nMaxTotalSizeGB=0.5\n") << qint64(500000000);
    QTest::newRow("no number") << QByteArray("[Recordings]\nMaxTotalSizeGB=lots\n")
                               << qint64(5000000000);
    QTest::newRow("negative") << QByteArray("[Recordings]\nMaxTotalSizeGB=-3\n")
                              << qint64(5000000000);
}

// The limit comes from the program's settings file; anything unusable there
// means the default.
void RecordingTest::sizeLimitSetting()
{
    QFETCH(QByteArray, settings);
    QFETCH(qint64, limit);
    const QString file = settingsFileName();
    QVERIFY(!file.isEmpty());
    QFile::remove(file);
    if (!settings.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(writeFile(file, settings));
    }
    QCOMPARE(recordingsSizeLimit(), limit);
    QFile::remove(file);
}

// Through the live run: after every stop the recording is byte for byte
// what File > Save writes, also for blocks still on their way at the stop;
// several start/stop pairs go to one recording, a clear starts the next.
void RecordingTest::runRecordingIsWhatSaveWrites()
{
    QDir(recordingsFolder()).removeRecursively();
    ArtSim_Reset();
    ArtSim_SetManualClock(1);
    scriptRamp();
    acqtest::Run run;
    Recorder &recorder = run.recorder();
    QSignalSpy started(&recorder, &Recorder::recordingStarted);
    QSignalSpy failed(&recorder, &Recorder::recordingFailed);
    run.setKeepEvery(1);

    QVERIFY(run.start());
    pump(700);
    recorder.waitUntilWritten();
    const QString first = recorder.currentFile();
    QVERIFY(QFileInfo(first).fileName().startsWith(QStringLiteral("KorvelDAQ-")));
    QCOMPARE(QFileInfo(first).path(), recordingsFolder());
    run.stop();
    recorder.waitUntilWritten();
    QCOMPARE(readFile(first), savedBytes(run.store().snapshot().views()));

    for (const int scans : {537, 1263, 100}) {
        QVERIFY(run.start());
        QVERIFY(ArtSim_Pump(scans) >= 0);
        run.stop(); // the blocks are still on their way to the run
        QCoreApplication::processEvents();
        recorder.waitUntilWritten();
        QCOMPARE(recorder.currentFile(), first);
        QCOMPARE(readFile(first), savedBytes(run.store().snapshot().views()));
    }
    const QByteArray firstBytes = readFile(first);
    QCOMPARE(run.store().count(ChannelU1), 2500); // a new task starts without the partial block
    verifyKeyOfScan(run.store().lastKey().value_or(0), 2500);

    run.clear();
    QVERIFY(run.start());
    pump(300);
    run.stop();
    recorder.waitUntilWritten();
    QCOMPARE(started.size(), 2);
    const QString second = recorder.currentFile();
    QVERIFY(second != first);
    QCOMPARE(readFile(second), savedBytes(run.store().snapshot().views()));
    QCOMPARE(readFile(first), firstBytes); // the first one stays as it was
    QVERIFY(!QFile::exists(QString(first).replace(".txt", ".journal")));
    QCOMPARE(failed.size(), 0);
}

// A run killed with SIGKILL while it records leaves its journal; the next
// start assembles it into a valid data file holding every point handed to
// the recording up to at least one second before the kill, and says which.
void RecordingTest::killedRunIsRecoveredAtNextStart()
{
#ifdef Q_OS_UNIX
    QDir(recordingsFolder()).removeRecursively();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ARTDAQ_SIM"), QStringLiteral("signal=constant:1,0.5,5,2"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    std::vector<std::pair<qint64, double>> keys; // when received, last key so far
    connect(&child, &QProcess::readyReadStandardOutput, [&] {
        while (child.canReadLine())
            keys.emplace_back(clock.elapsed(), child.readLine().trimmed().toDouble());
    });
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--record-child")});
    QVERIFY(child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!keys.empty(), 20000);
    const qint64 firstKey = keys.front().first;
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > firstKey + 2500, 10000);
    const qint64 killedAt = clock.elapsed();
    child.kill(); // SIGKILL
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    double safeKey = 0; // handed over at least a second before the kill
    for (const auto &k : keys)
        if (k.first <= killedAt - 1000)
            safeKey = std::max(safeKey, k.second);
    QVERIFY2(safeKey > 0, "the child recorded for too short a time");

    const QStringList journals =
        QDir(recordingsFolder()).entryList({QStringLiteral("*.journal")}, QDir::Files);
    QCOMPARE(journals.size(), 1);
    const QString dataFile =
        recordingsFolder() + QLatin1Char('/') + QString(journals[0]).replace(".journal", ".txt");

    acqtest::Run next;
    QSignalSpy recovered(&next.recorder(), &Recorder::recordingRecovered);
    next.recoverLeftovers();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    QCOMPARE(recovered.at(0).at(0).toString(), dataFile);
    QVERIFY(!recovered.at(0).at(2).toBool()); // a crash, not a refusal at Exit
    // The notes written beside it while it ran are there as written.
    QCOMPARE(
        QDir(recordingsFolder()).entryList(QDir::Files),
        (QStringList{QFileInfo(dataFile).fileName(), QFileInfo(dataFile).fileName() + ".notes"}));
    const RunNotesRead notes = readRunNotes(readFile(notesPathFor(dataFile)));
    QCOMPARE(notes.notes.info.sample, QStringLiteral("C-17"));
    QCOMPARE(notes.notes.markers.size(), 1u);
    QCOMPARE(notes.notes.markers[0].text, QStringLiteral("开门"));

    // Every scan from the first on, the constant signal in every point.
    const DataFileContents contents = readDataFile(readFile(dataFile));
    QCOMPARE(contents.stop, ReadStop::EndOfData);
    const double values[ChannelCount] = {50, 50, 200, 100};
    const size_t n = contents.points[ChannelU1].size();
    QVERIFY2(n / 4000.0 >= safeKey,
             qPrintable(QStringLiteral("%1 points, %2 s before the kill").arg(n).arg(safeKey)));
    for (int c = 0; c < ChannelCount; ++c) {
        QCOMPARE(contents.points[c].size(), n);
        for (size_t k = 0; k < n; ++k) {
            const DataPoint &p = contents.points[c][k];
            if (p.key != double(k + 1) / cardScanRate || p.value != values[c])
                QFAIL(qPrintable(QStringLiteral("channel %1 point %2: %3 %4")
                                     .arg(c)
                                     .arg(k)
                                     .arg(p.key, 0, 'g', 17)
                                     .arg(p.value)));
        }
    }
#else
    QSKIP("needs SIGKILL");
#endif
}

void RecordingTest::failureLeavesAcquisitionRunning_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("folder cannot be created") << false;
#ifdef Q_OS_LINUX
    QTest::newRow("disk fills up while recording") << true;
#endif
}

// Writing fails: acquisition and the data in memory go on untouched; the
// recorder says once, and error.txt says, that the recording stopped being
// written, and why. What reached the disk before stays a valid recording.
void RecordingTest::failureLeavesAcquisitionRunning()
{
    QFETCH(bool, diskFull);
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    if (!diskFull) {
        QVERIFY(writeFile(path("file"), "x"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("file")));
    }
    const auto restoreDataHome = qScopeGuard([&] { qputenv("XDG_DATA_HOME", savedDataHome); });
    ArtSim_Reset();
    ArtSim_SetManualClock(1);
    scriptRamp();
    acqtest::Run run;
    Recorder &recorder = run.recorder();
    QSignalSpy failed(&recorder, &Recorder::recordingFailed);
    run.setKeepEvery(1);
    QVERIFY(run.start());
    pump(200);
    recorder.waitUntilWritten();
    const QString dataFile = recorder.currentFile();
    QVERIFY(!dataFile.isEmpty());

#ifdef Q_OS_LINUX
    if (diskFull) {
        // Files may grow a little beyond the largest there is now: the journal
        // soon fills that, the logs' few lines do not.
        qint64 largest = QFileInfo(QString(dataFile).replace(".txt", ".journal")).size();
        for (const QString &log : {QStringLiteral("error.txt"), QStringLiteral("data.txt")})
            largest = std::max(largest, QFileInfo(logPathBesideExecutable(log)).size());
        FileSizeLimit limit(largest + 64 * 1024);
        QVERIFY(limit.isSet());
        for (int b = 0; b < 40 && failed.isEmpty(); ++b) {
            pump(100);
            QTest::qWait(20);
        }
        recorder.waitUntilWritten();
    }
#endif
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), dataFile);
    const QString reason = failed.at(0).at(1).toString();
    QVERIFY(!reason.isEmpty());
#ifdef Q_OS_LINUX
    if (diskFull)
        QCOMPARE(reason, qt_error_string(EFBIG)); // the system's reason, never "Unknown error"
#endif
    const QString log = QString::fromUtf8(acqtest::readErrorLog());
    QVERIFY2(log.contains(QRegularExpression(
                 QStringLiteral("\\d+    recording write error\uFF1A %1  %2  \r\n")
                     .arg(QRegularExpression::escape(QDir::toNativeSeparators(dataFile)),
                          QRegularExpression::escape(reason)))),
             qPrintable(log.right(500)));

    // Acquisition goes on, every scan in memory.
    const qsizetype before = run.store().count(ChannelU1);
    pump(500);
    QCOMPARE(run.store().count(ChannelU1), before + 500);
    QVERIFY(run.running() && recorder.currentFailed());
    const qsizetype held = run.store().count(ChannelU1);
    QCOMPARE(run.store().lastKey().value_or(0), held / cardScanRate);

    run.stop();
    recorder.waitUntilWritten();
    QCOMPARE(failed.size(), 1); // told once
    if (!diskFull) {
        QVERIFY(!QFile::exists(dataFile));
        // The next recording tries again.
        run.clear();
        QVERIFY(run.start());
        pump(100);
        recorder.waitUntilWritten();
        QCOMPARE(failed.size(), 2);
        return;
    }
    // The points written before the disk filled up: the first ones held.
    const DataFileContents contents = readDataFile(readFile(dataFile));
    QCOMPARE(contents.stop, ReadStop::EndOfData);
    const size_t n = contents.points[ChannelU1].size();
    QVERIFY2(n >= 200 && n < size_t(held), qPrintable(QString::number(n)));
    const ChannelSnapshot shot = run.store().snapshot();
    const ChannelSet views = shot.views();
    for (int c = 0; c < ChannelCount; ++c) {
        QCOMPARE(contents.points[c].size(), n);
        for (size_t k = 0; k < n; ++k)
            QVERIFY(contents.points[c][k].key == views[c].at(qsizetype(k)).key &&
                    contents.points[c][k].value == views[c].at(qsizetype(k)).value);
    }
}

// Stop, then clear, on a disk that fails at each fault of the sweep: a data
// file said to be written is complete, a failure is said with the system's
// reason, the journal stays until its data file is proven, the status clears
// once an assembly succeeds, and the next finish or Exit tries again.
void RecordingTest::assemblyFaultSweep()
{
    REQUIRE_DISK_FAULTS();
    Channels all;
    for (int b = 0; b < 12; ++b)
        appendTo(all, makeBlock(b, 100));
    const QList<DiskFault> faults = diskFaults(savedBytes(all).size());
    appendTo(all, makeBlock(12, 10)); // added after the failed stop
    const QByteArray complete = savedBytes(all);
    FaultTally tally;
    int row = 0;
    for (const DiskFault &fault : faults) {
        const QString folder = path(QString::number(row++));
        const QString data = folder + "/KorvelDAQ-20261208-142301.txt";
        const QString journal = folder + "/KorvelDAQ-20261208-142301.journal";
        {
            Recorder recorder(folder, qint64(1) << 40);
            QSignalSpy failed(&recorder, &Recorder::recordingFailed);
            recorder.begin(QDateTime(QDate(2026, 12, 8), QTime(14, 23, 1)));
            for (int b = 0; b < 12; ++b)
                recorder.add(makeBlock(b, 100));
            recorder.waitUntilWritten();
            fault.arm(folder, ".journal");
            recorder.pause();
            recorder.waitUntilWritten();
            tally.ran();
            QVERIFY2(failed.size() == 1, fault.name());
            QCOMPARE(failed.at(0).at(1).toString(), qt_error_string(fault.error));
            QVERIFY(recorder.currentFailed());
            QVERIFY(!QFile::exists(data));

            recorder.begin({});
            recorder.add(makeBlock(12, 10));
            recorder.pause();
            recorder.waitUntilWritten();
            QVERIFY(!recorder.currentFailed());
            QCOMPARE(readFile(data), complete);

            QVERIFY(writeFile(data, "old"));
            fault.arm(folder, ".journal");
            recorder.finish(); // written again, as the file changed
            recorder.waitUntilWritten();
            korvel_fault_clear();
            QVERIFY(QFile::exists(journal) || readFile(data) == complete);
        }
        tally.falseSuccesses += readFile(data) != complete; // Exit tried again
        QVERIFY2(!QFile::exists(journal), fault.name());
    }
    QVERIFY(tally.report("assembly", int(faults.size())));
}

// Recovery at start-up under the same sweep: a recording reported
// recovered is complete; otherwise the journal stays and the next start
// recovers it.
void RecordingTest::recoveryFaultSweep()
{
    REQUIRE_DISK_FAULTS();
    Channels all;
    QByteArray crashed = journalHeader();
    for (int b = 0; b < 12; ++b) {
        appendJournalRecords(crashed, makeBlock(b, 100));
        appendTo(all, makeBlock(b, 100));
    }
    const QByteArray complete = savedBytes(all);
    const QList<DiskFault> faults = diskFaults(complete.size());
    const QString data = path("KorvelDAQ-20261201-080000.txt");
    const QString journal = path("KorvelDAQ-20261201-080000.journal");
    FaultTally tally;
    for (const DiskFault &fault : faults) {
        QVERIFY(writeFile(journal, crashed));
        for (bool faulty : {true, false}) {
            Recorder recorder(dir->path(), qint64(1) << 40);
            QSignalSpy recovered(&recorder, &Recorder::recordingRecovered);
            QSignalSpy failed(&recorder, &Recorder::recoveryFailed);
            if (faulty)
                fault.arm(dir->path(), ".journal");
            recorder.recoverLeftovers();
            recorder.waitUntilWritten();
            if (faulty)
                tally.ran();
            if (!recovered.isEmpty()) {
                tally.falseSuccesses += readFile(data) != complete;
                QVERIFY(!QFile::exists(journal));
                break;
            }
            QVERIFY2(faulty && failed.size() == 1, fault.name());
            QCOMPARE(failed.at(0).at(1).toString(), qt_error_string(fault.error));
            QVERIFY(QFile::exists(journal) && !QFile::exists(data));
        }
        QVERIFY(QFile::remove(data));
    }
    QVERIFY(tally.report("recovery", int(faults.size())));
}

void RecordingTest::hungDiskHoldsUpNothing_data()
{
    QTest::addColumn<int>("keepEvery");   // scans per point kept
    QTest::addColumn<qint64>("syncRate"); // bytes a second of a slow disk; 0: the disk hangs
    QTest::newRow("hangs, every sample kept") << 1 << qint64(0);
    QTest::newRow("hangs, every 10th kept") << 10 << qint64(0);
    QTest::newRow("slow but healthy at Exit") << 1 << qint64(3 << 20);
}

// A disk that stops answering: the writer's queue stays within 30 s of
// points and the recording is reported failed at once; Exit does not wait
// for the disk. One that is only slow to sync the data file is waited for.
void RecordingTest::hungDiskHoldsUpNothing()
{
    REQUIRE_DISK_FAULTS();
    QFETCH(int, keepEvery);
    QFETCH(qint64, syncRate);
    auto recorder = std::make_unique<Recorder>(dir->path(), qint64(1) << 40);
    QSignalSpy failed(recorder.get(), &Recorder::recordingFailed);
    recorder->begin(QDateTime::currentDateTime());
    recorder->waitUntilWritten();
    if (syncRate > 0) {
        Channels all;
        for (int b = 0; b < 200; ++b) {
            recorder->add(makeBlock(b, 1000));
            appendTo(all, makeBlock(b, 1000));
            if (b % 20 == 19)
                recorder->waitUntilWritten();
        }
        QVERIFY(savedBytes(all).size() > 5 * syncRate); // one sync outlasts Exit's patience
        korvel_fault_arm("slowsync", qPrintable(dir->path()), ".journal", syncRate, 0, 0);
        recorder.reset();
        korvel_fault_clear();
        QCOMPARE(QDir(dir->path()).entryList({"*.journal"}, QDir::Files), QStringList());
        QCOMPARE(failed.size(), 0);
        return;
    }
    korvel_fault_arm("write", qPrintable(dir->path()), "", 0, 0, 1); // hangs
    for (int b = 0; b < 20000 && failed.isEmpty(); ++b)
        recorder->add(makeBlock(b, 100 / keepEvery, keepEvery));
    QCOMPARE(failed.size(), 1);
    QVERIFY(recorder->currentFailed());
    QVERIFY(recorder->queuedBytes() <= (30 * 4000 / keepEvery + 100) * 5 * 8);
    QElapsedTimer exit;
    exit.start();
    recorder.reset();
    QVERIFY2(exit.elapsed() < 8000, qPrintable(QString::number(exit.elapsed())));
    korvel_fault_clear(); // the workers left behind finish on their own
}

// Two instances that start together recover each crashed journal once,
// with no false failure between them.
void RecordingTest::twoInstancesRecoverOnce()
{
    REQUIRE_DISK_FAULTS();
    for (int k = 0; k < 40; ++k) {
        QByteArray crashed = journalHeader();
        appendJournalRecords(crashed, makeBlock(k, 5));
        QVERIFY(writeFile(
            path(QStringLiteral("KorvelDAQ-20261201-08%1.journal").arg(k, 4, 10, QLatin1Char('0'))),
            crashed));
    }
    Recorder first(dir->path(), qint64(1) << 40), second(dir->path(), qint64(1) << 40);
    QSignalSpy recovered1(&first, &Recorder::recordingRecovered);
    QSignalSpy recovered2(&second, &Recorder::recordingRecovered);
    QSignalSpy failed1(&first, &Recorder::recoveryFailed);
    QSignalSpy failed2(&second, &Recorder::recoveryFailed);
    first.recoverLeftovers();
    second.recoverLeftovers();
    first.waitUntilWritten();
    second.waitUntilWritten();
    QCOMPARE(failed1.size() + failed2.size(), 0);
    QCOMPARE(recovered1.size() + recovered2.size(), 40);
    QCOMPARE(QDir(dir->path()).entryList({"*.journal"}, QDir::Files), QStringList());
}

void RecordingTest::stopOnAFailingDisk_data()
{
    QTest::addColumn<bool>("atExit");
    QTest::newRow("at Stop") << false;
    QTest::newRow("at Exit") << true;
}

// A stop whose assembly fails is told with the system's reason. A recording
// that Exit could not assemble is recovered at the next start, which knows
// that the disk refused it at Exit and why: the program did not crash.
void RecordingTest::stopOnAFailingDisk()
{
    REQUIRE_DISK_FAULTS();
    QFETCH(bool, atExit);
    QDir(recordingsFolder()).removeRecursively();
    ArtSim_Reset();
    ArtSim_SetManualClock(1);
    auto run = std::make_unique<acqtest::Run>();
    QSignalSpy failed(&run->recorder(), &Recorder::recordingFailed);
    run->setKeepEvery(1);
    QVERIFY(run->start());
    pump(300);
    run->recorder().waitUntilWritten();
    const QString dataFile = run->recorder().currentFile();
    korvel_fault_arm("write", qPrintable(recordingsFolder()), ".journal", 0, ENOSPC, 0);
    if (atExit) {
        run.reset();
    } else {
        run->stop();
        run->recorder().waitUntilWritten();
    }
    korvel_fault_clear();
    if (!atExit) {
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), dataFile);
        QCOMPARE(failed.at(0).at(1).toString(), qt_error_string(ENOSPC));
        return;
    }
    acqtest::Run next; // the next start
    QSignalSpy recovered(&next.recorder(), &Recorder::recordingRecovered);
    next.recoverLeftovers();
    QTRY_COMPARE(recovered.size(), 1);
    QCOMPARE(recovered.at(0).at(0).toString(), dataFile);
    QVERIFY(recovered.at(0).at(2).toBool()); // ended at Exit
    QCOMPARE(recovered.at(0).at(3).toString(), qt_error_string(ENOSPC));
}

int main(int argc, char **argv)
{
    if (argc > 1 && !std::strcmp(argv[1], "--record-child"))
        return recordChild(argc, argv); // in the folders its parent chose
    keepOutOfUserFolders();
    QCoreApplication app(argc, argv);
    RecordingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording.moc"
