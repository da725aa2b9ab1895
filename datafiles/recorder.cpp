#include "datafiles/recorder.h"

#include "app/guiinbox.h"
#include "datafiles/recordings.h"
#include "datafiles/runnotes.h"
#include "datafiles/safefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How often the writer wakes to append what was handed over, how long it
// lets written points wait before forcing them onto the disk, and how often
// it checks the folder's size while a recording grows. Together they keep
// a power cut from losing more than the last second.
constexpr auto writeInterval = std::chrono::milliseconds(200);
constexpr auto syncInterval = std::chrono::milliseconds(500);
constexpr auto housekeepingInterval = std::chrono::seconds(60);
// Larger batches are written at once.
constexpr qsizetype writeChunk = 1 << 20;
// How far behind the writer may fall, in the points' own time, before the
// recording is given up; acquisition and the graphs go on. The bound in
// points (30 s of every sample kept) holds whatever the keys do.
constexpr double maxLagSeconds = 30;
constexpr qint64 maxQueuedPoints = 30 * 4000;
// Bytes a queued point takes: its five doubles in the lists.
constexpr qint64 queuedPointBytes = 5 * sizeof(double);
// How long Exit waits for a disk that makes no progress at all.
constexpr auto exitPatience = std::chrono::seconds(4);

// Runs jobs one after the other on a thread of its own.
class SerialQueue
{
public:
    SerialQueue() : thread([this] { run(); }) {}
    // Runs the jobs still queued, then ends.
    ~SerialQueue()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        thread.join();
    }
    void post(std::function<void()> job)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            jobs.push_back(std::move(job));
        }
        wake.notify_one();
    }

private:
    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return stopping || !jobs.empty(); });
                if (jobs.empty())
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::thread thread; // last: starts once the rest exists
};

} // namespace

struct Recorder::Report
{
    enum Kind { Started, Failed, Assembled, Recovered, RecoveryFailed, Kept, NotesFailed } kind;
    QString dataFile; // Kept: the journal's new name
    QString reason;   // Recovered: the reason the disk gave at Exit
    qint64 points = 0;
    int recording = 0;        // Started: how many recordings the writer had finished before
    bool journalDead = false; // Failed: nothing more goes into this recording's journal
    bool endedAtExit = false; // Recovered: left by a normal Exit
};

struct Recorder::Private
{
    // What the GUI thread hands to the writer, in order.
    struct Item
    {
        enum Kind { Block, Begin, Pause, Finish, Barrier, Overflow, Notes } kind;
        SampleBlock block;
        QDateTime start;
        std::shared_ptr<std::promise<void>> done;
        QByteArray notes = {};
    };

    // What a data file was proven to hold.
    struct Proof
    {
        qint64 points = -1;
        qint64 bytes = -1;
    };

    // The recording the writer is appending to.
    struct Current
    {
        QString journalPath;
        QString dataPath;
        std::shared_ptr<QLockFile> lock;
        std::unique_ptr<QFile> journal;
        qint64 written = 0;    // points in the journal
        qint64 requested = -1; // points the data file was last asked to hold
        bool failed = false;   // no more writing to it
        // What the data file was proven to hold; assembler thread only.
        std::shared_ptr<Proof> proven = std::make_shared<Proof>();
        bool active() const { return !dataPath.isEmpty(); }
    };

    // A recording that ended while its data file could not be proven: its
    // journal stays, locked, and the next finish or Exit tries again.
    struct Unfinished
    {
        QString journalPath;
        QString dataPath;
        qint64 points;
        std::shared_ptr<QLockFile> lock;
        int systemError; // of the last failed assembly
    };

    Private(QString folder, qint64 limit, Recorder *owner)
        : folder(folder), limit(limit), owner(owner)
    {
    }

