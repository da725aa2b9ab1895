// Recordings: the journal and its damaged tails, the recorder's threads
// against the data-file writer, recovery and housekeeping of the folder.

#include "datafiles/datafile.h"
#include "datafiles/journal.h"
#include "datafiles/recorder.h"
#include "datafiles/recordings.h"
#include "userfolders.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using Channels = std::array<PointList, ChannelCount>;

namespace {

// Block b of n points: live-like keys, values of every kind a channel holds.
RecordedBlock makeBlock(int b, int n)
{
    RecordedBlock block;
    for (int j = 0; j < n; ++j) {
        const int k = b * n + j + 1;
        block.keys.append(k / 4000.0);
        block.values[0].append(50.0 * std::sin(0.01 * k) + 250);
        block.values[1].append(k % 17 == 0 ? 0.0 : 100.0 / (k + 3));
        block.values[2].append(k % 29 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                           : 40.0 + k * 1e-7);
        block.values[3].append(1e-300 * k);
    }
    return block;
}

void appendTo(Channels &channels, const RecordedBlock &block)
{
    for (int c = 0; c < ChannelCount; ++c)
        for (qsizetype j = 0; j < block.size(); ++j)
            channels[c].push_back({block.keys[j], block.values[c][j]});
}

// What File > Save writes for these points.
QByteArray savedBytes(const Channels &channels)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeDataFile(buffer, {channels[0], channels[1], channels[2], channels[3]});
    return buffer.data();
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
    void unwritableFolder();

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
    QTest::newRow("damaged header") << -1 << QByteArray() << 2 << 0;
    QTest::newRow("cut inside the header") << 5 << QByteArray() << -1 << 0;
}

// Every whole point before the damage reaches the data file, exactly as
// Save writes those points; with none, no data file is written.
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
// for every point so far, blocks that come after the pause included; the end of a recording removes the journal; the
// next recording started in the same second gets a name of its own.
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
    QTest::newRow("the newest stays even beyond the limit")
        << QStringList{a + ":100", c + ":1000"} << qint64(500) << QStringList{c};
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
    QTest::newRow("other settings only") << QByteArray("[Window]\nx=1\n") << qint64(5000000000);
    QTest::newRow("half a gigabyte")
        << QByteArray("[Recordings]\nMaxTotalSizeGB=0.5\n") << qint64(500000000);
    QTest::newRow("twelve") << QByteArray("[Recordings]\r\nMaxTotalSizeGB=12\r\n")
                            << qint64(12000000000);
    QTest::newRow("no number") << QByteArray("[Recordings]\nMaxTotalSizeGB=lots\n")
                               << qint64(5000000000);
    QTest::newRow("zero") << QByteArray("[Recordings]\nMaxTotalSizeGB=0\n") << qint64(5000000000);
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

// A folder that cannot be created: the recorder reports why, once per
// recording, and takes every later point without complaint.
void RecordingTest::unwritableFolder()
{
    QVERIFY(writeFile(path("file"), "x"));
    Recorder recorder(path("file/recordings"), qint64(1) << 40);
    QSignalSpy failed(&recorder, &Recorder::recordingFailed);
    for (int b = 0; b < 3; ++b)
        recorder.add(makeBlock(b, 100));
    recorder.pause();
    recorder.waitUntilWritten();
    QCOMPARE(failed.size(), 1);
    QVERIFY(failed.at(0).at(0).toString().startsWith(path("file/recordings/KorvelDAQ-")));
    QVERIFY(!failed.at(0).at(1).toString().isEmpty());
    QVERIFY(recorder.currentFailed());

    recorder.finish();
    recorder.add(makeBlock(3, 100));
    recorder.waitUntilWritten();
    QCOMPARE(failed.size(), 2); // the next recording tries again
}

int main(int argc, char **argv)
{
    keepOutOfUserFolders();
    QCoreApplication app(argc, argv);
    RecordingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording.moc"
