// The simulated device: a sample clock that runs on its own, a buffer that
// overflows when the reader falls behind, and one callback thread per
// running task that delivers the every-N and done events.
//
// The clock is a function of time: whoever looks at a task (a read, the
// callback thread, a change of speed) first brings its buffer up to the
// scans due by now. A callback that takes long therefore holds up only the
// next callbacks, never the clock. With the manual clock, scans come only
// from ArtSim_Pump, on the callback thread, block by block, each block's
// callbacks before the next block.

#include "artsim.h"
#include "simerror.h"
#include "simstate.h"

#include <algorithm>
#include <cmath>

namespace artsim {
namespace {

// The buffer holds at least this much of the running clock, so that a clock
// sped up by the rate factor leaves the reader as much time as at real speed.
const double minBufferSeconds = 0.25;

thread_local int callbackDepth = 0;

double scansPerSecond(const Sim &s, const Task &t)
{
    return t.clockRate * s.cur.rate;
}

// Ends the run of t with an overrun; the callback thread calls the done callback.
void endWithOverrun(Sim &s, Task &t, bool simulated)
{
    t.state = Task::Failed;
    t.failStatus = ARTSIM_ERR_OVERRUN;
    t.failText = simulated ? "缓冲区溢出（模拟） / buffer overrun (simulated)"
                           : "缓冲区溢出：读取跟不上采样时钟，任务已停止 / buffer overrun: "
                             "the reader fell behind the sample clock; the task has stopped";
    t.doneDue = true;
    s.cv.notify_all();
}

// The scan count at which the overrun rule ends t (block N+1 is in).
uint64_t ruleScans(const Sim &s, const Task &t)
{
    if (s.cur.overrunAfter < 0)
        return UINT64_MAX;
    const uint64_t block = t.block();
    const uint64_t due = (static_cast<uint64_t>(s.cur.overrunAfter) + 1) * block;
    // A rule set while the task runs takes effect at the next block.
    return std::max(due, (t.written / block + 1) * block);
}

// Adds n scans to the buffer of a running task. A scan that finds the buffer
// full, or the overrun rule, ends the task there.
void acquire(Sim &s, Task &t, uint64_t n)
{
    if (t.state != Task::Running || n == 0)
        return;
    const uint64_t full = t.readPos + t.capacity;
    const uint64_t target = t.written + n;
    const uint64_t rule = ruleScans(s, t);
    if (rule <= target && rule <= full) {
        t.written = rule;
        endWithOverrun(s, t, true);
    } else if (target > full) {
        t.written = full;
        endWithOverrun(s, t, false);
    } else {
        t.written = target;
        if (s.scanWaiters > 0)
            s.cv.notify_all();
    }
}

template <typename Call> void callOut(std::unique_lock<std::mutex> &lk, Call call)
{
    lk.unlock();
    ++callbackDepth;
    call();
    --callbackDepth;
    lk.lock();
}

void deliverDone(std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t)
{
    t->doneDue = false;
    if (!t->done || t->life != Task::Live || t->stopRequested)
        return;
    const ArtDaqDoneCallback done = t->done;
    void *const data = t->doneData;
    const ArtDaqStatus status = t->failStatus;
    const auto handle = reinterpret_cast<ArtDaqTask>(t->handle);
    lastError() = t->failText;
    callOut(lk, [&] { done(handle, status, data); });
}

// Calls the every-N callback once per complete block, in whole bursts, back
// to back. Returns the number of callbacks called.
int deliverBlocks(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t)
{
    int fired = 0;
    const auto live = [&] { return t->state == Task::Running && !t->stopRequested; };
    while (live()) {
        const uint64_t burst = static_cast<uint64_t>(s.cur.burst);
        if (t->written / t->block() < t->delivered + burst)
            break;
        for (uint64_t i = 0; i < burst && live(); ++i) {
            ++t->delivered;
            if (!t->everyN)
                continue;
            const ArtDaqEveryNSamplesCallback callback = t->everyN;
            void *const data = t->everyNData;
            const uint32_t n = t->blockScans;
            const auto handle = reinterpret_cast<ArtDaqTask>(t->handle);
            callOut(lk, [&] { callback(handle, ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER, n, data); });
            ++fired;
            catchUp(s, *t, Clock::now());
        }
    }
    return fired;
}

void runPump(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t,
             PumpRequest &pump)
{
    uint64_t left = pump.scans;
    int fired = 0;
    while (left > 0 && t->state == Task::Running && !t->stopRequested) {
        const uint64_t chunk = std::min(left, t->block() - t->written % t->block());
        left -= chunk;
        acquire(s, *t, chunk);
        fired += deliverBlocks(s, lk, t);
    }
    if (t->doneDue)
        deliverDone(lk, t);
    pump.fired += fired;
    --pump.pending;
    s.cv.notify_all();
}

// The time the callback thread next has something to do: the next burst is
// in, or the buffer overflows, or the overrun rule strikes.
Clock::time_point nextEvent(const Sim &s, const Task &t)
{
    const uint64_t burst = static_cast<uint64_t>(s.cur.burst);
    uint64_t scans = (t.delivered + burst) * t.block();
    scans = std::min(scans, t.readPos + t.capacity + 1);
    scans = std::min(scans, ruleScans(s, t));
    // At most a second at a time: slow clocks and changes of speed stay in bounds.
    return std::min(timeOfScan(t, scans), Clock::now() + std::chrono::seconds(1));
}

void callbackThread(std::shared_ptr<Task> t)
{
    Sim &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    while (!t->stopRequested) {
        if (!t->pumps.empty()) {
            const std::shared_ptr<PumpRequest> pump = t->pumps.front();
            t->pumps.pop_front();
            runPump(s, lk, t, *pump);
            continue;
        }
        if (t->state == Task::Failed) {
            if (t->doneDue)
                deliverDone(lk, t);
            break;
        }
        if (s.manual) {
            s.cv.wait(lk);
            continue;
        }
        catchUp(s, *t, Clock::now());
        const uint64_t before = t->delivered;
        deliverBlocks(s, lk, t);
        if (t->delivered == before && t->state == Task::Running && !t->stopRequested &&
            t->pumps.empty() && !s.manual)
            s.cv.wait_until(lk, nextEvent(s, *t));
    }
    for (const auto &pump : t->pumps) {
        --pump->pending;
    }
    t->pumps.clear();
    t->threadAlive = false;
    if (t->life != Task::Live)
        s.forget(t);
    s.cv.notify_all();
}

} // namespace

bool insideCallback()
{
    return callbackDepth > 0;
}

Clock::time_point timeOfScan(const Task &t, uint64_t scans)
{
    if (scans <= t.anchorScans || !(t.anchorRate > 0))
        return t.anchorTime;
    // Beyond a million seconds the clock's duration type would overflow.
    const double seconds = std::min(static_cast<double>(scans - t.anchorScans) / t.anchorRate, 1e6);
    return t.anchorTime +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void catchUp(Sim &s, Task &t, Clock::time_point now)
{
    if (t.state != Task::Running || s.manual || now <= t.anchorTime)
        return;
    const double due = std::chrono::duration<double>(now - t.anchorTime).count() * t.anchorRate;
    const uint64_t target = t.anchorScans + static_cast<uint64_t>(std::min(due, 1e18));
    if (target > t.written)
        acquire(s, t, target - t.written);
}

void catchUpAll(Sim &s, Clock::time_point now)
{
    for (const auto &entry : s.tasks)
        catchUp(s, *entry.second, now);
}

void reanchorAll(Sim &s, Clock::time_point now)
{
    for (const auto &entry : s.tasks) {
        Task &t = *entry.second;
        t.anchorTime = now;
        t.anchorScans = t.written;
        t.anchorRate = scansPerSecond(s, t);
    }
    s.cv.notify_all();
}

ArtDaqStatus launch(Sim &s, const std::shared_ptr<Task> &t)
{
    const double minimum = std::ceil(scansPerSecond(s, *t) * minBufferSeconds);
    t->capacity = std::max<uint64_t>(
        {t->bufferScans, t->blockScans, static_cast<uint64_t>(std::min(minimum, 1e15))});
    t->written = t->readPos = t->delivered = 0;
    t->goodReads = 0;
    t->failStatus = 0;
    t->failText.clear();
    t->doneDue = false;
    t->stopRequested = false;
    t->pumps.clear();
    t->anchorTime = Clock::now();
    t->anchorScans = 0;
    t->anchorRate = scansPerSecond(s, *t);
    try {
        std::thread thread(callbackThread, t);
        t->callbackThread = thread.get_id();
        thread.detach(); // Stop and Clear wait for threadAlive instead of joining
    } catch (...) {
        return fail(ARTSIM_ERR_THREAD, "无法启动回调线程", "cannot start the callback thread");
    }
    t->threadAlive = true;
    ++t->run;
    t->state = Task::Running;
    return 0;
}

void stopLocked(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t)
{
    if (t->state == Task::Running)
        t->state = Task::Stopped;
    t->stopRequested = true;
    s.cv.notify_all();
    if (t->threadAlive && !t->onOwnThread()) {
        const uint64_t run = t->run;
        s.cv.wait(lk, [&] { return !t->threadAlive || t->run != run; });
    }
}

} // namespace artsim