    // GUI thread: a command for the writer, which wakes for it at once.
    void command(Item item)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            items.push_back(std::move(item));
            commandWaiting = true;
        }
        wake.notify_one();
    }

    // Any thread.
    void postReport(Report report);
    // Writer thread.
    void writerLoop();
    void handle(Item &item);
    void open(const QDateTime &start);
    void writePending();
    void sync();
    void fail(const QString &reason, bool report = true);
    void assemble(bool endRecording);
    void catchUpWhilePaused();
    void writeNotes();
    // Assembler thread.
    bool assembleProven(const QString &journalPath, const QString &dataPath, qint64 points,
                        Proof &proven, bool reportFailure, int *systemError = nullptr);
    void retryUnfinished();
    void markUnfinishedEnded();
    void keepFolderInLimit();

    const QString folder;
    const qint64 limit;
    Recorder *const owner; // reached only through the inbox, on its thread

    // Hand-over from the GUI thread.
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Item> items;
    bool commandWaiting = false;
    bool quitting = false;
    qint64 queuedPoints = 0;       // handed over, not yet written
    std::deque<double> queuedKeys; // the first key of each of those blocks
    bool dropping = false;         // the writer fell too far behind: points are dropped

    // Bytes the workers moved to the disk, to tell a slow disk from one that
    // does not answer.
    std::atomic<qint64> progress{0};

    // Reports for the GUI thread. Here, not in the recorder: workers that
    // outlive it (a hung disk at Exit) still post into it, and it drops them.
    GuiInbox inbox;

    // Writer thread only.
    Current current;
    QByteArray notes; // the companion's bytes; empty: none
    bool notesDirty = false;
    Clock::time_point lastNotesWrite;
    QByteArray pending;
    qint64 pendingPoints = 0;
    bool unsynced = false;
    Clock::time_point lastSync;
    Clock::time_point lastHousekeeping;
    int finished = 0;
    bool paused = false;  // acquisition stopped: the data file is to be kept complete
    bool exiting = false; // the recorder goes: this batch is the last

    // Assembler thread only.
    std::vector<Unfinished> unfinished;

    std::unique_ptr<SerialQueue> assembler = std::make_unique<SerialQueue>();
    std::thread writer; // started last
};

Recorder::Recorder(const QString &folder, qint64 sizeLimit, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(folder, sizeLimit, this))
{
    Private *p = d.get();
    d->writer = std::thread([p] { p->writerLoop(); });
}

// Waits as long as the disk makes progress; a disk that does not answer is
// left to the workers, which keep their state, so that Exit is not held up.
Recorder::~Recorder()
{
    d->inbox.detach();
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> written = done->get_future();
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->items.push_back({Private::Item::Finish, {}, {}, {}});
        d->items.push_back({Private::Item::Barrier, {}, {}, done});
        d->quitting = true;
    }
    d->wake.notify_one();
    qint64 seen = d->progress.load();
    Clock::time_point lastMove = Clock::now();
    while (written.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const qint64 now = d->progress.load();
        if (now != seen) {
            seen = now;
            lastMove = Clock::now();
        } else if (Clock::now() - lastMove > exitPatience) {
            d->writer.detach();
            (void)d.release(); // still theirs; the process ends around them
            return;
        }
    }
    d->writer.join();
    d->assembler.reset();
}

QString Recorder::folder() const
{
    return d->folder;
}

void Recorder::recoverLeftovers()
{
    Private *p = d.get();
    d->assembler->post([p] {
        for (const RecoveredRecording &r : recoverRecordings(p->folder)) {
            if (!r.error.isEmpty())
                p->postReport({Report::RecoveryFailed, r.dataPath, r.error, 0});
            else if (!r.keptPath.isEmpty())
                p->postReport({Report::Kept, r.keptPath, {}, 0});
            else
                p->postReport({Report::Recovered, r.dataPath, r.exitReason, r.points, 0, false,
                               r.endedAtExit});
        }
        p->keepFolderInLimit();
    });
}

