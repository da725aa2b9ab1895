#include "datafiles/recorder.h"

#include "datafiles/recordings.h"

#include <QFile>
#include <QLockFile>
#include <QTimer>

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
// How often the GUI thread collects the workers' reports.
constexpr auto reportInterval = std::chrono::milliseconds(250);
// Larger batches are written at once.
constexpr qsizetype writeChunk = 1 << 20;

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
    enum Kind { Started, Failed, Assembled, Recovered, RecoveryFailed } kind;
    QString dataFile;
    QString reason;
    qint64 points = 0;
    int recording = 0; // Started: how many recordings the writer had finished before
};

struct Recorder::Private
{
    // What the GUI thread hands to the writer, in order.
    struct Item
    {
        enum Kind { Block, Begin, Pause, Finish, Barrier } kind;
        RecordedBlock block;
        QDateTime start;
        std::shared_ptr<std::promise<void>> done;
    };

    // The recording the writer is appending to.
    struct Current
    {
        QString journalPath;
        QString dataPath;
        std::shared_ptr<QLockFile> lock;
        std::unique_ptr<QFile> journal;
        qint64 written = 0;    // points in the journal
        qint64 assembled = -1; // points in the data file
        bool failed = false;   // no more writing to it
        bool active() const { return !dataPath.isEmpty(); }
    };

    Private(Recorder *q, QString folder, qint64 limit) : q(q), folder(folder), limit(limit) {}

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

    void writerLoop();
    void handle(Item &item);
    void open(const QDateTime &start);
    void writePending();
    void sync();
    void fail(const QString &reason);
    void assemble(bool endRecording);
    void catchUpWhilePaused();
    void keepFolderInLimit();

    Recorder *const q;
    const QString folder;
    const qint64 limit;

    // Hand-over from the GUI thread.
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Item> items;
    bool commandWaiting = false;
    bool quitting = false;

    // Reports for the GUI thread.
    std::mutex reportMutex;
    std::vector<Report> reports;

    // Writer thread only.
    Current current;
    QByteArray pending;
    qint64 pendingPoints = 0;
    bool unsynced = false;
    Clock::time_point lastSync;
    Clock::time_point lastHousekeeping;
    int finished = 0;
    bool paused = false; // acquisition stopped: the data file is to be kept complete

    std::unique_ptr<SerialQueue> assembler = std::make_unique<SerialQueue>();
    std::thread writer; // started last
};

Recorder::Recorder(const QString &folder, qint64 sizeLimit, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, folder, sizeLimit))
{
    auto *collect = new QTimer(this);
    connect(collect, &QTimer::timeout, this, &Recorder::deliverReports);
    collect->start(reportInterval);
    d->writer = std::thread([this] { d->writerLoop(); });
}

Recorder::~Recorder()
{
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->items.push_back({Private::Item::Finish, {}, {}, {}});
        d->quitting = true;
    }
    d->wake.notify_one();
    d->writer.join();
    d->assembler.reset(); // runs the assembly still queued
}

QString Recorder::folder() const
{
    return d->folder;
}

void Recorder::recoverLeftovers()
{
    d->assembler->post([this] {
        for (const RecoveredRecording &r : recoverRecordings(d->folder)) {
            if (r.error.isEmpty())
                postReport({Report::Recovered, r.dataPath, {}, r.points});
            else
                postReport({Report::RecoveryFailed, r.dataPath, r.error, 0});
        }
        d->keepFolderInLimit();
    });
}

void Recorder::begin(const QDateTime &start)
{
    d->command({Private::Item::Begin, {}, start, {}});
}

void Recorder::add(RecordedBlock block)
{
    // No wake-up: the writer comes by on its own within writeInterval.
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->items.push_back({Private::Item::Block, std::move(block), {}, {}});
}

void Recorder::pause()
{
    d->command({Private::Item::Pause, {}, {}, {}});
}

void Recorder::finish()
{
    d->command({Private::Item::Finish, {}, {}, {}});
    ++finishes;
    current.clear();
    failed = false;
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
    return failed;
}

void Recorder::postReport(Report report)
{
    const std::lock_guard<std::mutex> lock(d->reportMutex);
    d->reports.push_back(std::move(report));
}

