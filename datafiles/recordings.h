#pragma once

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QFile;
class QLockFile;

// The recordings folder: one data file per recording, named after the time
// acquisition started, "KorvelDAQ-20261208-142301.txt" ("-2", "-3" ... when
// that name is taken). While a recording is written its journal lies beside
// it ("KorvelDAQ-20261208-142301.journal"), guarded by a lock file that names
// the process writing it. A journal whose process is gone was left by a
// crash and is assembled into its data file at the next start.

// "recordings" in the per-user application data folder.
QString recordingsFolder();

// The total size the recordings may take, in bytes: "Recordings/MaxTotalSizeGB"
// in the program's settings file (default 5 GB).
qint64 recordingsSizeLimit();
QString settingsFileName();
// The program's settings file (an INI file per user).
QSettings programSettings();
constexpr double DefaultRecordingsSizeGB = 5.0;

// "KorvelDAQ-yyyyMMdd-HHmmss", with "-<attempt>" from the second attempt on.
QString recordingStem(const QDateTime &start, int attempt = 1);

// A recording being written: its journal open for appending, its lock held.
struct ReservedRecording
{
    QString journalPath;
    QString dataPath;
    std::shared_ptr<QLockFile> lock;
    std::unique_ptr<QFile> journal;
    QString error; // why no recording could be created; the paths name the one tried
};

// Creates the folder if needed and a new journal named after start, with its
// header written, under a name no other recording (data file, journal or
// lock) uses.
ReservedRecording reserveRecording(const QString &folder, const QDateTime &start);

struct RecoveredRecording
{
    QString dataPath;
    qint64 points = 0;
    QString error;            // empty when the data file was written
    bool endedAtExit = false; // no crash: the disk refused the data file at Exit
    QString exitReason;       // the system's reason then, if known
    QString keptPath;         // nothing could be read: the journal was kept under this name
};

// Assembles every journal in the folder that no running process holds, then
// removes it once its data file is proven complete. An empty journal (a run
// that recorded nothing) is removed and not reported; one whose bytes hold
// no intact point is never removed but kept under another name
// ("….journal.damaged"), which no later recovery takes up again; one that
// cannot be assembled stays for the next attempt.
std::vector<RecoveredRecording> recoverRecordings(const QString &folder);

// A finished recording, as the recent-recordings list shows it.
struct RecordingEntry
{
    QString dataPath;
    QDateTime start;     // from its name
    double seconds = -1; // the time of its last point; -1 when it holds none
    qint64 bytes = 0;
    QString sample; // from the notes beside it; empty when none
};

// The recordings' data files in the folder, newest first, at most `count`:
// each as its last assembly (at Stop, a clear or Exit) left it. Reads only
// the end of each file.
std::vector<RecordingEntry> recentRecordings(const QString &folder, int count = 10);

// Removes finished recordings, oldest first, until the recordings in the
// folder take at most `limit` bytes. A recording with a journal (being
// written, not yet proven or not yet recovered) and the newest recording
// without a journal are never removed.
// Returns the data files removed.
QStringList removeOldRecordings(const QString &folder, qint64 limit);