void Recorder::begin(const QDateTime &start)
{
    d->command({Private::Item::Begin, {}, start, {}});
}

void Recorder::add(SampleBlock block)
{
    const qsizetype n = block.size();
    {
        // No wake-up: the writer comes by on its own within writeInterval.
        const std::lock_guard<std::mutex> lock(d->mutex);
        if (d->dropping)
            return;
        const bool behind = n > 0 && !d->queuedKeys.empty() &&
                            block.keys[n - 1] - d->queuedKeys.front() > maxLagSeconds;
        if (!behind && d->queuedPoints + n <= maxQueuedPoints) {
            d->queuedPoints += n;
            if (n > 0)
                d->queuedKeys.push_back(block.keys[0]);
            d->items.push_back({Private::Item::Block, std::move(block), {}, {}});
            return;
        }
        d->dropping = true;
        d->items.push_back({Private::Item::Overflow, {}, {}, {}});
    }
    // The disk does not keep up (or does not answer): said now, not when
    // the writer comes back.
    d->postReport({Report::Failed, current,
                   QCoreApplication::translate("MainWindow", "磁盘写入跟不上，录制已停止写入"), 0,
                   0, true});
    deliverReports();
}

void Recorder::pause()
{
    d->command({Private::Item::Pause, {}, {}, {}});
}

void Recorder::setNotes(const QByteArray &companion)
{
    Private::Item item{Private::Item::Notes, {}, {}, {}};
    item.notes = companion;
    d->command(std::move(item));
}

void Recorder::finish()
{
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->dropping = false; // the next recording starts afresh
    }
    d->command({Private::Item::Finish, {}, {}, {}});
    ++finishes;
    current.clear();
    failed = false;
    assemblyFailed = false;
}

qint64 Recorder::queuedBytes() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->queuedPoints * queuedPointBytes;
}

void Recorder::waitUntilWritten()
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> written = done->get_future();
    d->command({Private::Item::Barrier, {}, {}, done});
    written.wait();
    deliverReports();
}

QString Recorder::currentFile() const
{
    return current;
}

bool Recorder::currentFailed() const
{
    return failed || assemblyFailed;
}

void Recorder::Private::postReport(Report report)
{
    inbox.post([owner = owner, report = std::move(report)] { owner->deliver(report); });
}

void Recorder::deliverReports()
{
    d->inbox.drain();
}

void Recorder::deliver(const Report &r)
{
    switch (r.kind) {
    case Report::Started:
        if (r.recording == finishes) // not ended already; finish() cleared the failures
            current = r.dataFile;
        emit recordingStarted(r.dataFile);
        break;
    case Report::Failed:
        if (r.dataFile == current || (current.isEmpty() && r.dataFile.isEmpty())) {
            if (r.journalDead)
                failed = true;
            else
                assemblyFailed = true;
        }
        emit recordingFailed(r.dataFile, r.reason);
        break;
    case Report::Assembled:
        if (r.dataFile == current)
            assemblyFailed = false; // the data file is whole again
        emit recordingAssembled(r.dataFile, r.points);
        break;
    case Report::Recovered:
        emit recordingRecovered(r.dataFile, r.points, r.endedAtExit, r.reason);
        break;
    case Report::RecoveryFailed: emit recoveryFailed(r.dataFile, r.reason); break;
    case Report::Kept: emit journalKept(r.dataFile); break;
    case Report::NotesFailed: emit notesFailed(r.dataFile, r.reason); break;
    }
}