void Recorder::deliverReports()
{
    std::vector<Report> due;
    {
        const std::lock_guard<std::mutex> lock(d->reportMutex);
        due.swap(d->reports);
    }
    for (const Report &r : due) {
        switch (r.kind) {
        case Report::Started:
            if (r.recording == finishes) { // not ended already
                current = r.dataFile;
                failed = false;
            }
            emit recordingStarted(r.dataFile);
            break;
        case Report::Failed:
            if (r.dataFile == current)
                failed = true;
            emit recordingFailed(r.dataFile, r.reason);
            break;
        case Report::Assembled: emit recordingAssembled(r.dataFile, r.points); break;
        case Report::Recovered: emit recordingRecovered(r.dataFile, r.points); break;
        case Report::RecoveryFailed: emit recoveryFailed(r.dataFile, r.reason); break;
        }
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
        for (Item &item : batch)
            handle(item);
        batch.clear();
        catchUpWhilePaused();
        writePending();
        const Clock::time_point now = Clock::now();
        if (unsynced && now - lastSync >= syncInterval)
            sync();
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
        paused = false;
        assemble(true);
        ++finished;
        return;
    case Item::Barrier:
        catchUpWhilePaused();
        writePending();
        if (unsynced)
            sync();
        assembler->post([done = item.done] { done->set_value(); });
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
    q->postReport({Report::Started, current.dataPath, {}, 0, finished});
    if (!r.error.isEmpty()) {
        fail(r.error);
        return;
    }
    unsynced = true;
    syncFolder(folder); // the new journal's name survives a power cut too
    lastHousekeeping = Clock::now();
    assembler->post([this] { keepFolderInLimit(); });
}

void Recorder::Private::writePending()
{
    if (pending.isEmpty())
        return;
    if (!current.failed) {
        if (current.journal->write(pending) == pending.size()) {
            current.written += pendingPoints;
            unsynced = true;
        } else {
            fail(current.journal->errorString());
        }
    }
    pending.clear();
    pendingPoints = 0;
}

void Recorder::Private::sync()
{
    lastSync = Clock::now();
    unsynced = false;
    if (current.active() && !current.failed && !syncFile(*current.journal))
        fail(current.journal->errorString());
}

void Recorder::Private::fail(const QString &reason)
{
    current.failed = true;
    if (current.journal)
        current.journal->close(); // what is in it stays
    q->postReport({Report::Failed, current.dataPath, reason, 0});
}

// Assembles the data file from what the journal holds by now; at the end of
// the recording the journal is removed once the data file is complete. If
// that fails, the journal stays and is recovered at the next start.
void Recorder::Private::assemble(bool endRecording)
{
    if (!current.active())
        return;
    writePending();
    if (unsynced)
        sync();
    const bool changed = current.written != current.assembled;
    current.assembled = current.written;
    if (changed || endRecording) {
        assembler->post([this, journalPath = current.journalPath, dataPath = current.dataPath,
                         points = current.written, lock = endRecording ? current.lock : nullptr,
                         reportFailure = !current.failed, changed] {
            bool ok = true;
            if (changed) {
                const AssemblyResult result = assembleRecording(journalPath, dataPath, points);
                ok = result.ok;
                if (!ok && reportFailure)
                    q->postReport({Report::Failed, dataPath, result.error, 0});
                if (ok && result.points > 0)
                    q->postReport({Report::Assembled, dataPath, {}, result.points});
            }
            if (lock) {
                if (ok)
                    QFile::remove(journalPath);
                lock->unlock();
            }
            keepFolderInLimit();
        });
    }
    if (endRecording) {
        if (current.journal)
            current.journal->close();
        current = Current();
    }
}

// Blocks that were on their way when acquisition stopped come after the
// pause; the data file takes them in as well.
void Recorder::Private::catchUpWhilePaused()
{
    if (paused && current.active() && (current.written != current.assembled || pendingPoints))
        assemble(false);
}

// Assembler thread.
void Recorder::Private::keepFolderInLimit()
{
    removeOldRecordings(folder, limit);
}
