#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

// What file work running on a worker thread tells the window, and how the
// window stops it. Every member may be called from any thread.
class FileJobControl
{
public:
    // The size of the work, in the unit advance() counts, none of it done
    // yet (a reader that starts over counts from the beginning again).
    void setTotal(qint64 units)
    {
        done.store(0, std::memory_order_relaxed);
        total.store(units, std::memory_order_relaxed);
    }
    // Counts units as done; false once the work is to stop, which it then
    // does at once. The pause point of the tests: the hook runs here.
    bool advance(qint64 units);
    void cancel() { stop.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return stop.load(std::memory_order_relaxed); }
    // 0 .. 100.
    int percent() const;

    // Memory the work holds for its result, which the memory guard counts.
    void setHeldBytes(qint64 bytes) { held.store(bytes, std::memory_order_relaxed); }
    qint64 heldBytes() const { return held.load(std::memory_order_relaxed); }

    // Tests: runs on the worker at every advance(), before the cancel is
    // looked at, so a test can hold the work at a known point. Set it while
    // no work runs; an empty function removes it.
    static void setPauseHook(std::function<void(FileJobControl &)> hook);

private:
    std::atomic<qint64> total{0};
    std::atomic<qint64> done{0};
    std::atomic<qint64> held{0};
    std::atomic<bool> stop{false};
};
