#include "datafiles/recordings.h"

#include "datafiles/datafile.h"
#include "datafiles/journal.h"
#include "datafiles/runnotes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

const QString dataSuffix = QStringLiteral(".txt");
const QString journalSuffix = QStringLiteral(".journal");
const QString lockSuffix = QStringLiteral(".lock");

// A recording's file name: stem, start time, attempt, kind.
const QRegularExpression &recordingName()
{
    static const QRegularExpression name(
        QStringLiteral("^(KorvelDAQ-(\\d{8}-\\d{6})(?:-(\\d+))?)\\.(txt|journal|txt\\.notes)$"));
    return name;
}

// The lock beside a journal. It never goes stale by age, only when the
// process that holds it is gone.
std::shared_ptr<QLockFile> journalLock(const QString &journalPath)
{
    auto lock = std::make_shared<QLockFile>(journalPath + lockSuffix);
    lock->setStaleLockTime(0);
    return lock;
}

} // namespace

QSettings programSettings()
{
    const QString name = QCoreApplication::applicationName();
    return QSettings(QSettings::IniFormat, QSettings::UserScope, name, name);
}

QString recordingsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/recordings");
}

qint64 recordingsSizeLimit()
{
    bool ok = false;
    double gb = programSettings()
                    .value(QStringLiteral("Recordings/MaxTotalSizeGB"), DefaultRecordingsSizeGB)
                    .toDouble(&ok);
    if (!ok || !(gb > 0) || gb > 1e6)
        gb = DefaultRecordingsSizeGB;
    return qint64(gb * 1e9);
}

QString settingsFileName()
{
    return programSettings().fileName();
}

QString recordingStem(const QDateTime &start, int attempt)
{
    QString stem = QStringLiteral("KorvelDAQ-") + start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (attempt > 1)
        stem += QLatin1Char('-') + QString::number(attempt);
    return stem;
}

ReservedRecording reserveRecording(const QString &folder, const QDateTime &start)
{
    ReservedRecording r;
    QDir().mkpath(folder); // a failure shows when the journal cannot be created
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const QString base = folder + QLatin1Char('/') + recordingStem(start, attempt);
        r.journalPath = base + journalSuffix;
        r.dataPath = base + dataSuffix;
        if (QFileInfo::exists(r.dataPath) || QFileInfo::exists(r.journalPath))
            continue;
        r.lock = journalLock(r.journalPath);
        const bool locked = r.lock->tryLock(0);
        if (!locked && r.lock->error() == QLockFile::LockFailedError)
            continue; // another process is about to write under this name
        r.journal = std::make_unique<QFile>(r.journalPath);
        if (!r.journal->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            if (locked && QFileInfo::exists(r.journalPath)) {
                r.lock->unlock();
                continue;
            }
            r.error = r.journal->errorString();
        } else if (!locked) {
            r.error = QStringLiteral("cannot create %1").arg(r.lock->fileName());
        } else if (r.journal->write(journalHeader()) != JournalHeaderSize) {
            r.error = r.journal->errorString();
        } else {
            return r;
        }
        if (r.journal->isOpen()) {
            r.journal->close();
            r.journal->remove();
        }
        r.journal.reset();
        if (locked)
            r.lock->unlock();
        r.lock.reset();
        return r;
    }
    r.error = QStringLiteral("no free name");
    r.journal.reset();
    r.lock.reset();
    return r;
}

std::vector<RecoveredRecording> recoverRecordings(const QString &folder)
{
    std::vector<RecoveredRecording> recovered;
    const QDir dir(folder);
    const QStringList journals =
        dir.entryList({QStringLiteral("KorvelDAQ-*") + journalSuffix}, QDir::Files, QDir::Name);
    for (const QString &name : journals) {
        if (!recordingName().match(name).hasMatch())
            continue;
        const QString journalPath = dir.filePath(name);
        const std::shared_ptr<QLockFile> lock = journalLock(journalPath);
        if (!lock->tryLock(0))
            continue; // still being written
        if (!QFileInfo::exists(journalPath))
            continue; // another instance recovered it meanwhile
        RecoveredRecording r;
        r.dataPath = journalPath.chopped(journalSuffix.size()) + dataSuffix;
        const AssemblyResult assembled = assembleRecording(journalPath, r.dataPath);
        if (!assembled.ok) {
            r.error = assembled.error;
            recovered.push_back(r);
            continue;
        }
        if (assembled.points == 0 && !assembled.empty) {
            // Unreadable, not empty: whatever it holds is not thrown away.
            QFile journal(journalPath);
            QString kept = journalPath + QStringLiteral(".damaged");
            for (int n = 2; QFileInfo::exists(kept); ++n)
                kept = journalPath + QStringLiteral(".damaged-%1").arg(n);
            if (journal.rename(kept))
                r.keptPath = kept;
            else
                r.error = journal.errorString();
            recovered.push_back(r);
            continue;
        }
        QFile::remove(journalPath);
        r.points = assembled.points;
        r.endedAtExit = assembled.endedAtExit;
        if (assembled.exitError > 0)
            r.exitReason = qt_error_string(assembled.exitError);
        if (r.points > 0)
            recovered.push_back(r);
    }
    return recovered;
}

