#pragma once

#include <QString>
#include <cstdint>
#include <thread>

#include "acquisition/blockmath.h"

class QObject;

// What one every-N callback read, as the callback saw it.
struct CallbackRead
{
    int32_t storedCount = 0;        // the count the library stored
    int valuesWritten = 0;          // values it actually wrote into the array
    int capacity = 0;               // values the array holds
    uint32_t sampleCount = 0;       // the scan count the library passed to the callback
    std::thread::id callbackThread; // the thread the library called back on
    int64_t readNs = 0;             // steady clock just after the read returned
};

// Where a DaqTask delivers what its callbacks read. Every call below comes on
// the thread of `context` (the GUI thread), through queued calls posted by the
// library's thread; deliveries still queued when `context` is destroyed are
// dropped. Implemented by the window, and by the card self-test.
class BlockReceiver
{
public:
    explicit BlockReceiver(QObject *context) : context(context) {}
    BlockReceiver(const BlockReceiver &) = delete;
    BlockReceiver &operator=(const BlockReceiver &) = delete;

    // The object that the queued calls run in; fixed for the receiver's life,
    // so that the library's thread may read it.
    QObject *const context;

    // One block of input volts per channel, split from the read; elapsed is
    // the wall-clock milliseconds since the previous block (or the start).
    virtual void blockArrived(const ChannelLists &lists, double elapsed,
                              const CallbackRead &read) = 0;
    // The card ended a task with an error (read error, overrun). currentTask:
    // it was the task the receiver's DaqTask runs now, not an older one.
    virtual void taskEndedByCard(const QString &reason, bool currentTask) = 0;

protected:
    ~BlockReceiver() = default;
};
