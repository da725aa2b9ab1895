#include "acquisition/daqtask.h"

#include <QDateTime>
#include <QDebug>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "acquisition/blockmath.h"
#include "acquisition/blockreceiver.h"
#include "acquisition/libraryread.h"
#include "app/eventlog.h"

namespace {

constexpr int kErrorTextSize = 2048;
constexpr int kReadCapacity = 800; // values: at most 200 scans of four channels

// Which DaqTask objects take callbacks, for which task, and how many of their
// callbacks are running. It lives outside the objects, so that a callback
// that comes after its DaqTask is gone finds out without touching it. Never
// destroyed: a library thread may still call in at exit.
class CallbackGate
{
public:
    static CallbackGate &instance()
    {
        static CallbackGate *const gate = new CallbackGate;
        return *gate;
    }

    // GUI thread: the object exists, taking no callbacks yet / is going away.
    void add(const DaqTask *daq)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        entries[daq] = Entry();
    }
    void remove(const DaqTask *daq)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        entries.erase(daq);
    }
    // GUI thread: callbacks of this task are taken from now on.
    void open(const DaqTask *daq, DaqTaskHandle task)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        entries[daq].task = task;
    }
    // GUI thread: no callback gets in from now on; waits until those inside
    // have returned. They never wait for the GUI thread, so this ends.
    void closeAndWait(const DaqTask *daq)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const auto it = entries.find(daq);
        if (it == entries.end())
            return;
        it->second.task = DaqTaskHandle{};
        left.wait(lock, [&] { return it->second.running == 0; });
    }
    // Library thread: whether a callback for this object and task may go on.
    bool enter(const DaqTask *daq, DaqTaskHandle task)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto it = entries.find(daq);
        if (it == entries.end() || !task || it->second.task != task)
            return false;
        ++it->second.running;
        return true;
    }
    void leave(const DaqTask *daq)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto it = entries.find(daq);
        if (it != entries.end() && --it->second.running == 0)
            left.notify_all();
    }

private:
    struct Entry
    {
        DaqTaskHandle task{};
        int running = 0;
    };
    std::mutex mutex;
    std::condition_variable left;
    std::unordered_map<const DaqTask *, Entry> entries;
};

// A callback's stay inside the gate; false when it must not touch the object.
class CallbackScope
{
public:
    CallbackScope(const DaqTask *daq, DaqTaskHandle task)
        : daq(daq), inside(daq && CallbackGate::instance().enter(daq, task))
    {
    }
    ~CallbackScope()
    {
        if (inside)
            CallbackGate::instance().leave(daq);
    }
    CallbackScope(const CallbackScope &) = delete;
    CallbackScope &operator=(const CallbackScope &) = delete;
    explicit operator bool() const { return inside; }

private:
    const DaqTask *daq;
    bool inside;
};

// Library thread: hands a read's count problem to the GUI thread for the log.
// The task object lives as long as its receiver (the window holds it by
// value), so it lives as long as the job can still run.
void reportReadProblem(DaqTask *daq, const QString &problem)
{
    daq->owner->inbox.post([daq, problem] {
        if (daq->log)
            daq->log->cardError(problem);
    });
}

// Library thread: the task ended with an error. Stops (if asked) and clears it
// only if no one else has taken it, then reports it to the GUI thread.
void endTaskFromCallback(DaqTask *daq, DaqTaskHandle task, bool stopFirst, const char *errorText)
{
    // Read before taking the handle: once it is taken, no newer start can
    // have counted up (a start stops first, which would have taken it).
    const unsigned serial = daq->taskSerial.load();
    DaqTaskHandle expected = task;
    if (!daq->liveHandle.compare_exchange_strong(expected, DaqTaskHandle{}))
        return; // stop() owns it and is stopping and clearing it right now
    if (stopFirst)
        ArtDAQ_StopTask(task);
    ArtDAQ_ClearTask(task);
    if (BlockReceiver *receiver = daq->owner) {
        // The local time is worked out on the GUI thread.
        receiver->inbox.post([daq, serial, text = decodeLibraryText(errorText),
                              whenMs = QDateTime::currentMSecsSinceEpoch()] {
            daq->taskEndedByCard(serial, text, QDateTime::fromMSecsSinceEpoch(whenMs));
        });
    }
}

} // namespace

QByteArray lastLibraryErrorBytes()
{
    char text[kErrorTextSize] = {};
    ArtDAQ_GetExtendedErrorInfo(text, kErrorTextSize);
    text[kErrorTextSize - 1] = '\0';
    return QByteArray(text);
}

DaqTask::DaqTask()
    : owner(nullptr), taskHandle(nullptr), lastBlockMs(0), log(nullptr), liveHandle(nullptr),
      readCountReported(false), taskSerial(0)
{
    CallbackGate::instance().add(this);
    const char *names[4] = {"Dev1/ai0", "Dev1/ai1", "Dev1/ai2", "Dev1/ai3"};
    for (int i = 0; i < 4; ++i)
        std::strcpy(channelNames[i], names[i]);
}

DaqTask::~DaqTask()
{
    stop();
    CallbackGate::instance().remove(this);
}