QStringList removeOldRecordings(const QString &folder, qint64 limit)
{
    struct Recording
    {
        QString time;
        int attempt = 1;
        QString dataPath;
        qint64 dataSize = 0;
        QString notesPath;
        qint64 notesSize = 0;
        bool hasJournal = false;
    };
    const QDir dir(folder);
    std::map<QString, Recording> byStem;
    qint64 total = 0;
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("KorvelDAQ-*")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &file : files) {
        const QRegularExpressionMatch m = recordingName().match(file.fileName());
        if (!m.hasMatch())
            continue;
        Recording &r = byStem[m.captured(1)];
        r.time = m.captured(2);
        r.attempt = m.capturedLength(3) ? m.captured(3).toInt() : 1;
        total += file.size();
        if (m.captured(4) == QLatin1String("journal")) {
            r.hasJournal = true;
        } else if (m.captured(4) != QLatin1String("txt")) {
            r.notesPath = file.filePath();
            r.notesSize = file.size();
        } else {
            r.dataPath = file.filePath();
            r.dataSize = file.size();
        }
    }
    QStringList removed;
    if (total <= limit)
        return removed;

    std::vector<const Recording *> oldestFirst;
    for (const auto &entry : byStem)
        oldestFirst.push_back(&entry.second);
    std::sort(oldestFirst.begin(), oldestFirst.end(), [](const Recording *a, const Recording *b) {
        return a->time != b->time ? a->time < b->time : a->attempt < b->attempt;
    });
    // The newest finished recording stays; a journal alone (a run that has
    // just begun) is no finished recording.
    const auto newest = std::find_if(oldestFirst.rbegin(), oldestFirst.rend(),
                                     [](const Recording *r) { return !r->hasJournal; });
    for (const Recording *r : oldestFirst) {
        if (total <= limit)
            break;
        if (r->hasJournal || r->dataPath.isEmpty() ||
            (newest != oldestFirst.rend() && r == *newest))
            continue;
        if (QFile::remove(r->dataPath)) {
            total -= r->dataSize;
            removed << r->dataPath;
            // Its notes go with it; notes alone are never removed.
            if (!r->notesPath.isEmpty() && QFile::remove(r->notesPath))
                total -= r->notesSize;
        }
    }
    return removed;
}

namespace {

// The time of the file's last point line, read from its last 4 KiB.
double lastPointTime(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    file.seek(std::max<qint64>(0, file.size() - 4096));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QByteArray text = line->trimmed();
        if (text.isEmpty())
            continue;
        bool ok = false;
        const double key = parseDataNumber(text.left(text.indexOf(' ')), &ok);
        return ok && std::isfinite(key) ? key : -1; // a section name: no point after it
    }
    return -1;
}

} // namespace

std::vector<RecordingEntry> recentRecordings(const QString &folder, int count)
{
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral("KorvelDAQ-*.txt")}, QDir::Files, QDir::Name);
    std::vector<std::pair<int, RecordingEntry>> found; // with the attempt of its name
    for (auto name = names.crbegin(); name != names.crend(); ++name) {
        const QString stem = name->chopped(4);
        RecordingEntry e;
        e.dataPath = dir.filePath(*name);
        e.start = QDateTime::fromString(stem.mid(10, 15), QStringLiteral("yyyyMMdd-HHmmss"));
        if (!e.start.isValid())
            continue; // not one of ours
        e.bytes = QFileInfo(e.dataPath).size();
        found.emplace_back(stem.size() > 25 ? stem.mid(26).toInt() : 1, e);
    }
    // A later attempt at the same second is newer.
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return a.second.start != b.second.start ? a.second.start > b.second.start
                                                : a.first > b.first;
    });
    std::vector<RecordingEntry> entries;
    for (auto &f : found) {
        if (int(entries.size()) >= count)
            break;
        f.second.seconds = lastPointTime(f.second.dataPath); // only for those listed
        QFile notes(notesPathFor(f.second.dataPath));
        // Notes are small; a huge file beside ours is not read for a menu.
        if (notes.size() < (1 << 20) && notes.open(QIODevice::ReadOnly))
            f.second.sample = readRunNotes(notes.readAll()).notes.info.sample;
        entries.push_back(std::move(f.second));
    }
    return entries;
}
