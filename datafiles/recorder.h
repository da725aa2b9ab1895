#pragma once

#include "datafiles/journal.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

// Writes every live run to disk while it is recorded. The GUI thread only
// hands over the points of each block (add(), a move into a queue); a writer
// thread appends them to the recording's journal a few times a second and
// forces them onto the disk about twice a second, so a crash or a power cut
// loses at most the last second. An assembler thread turns the journal into
// the recording's data file whenever acquisition stops, when the recording
// ends and after a crash, and keeps the folder within its size limit.
//
// One recording lasts from the first begin() or add() until finish(). A
// failure to write stops the recording, never the caller: the points handed
// over after it are dropped and recordingFailed() says why. So does a writer
// that falls more than 30 s behind, in the points' own time (a disk that
// hangs). A journal is removed only once its data file is proven complete;
// one left at Exit because the disk refused its data file is marked so.
//
// The public functions and the signals belong to the thread that created
// the recorder (the GUI thread); the signals come from its event loop, as
// soon as it runs after a worker posted a report.
class Recorder : public QObject
{
    Q_OBJECT

public:
    Recorder(const QString &folder, qint64 sizeLimit, QObject *parent = nullptr);
    // Finishes the current recording and waits until it is on disk.
    ~Recorder() override;

    QString folder() const;

    // Assembles the journals that crashed runs left in the folder.
    void recoverLeftovers();
    // Acquisition starts: a recording named after `start` begins, unless one
    // is running already (then it goes on).
    void begin(const QDateTime &start);
    // The points of one block. Begins a recording if none is running.
    void add(SampleBlock block);
    // Acquisition stopped: the data file is assembled from everything so far.
    void pause();
    // The recording ends: its data file is assembled and its journal removed.
    // The next begin() or add() starts a new one.
    void finish();

    // The recording's notes (markers, alarms, what was run), written beside
    // its data file as soon as the writer gets to them and again at each
    // change, so that a crash keeps them. A recording begun later gets them too.
    void setNotes(const QByteArray &companion);

    // Waits until everything handed over so far is on disk and assembled as
    // asked, then delivers the reports still due. For tests and benchmarks.
    void waitUntilWritten();

    // The data file of the running recording as last reported, or empty.
    QString currentFile() const;
    // Whether it is not being written now: its journal failed, or its data
    // file could not be assembled and no later assembly has succeeded.
    bool currentFailed() const;
    // What the points handed over and not yet written take in memory.
    qint64 queuedBytes() const;

signals:
    void recordingStarted(const QString &dataFile);
    // Writing the recording, or assembling its data file, failed; reason is
    // the system's text.
    void recordingFailed(const QString &dataFile, const QString &reason);
    void recordingAssembled(const QString &dataFile, qint64 points);
    // endedAtExit: no crash, the disk refused the data file at Exit, for
    // exitReason (the system's text, empty when unknown).
    void recordingRecovered(const QString &dataFile, qint64 points, bool endedAtExit,
                            const QString &exitReason);
    // A journal left by a crash could not be assembled; it stays for the next try.
    void recoveryFailed(const QString &dataFile, const QString &reason);
    // The notes beside dataFile could not be written; the data is not affected.
    void notesFailed(const QString &notesFile, const QString &reason);
    // A journal left behind held no intact point; it was kept as keptPath.
    void journalKept(const QString &keptPath);

private:
    struct Report;
    struct Private;

    // GUI thread: runs the reports posted so far / one report.
    void deliverReports();
    void deliver(const Report &report);

    std::unique_ptr<Private> d;
    QString current;
    bool failed = false;
    bool assemblyFailed = false;
    int finishes = 0;
};