bool DaqTask::start()
{
    stop();
    taskSerial.fetch_add(1);

    lastCalls.clear();
    const auto called = [this](const char *function, DaqStatus status) {
        lastCalls.push_back({function, status});
        return status;
    };

    DaqStatus status = called("ArtDAQ_CreateTask", ArtDAQ_CreateTask("", &taskHandle));
    liveHandle.store(taskHandle);
    readCountReported.store(false);
    CallbackGate::instance().open(this, taskHandle);
    for (int c = 0; c < 4 && status >= 0; ++c)
        status = called("ArtDAQ_CreateAIVoltageChan",
                        ArtDAQ_CreateAIVoltageChan(taskHandle, channelNames[c], "", -1, -10.0, 10.0,
                                                   10348, nullptr));
    if (status >= 0)
        status = called("ArtDAQ_CfgSampClkTiming",
                        ArtDAQ_CfgSampClkTiming(taskHandle, "", cardScanRate, 10280, 10123, 1000));
    if (status >= 0)
        status =
            called("ArtDAQ_RegisterEveryNSamplesEvent",
                   ArtDAQ_RegisterEveryNSamplesEvent(taskHandle, 1, 100, 0, onEveryNSamples, this));
    if (status >= 0)
        status = called("ArtDAQ_RegisterDoneEvent",
                        ArtDAQ_RegisterDoneEvent(taskHandle, 0, onTaskDone, this));
    if (status >= 0) {
        // Set before the clock runs: the first block may arrive before StartTask returns.
        lastBlockMs.store(QDateTime::currentMSecsSinceEpoch());
        status = called("ArtDAQ_StartTask", ArtDAQ_StartTask(taskHandle));
    }
    if (status >= 0)
        return true;

    const QByteArray errorText = lastLibraryErrorBytes();
    CallbackGate::instance().closeAndWait(this);
    if (const DaqTaskHandle partial = liveHandle.exchange(nullptr)) {
        ArtDAQ_StopTask(partial);
        ArtDAQ_ClearTask(partial);
    }
    taskHandle = nullptr;
    lastError = decodeLibraryText(errorText.constData());
    if (log) {
        log->cardError(lastError);
        log->startFailed();
    }
    return false;
}

void DaqTask::stop()
{
    // Taking the handle settles any race with a callback that ends the task.
    const DaqTaskHandle handle = liveHandle.exchange(nullptr);
    taskHandle = nullptr;
    // A callback that has just ended the task itself may still be running.
    CallbackGate::instance().closeAndWait(this);
    if (!handle)
        return;
    lastCalls.clear();
    lastCalls.push_back({"ArtDAQ_StopTask", ArtDAQ_StopTask(handle)});
    lastCalls.push_back({"ArtDAQ_ClearTask", ArtDAQ_ClearTask(handle)});

    if (log)
        log->taskStopped(QDateTime::currentDateTime());
}

void DaqTask::forgetEndedTask()
{
    if (taskHandle && liveHandle.load() != taskHandle)
        taskHandle = nullptr;
}

void DaqTask::taskEndedByCard(unsigned serial, const QString &errorText, const QDateTime &when)
{
    forgetEndedTask();
    if (log) {
        log->cardError(errorText);
        log->taskStopped(when);
    }
    if (owner)
        owner->taskEndedByCard(errorText, serial == taskSerial.load());
}

DaqCallbackStatus onEveryNSamples(DaqEveryNArg<0> task, DaqEveryNArg<1>,
                                  DaqEveryNArg<2> sampleCount, DaqEveryNArg<3> callbackData)
{
    auto *daq = static_cast<DaqTask *>(callbackData);
    if (!daq)
        return -1;
    const CallbackScope running(daq, task);
    if (!running)
        return 0; // being stopped, or a task this object no longer runs
    if (!daq->owner)
        return -1;

    // Marked, so that the values the library wrote show; what it left alone
    // becomes 0 after the read (a partial last scan never shows an older block).
    double values[kReadCapacity];
    markUnwritten(values, kReadCapacity);
    DaqReadCount count = 0;
    const DaqStatus status =
        ArtDAQ_ReadAnalogF64(task, -1, 10.0, 1, values, kReadCapacity, &count, nullptr);
    const int64_t readNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    if (status < 0) {
        endTaskFromCallback(daq, task, true, lastLibraryErrorBytes().constData());
        return 0;
    }
    const int written = valuesWritten(values, kReadCapacity);
    const ReadCount read = checkReadCount(count, written, 4, sampleCount);
    zeroUnwritten(values, kReadCapacity);
    if (!read.problem.isEmpty() && !daq->readCountReported.exchange(true))
        reportReadProblem(daq, read.problem);
    if (read.values <= 0)
        return 0;

    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const double elapsed = static_cast<double>(now - daq->lastBlockMs.exchange(now));
    SampleBlock lists = splitScans(values, read.values, kReadCapacity);

    // The receiver takes the block on the GUI thread; one that is gone by
    // then drops it.
    BlockReceiver *receiver = daq->owner;
    const CallbackRead facts{count, written, kReadCapacity, sampleCount, std::this_thread::get_id(),
                             readNs};
    receiver->inbox.post([receiver, lists = std::move(lists), elapsed, facts] {
        receiver->blockArrived(lists, elapsed, facts);
    });
    return 0;
}

DaqDoneStatus onTaskDone(DaqDoneArg<0> task, DaqDoneArg<1> status, DaqDoneArg<2> callbackData)
{
    if (status >= 0)
        return 0;
    auto *daq = static_cast<DaqTask *>(callbackData);
    const CallbackScope running(daq, task);
    const QByteArray errorText = lastLibraryErrorBytes();
    if (running)
        endTaskFromCallback(daq, task, false, errorText.constData());
    qDebug().noquote()
        << QStringLiteral("ArtDAQ_ Error: %1").arg(decodeLibraryText(errorText.constData()));
    return 0;
}
