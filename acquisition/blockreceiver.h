#pragma once

#include <QString>
#include <cstdint>
#include <thread>

#include "acquisition/blockmath.h"
#include "app/guiinbox.h"

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
// the thread that created the receiver (the GUI thread), through its inbox,
// into which the library's thread posts; deliveries still waiting when the
// receiver is destroyed are dropped with the inbox. Its DaqTask must be
// stopped by then. Implemented by the window, and by the card self-test.
class BlockReceiver
{
public:
    BlockReceiver() = default;
    BlockReceiver(const BlockReceiver &) = delete;
    BlockReceiver &operator=(const BlockReceiver &) = delete;

    // The library's thread posts the deliveries here.
    GuiInbox inbox;

    // One block of input volts per channel, split from the read; elapsed is
    // the wall-clock milliseconds since the previous block (or the start).
    virtual void blockArrived(const SampleBlock &lists, double elapsed,
                              const CallbackRead &read) = 0;
    // The card ended a task with an error (read error, overrun). currentTask:
    // it was the task the receiver's DaqTask runs now, not an older one.
    virtual void taskEndedByCard(const QString &reason, bool currentTask) = 0;

protected:
    ~BlockReceiver() = default;
};
