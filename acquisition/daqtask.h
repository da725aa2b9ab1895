#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

#include "acquisition/daqapi.h"

class BlockReceiver;
class EventLog;
class QDateTime;

// The acquisition task on the card library: four voltage inputs, continuous
// clock, every-N and done callbacks. start()/stop() and the log belong to the
// GUI thread; the callbacks run on the library's thread. stop() and the
// destructor return only once no callback of this object runs any more,
// whether or not the library's Stop and Clear wait for callbacks in flight.
class DaqTask
{
public:
    DaqTask();
    ~DaqTask();
    DaqTask(const DaqTask &) = delete;
    DaqTask &operator=(const DaqTask &) = delete;

    // Starts a new task. False if a library call failed: the partial task is
    // cleared, the log has the two lines and lastError the library's text.
    bool start();
    void stop();

    char channelNames[4][10];
    // Receiver of the blocks and of the task-end reports; set once, before
    // the first start.
    BlockReceiver *owner;
    // The task as the GUI thread knows it; null when there is none. GUI thread only.
    DaqTaskHandle taskHandle;
    // Milliseconds since the epoch of the task's start or of its last block.
    // Written by start() and by the every-N callback.
    std::atomic<int64_t> lastBlockMs;
    // Where the stops and the card's errors are logged (none if null); set
    // once, before the first start, and outlives the task. GUI thread only.
    EventLog *log;

    // The handle whose stop and clear are still to be done. Whoever takes it
    // out of here (stop() on the GUI thread, or a callback that ends the task
    // after an error) is the only one to stop and clear it, so a cleared
    // handle never reaches the library again.
    std::atomic<DaqTaskHandle> liveHandle;

    // GUI thread: forgets taskHandle once a callback has ended that task.
    void forgetEndedTask();

    // Whether the current task has already logged a read whose count disagreed
    // with the values written (one line per task, not one per block).
    std::atomic<bool> readCountReported;

    // The library's text of the last failed start. GUI thread only.
    QString lastError;

    // The library calls of the last start(), or of the last stop() that ended
    // a task, each with its status, in call order (the card self-test shows
    // them). GUI thread only.
    struct LibraryCall
    {
        const char *function;
        DaqStatus status;
    };
    std::vector<LibraryCall> lastCalls;
    // Counted up by each start(); a callback that ends a task reports the
    // number of the task it ended, so a late report never ends a newer one.
    std::atomic<unsigned> taskSerial;

    // GUI thread: a callback ended task number `serial` with an error at
    // `when`. Logs the error and the stop like a failed start and a stop,
    // then tells the window.
    void taskEndedByCard(unsigned serial, const QString &errorText, const QDateTime &when);
};

// The library's text of the last error on the calling thread, as it wrote it
// (in whatever code page); decodeLibraryText() reads it.
QByteArray lastLibraryErrorBytes();

// Library callbacks; callbackData is the DaqTask. They run on the library's thread.
DaqCallbackStatus onEveryNSamples(DaqEveryNArg<0> task, DaqEveryNArg<1> eventType,
                                  DaqEveryNArg<2> sampleCount, DaqEveryNArg<3> callbackData);
DaqDoneStatus onTaskDone(DaqDoneArg<0> task, DaqDoneArg<1> status, DaqDoneArg<2> callbackData);