void Recorder::Private::writerLoop()
{
    lastSync = lastHousekeeping = Clock::now();
    std::vector<Item> batch;
    for (;;) {
        bool quit;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, writeInterval, [this] { return commandWaiting || quitting; });
            batch.swap(items);
            commandWaiting = false;
            quit = quitting;
        }
        exiting = quit;
        qint64 handled = 0;
        qsizetype blocks = 0;
        for (Item &item : batch) {
            handled += item.block.size();
            blocks += item.block.size() > 0;
            handle(item);
        }
        batch.clear();
        catchUpWhilePaused();
        writePending();
        {
            const std::lock_guard<std::mutex> lock(mutex);
            queuedPoints -= handled;
            queuedKeys.erase(queuedKeys.begin(), queuedKeys.begin() + blocks);
        }
        const Clock::time_point now = Clock::now();
        if (unsynced && now - lastSync >= syncInterval)
            sync();
        if (notesDirty && (quit || paused || now - lastNotesWrite >= syncInterval))
            writeNotes();
        if (current.active() && now - lastHousekeeping >= housekeepingInterval) {
            lastHousekeeping = now;
            assembler->post([this] { keepFolderInLimit(); });
        }
        if (quit)
            return;
    }
}

void Recorder::Private::handle(Item &item)
{
    switch (item.kind) {
    case Item::Block:
        if (!current.active())
            open(QDateTime::currentDateTime());
        if (current.failed)
            return;
        appendJournalRecords(pending, item.block);
        pendingPoints += item.block.size();
        if (pending.size() >= writeChunk)
            writePending();
        return;
    case Item::Begin:
        paused = false;
        if (!current.active())
            open(item.start);
        return;
    case Item::Pause:
        paused = true;
        assemble(false);
        return;
    case Item::Finish:
        if (notesDirty)
            writeNotes();
        paused = false;
        assemble(true);
        ++finished;
        if (exiting)
            assembler->post([this] { markUnfinishedEnded(); });
        return;
    case Item::Barrier:
        if (notesDirty)
            writeNotes();
        catchUpWhilePaused();
        writePending();
        if (unsynced)
            sync();
        assembler->post([done = item.done] { done->set_value(); });
        return;
    case Item::Notes:
        notes = std::move(item.notes);
        notesDirty = true; // written below, at most twice a second
        return;
    case Item::Overflow:
        // The points before it are in the journal; the GUI thread said why.
        if (current.active() && !current.failed) {
            writePending();
            fail(QString(), false);
        }
        return;
    }
}

void Recorder::Private::open(const QDateTime &start)
{
    ReservedRecording r = reserveRecording(folder, start);
    current = Current();
    current.journalPath = r.journalPath;
    current.dataPath = r.dataPath;
    current.lock = std::move(r.lock);
    current.journal = std::move(r.journal);
    postReport({Report::Started, current.dataPath, {}, 0, finished});
    if (!r.error.isEmpty()) {
        fail(r.error);
        return;
    }
    unsynced = true;
    syncFolder(folder); // the new journal's name survives a power cut too
    notesDirty = !notes.isEmpty();
    lastHousekeeping = Clock::now();
    assembler->post([this] { keepFolderInLimit(); });
}

void Recorder::Private::writeNotes()
{
    notesDirty = false;
    lastNotesWrite = Clock::now();
    if (!current.active())
        return;
    const QString path = notesPathFor(current.dataPath);
    if (notes.isEmpty()) { // all removed again
        QFile::remove(path);
        return;
    }
    const FileWriteResult written = writeFileSafely(path, [this](QIODevice &device) {
        return writeFully(device, notes.constData(), notes.size());
    });
    if (!written.ok)
        postReport({Report::NotesFailed, path, written.error, 0});
}

void Recorder::Private::writePending()
{
    if (pending.isEmpty())
        return;
    if (!current.failed) {
        errno = 0;
        if (writeFully(*current.journal, pending.constData(), pending.size())) {
            current.written += pendingPoints;
            progress.fetch_add(pending.size());
            unsynced = true;
        } else {
            const QString reason = failureText(*current.journal, errno);
            // The whole records that did reach the journal belong to the recording.
            current.written = std::max(
                current.written, (current.journal->size() - JournalHeaderSize) / JournalRecordSize);
            fail(reason);
        }
    }
    pending.clear();
    pendingPoints = 0;
}

void Recorder::Private::sync()
{
    lastSync = Clock::now();
    unsynced = false;
    errno = 0;
    if (current.active() && !current.failed && !syncFile(*current.journal))
        fail(failureText(*current.journal, errno));
    progress.fetch_add(1);
}

void Recorder::Private::fail(const QString &reason, bool report)
{
    current.failed = true;
    if (current.journal)
        current.journal->close(); // what is in it stays
    if (report)
        postReport({Report::Failed, current.dataPath, reason, 0, 0, true});
}

// Asks the assembler for the data file of what the journal holds by now. At
// the end of the recording the journal is removed once the data file is
// proven complete; until then it stays, and the next finish or Exit tries
// again (a crash leaves it to the recovery at the next start).
void Recorder::Private::assemble(bool endRecording)
{
    if (!current.active()) {
        if (endRecording)
            assembler->post([this] { retryUnfinished(); });
        return;
    }
    writePending();
    if (unsynced)
        sync();
    const bool asked = current.written == current.requested;
    current.requested = current.written;
    // Closed before the assembly may remove it: Windows removes no open file.
    if (endRecording && current.journal)
        current.journal->close();
    if (!asked || endRecording) {
        assembler->post([this, journalPath = current.journalPath, dataPath = current.dataPath,
                         points = current.written, proven = current.proven,
                         lock = endRecording ? current.lock : nullptr,
                         reportFailure = !current.failed] {
            int systemError = 0;
            const bool ok =
                assembleProven(journalPath, dataPath, points, *proven, reportFailure, &systemError);
            if (lock) {
                if (ok) {
                    QFile::remove(journalPath);
                    lock->unlock();
                } else {
                    unfinished.push_back({journalPath, dataPath, points, lock, systemError});
                }
                retryUnfinished();
            }
            keepFolderInLimit();
        });
    }
    if (endRecording)
        current = Current();
}

// Blocks that were on their way when acquisition stopped come after the
// pause; the data file takes them in as well.
void Recorder::Private::catchUpWhilePaused()
{
    if (paused && current.active() && (current.written != current.requested || pendingPoints))
        assemble(false);
}

// Assembler thread: makes the data file hold the journal's first `points`
// points, unless it was proven to and still has the size it had then.
bool Recorder::Private::assembleProven(const QString &journalPath, const QString &dataPath,
                                       qint64 points, Proof &proven, bool reportFailure,
                                       int *systemError)
{
    if (proven.points == points && QFileInfo(dataPath).size() == proven.bytes)
        return true;
    const AssemblyResult result = assembleRecording(journalPath, dataPath, points, &progress);
    if (!result.ok) {
        if (systemError)
            *systemError = result.systemError;
        if (reportFailure)
            postReport({Report::Failed, dataPath, result.error, 0});
        return false;
    }
    proven = {points, result.bytes};
    if (result.points > 0)
        postReport({Report::Assembled, dataPath, {}, result.points});
    return true;
}

// Assembler thread: the recordings that ended unproven, tried again.
void Recorder::Private::retryUnfinished()
{
    for (auto it = unfinished.begin(); it != unfinished.end();) {
        Proof none;
        if (assembleProven(it->journalPath, it->dataPath, it->points, none, false,
                           &it->systemError)) {
            QFile::remove(it->journalPath);
            it->lock->unlock();
            it = unfinished.erase(it);
        } else {
            ++it;
        }
    }
}

// Assembler thread, at Exit: the journals still unproven were no crash, and
// the next start is to say so.
void Recorder::Private::markUnfinishedEnded()
{
    for (const Unfinished &u : unfinished)
        markJournalEndedAtExit(u.journalPath, u.systemError);
}

// Assembler thread. Recordings with a journal (the running one, and those
// whose data file is not proven yet) are never removed.
void Recorder::Private::keepFolderInLimit()
{
    removeOldRecordings(folder, limit);
}
