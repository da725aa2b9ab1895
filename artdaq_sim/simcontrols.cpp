// The test controls of artsim.h.

#include "artsim.h"
#include "simcalllog.h"
#include "simstate.h"

#include <algorithm>
#include <cstdio>

using artsim::sim;
using artsim::Task;

namespace {

void releaseHold(artsim::Sim &s)
{
    s.hold.function = -1;
    s.hold.held = false;
    ++s.hold.release;
    s.cv.notify_all();
}

} // namespace

extern "C" {

void ArtSim_Reset(void)
{
    auto &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    releaseHold(s);
    std::vector<std::shared_ptr<Task>> waitFor;
    for (const auto &entry : s.tasks) {
        const auto &t = entry.second;
        t->life = Task::Cleared;
        if (t->state == Task::Running)
            t->state = Task::Stopped;
        t->stopRequested = true;
        if (t->threadAlive && !t->onOwnThread())
            waitFor.push_back(t);
    }
    s.cv.notify_all();
    s.cv.wait(lk, [&] {
        return std::none_of(waitFor.begin(), waitFor.end(),
                            [](const std::shared_ptr<Task> &t) { return t->threadAlive; });
    });
    s.applyBase();
}

int ArtSim_Configure(const char *settings)
{
    auto &s = sim();
    int rejected = 0;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        rejected =
            s.configureFrom(settings ? settings : (s.envSet ? s.envSettings.c_str() : nullptr));
    }
    ArtSim_Reset();
    return rejected;
}

void ArtSim_FailCall(const char *functionName, int k)
{
    const int function = functionName ? artsim::functionIndex(functionName) : -1;
    if (function < 0 || k < 1) {
        std::fprintf(stderr,
                     "ArtSim_FailCall: ignoring %s#%d (no such ArtDAQ_ function or k < 1)\n",
                     functionName ? functionName : "(null)", k);
        return;
    }
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.fails.push_back({function, s.calls[function] + k});
}

void ArtSim_SetConstantSignal(const double volts[4])
{
    if (!volts)
        return;
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.script.clear();
    s.cur.signal = artsim::Signal::Constant;
    std::copy(volts, volts + 4, s.cur.volts);
}

void ArtSim_SetScript(const double *values, int scanCount)
{
    if (!values || scanCount <= 0) {
        std::fputs("ArtSim_SetScript: ignoring an empty script\n", stderr);
        return;
    }
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.script.assign(values, values + static_cast<std::size_t>(scanCount) * 4);
}

void ArtSim_SetRigSignal(uint32_t seed)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.script.clear();
    s.cur.signal = artsim::Signal::Rig;
    s.cur.seed = seed;
    s.rig = artsim::RigModel(seed);
}

void ArtSim_SetReadErrorAfter(int goodReads)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.readErrorAfter = goodReads < 0 ? -1 : goodReads;
}

void ArtSim_SetOverrunAfter(int blocks)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.overrunAfter = blocks < 0 ? -1 : blocks;
    s.cv.notify_all();
}

void ArtSim_SetBurst(int blocks)
{
    if (blocks < 1 || blocks > artsim::maxBurst) {
        std::fprintf(stderr, "ArtSim_SetBurst: ignoring %d (1 to %d blocks)\n", blocks,
                     artsim::maxBurst);
        return;
    }
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.burst = blocks;
    s.cv.notify_all();
}

void ArtSim_SetReadCountInScans(int on)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.countScans = on != 0;
}

void ArtSim_SetErrorTextGbk(int on)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.cur.gbkTexts = on != 0;
}

void ArtSim_SetManualClock(int on)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    const auto now = artsim::Clock::now();
    artsim::catchUpAll(s, now);
    s.manual = on != 0;
    artsim::reanchorAll(s, now);
}

int ArtSim_Pump(int scans)
{
    auto &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    if (!s.manual || artsim::insideCallback())
        return -1;
    if (scans <= 0)
        return 0;
    auto pump = std::make_shared<artsim::PumpRequest>();
    pump->scans = static_cast<uint64_t>(scans);
    for (const auto &entry : s.tasks) {
        const auto &t = entry.second;
        if (t->state == Task::Running && t->threadAlive && !t->stopRequested) {
            t->pumps.push_back(pump);
            ++pump->pending;
        }
    }
    s.cv.notify_all();
    s.cv.wait(lk, [&] { return pump->pending == 0; });
    return pump->fired;
}

void ArtSim_SetRate(double factor)
{
    if (!(factor > 0 && factor <= 1000)) {
        std::fprintf(stderr, "ArtSim_SetRate: ignoring %s (above 0, at most 1000)\n",
                     artsim::formatDouble(factor).c_str());
        return;
    }
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    const auto now = artsim::Clock::now();
    artsim::catchUpAll(s, now);
    s.cur.rate = factor;
    artsim::reanchorAll(s, now);
}

void ArtSim_HoldCallback(const char *functionName, int after)
{
    const int function = functionName ? artsim::functionIndex(functionName) : -1;
    if (function < 0) {
        std::fprintf(stderr, "ArtSim_HoldCallback: ignoring %s (no such ArtDAQ_ function)\n",
                     functionName ? functionName : "(null)");
        return;
    }
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.hold.function = function;
    s.hold.after = after != 0;
}

int ArtSim_WaitHeld(int timeoutMs)
{
    auto &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    return s.cv.wait_for(lk, std::chrono::milliseconds(std::max(0, timeoutMs)),
                         [&] { return s.hold.held; })
               ? 1
               : 0;
}

void ArtSim_Release(void)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    releaseHold(s);
}

int ArtSim_CallLog(char *buffer, int bufferSize)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    return artsim::copyOut(s.log, buffer, bufferSize);
}

int ArtSim_LiveTasks(void)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(std::count_if(s.tasks.begin(), s.tasks.end(), [](const auto &entry) {
        return entry.second->life == Task::Live;
    }));
}

int ArtSim_Describe(char *buffer, int bufferSize)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    return artsim::copyOut(artsim::describeConfig(s.cur, s.calls, s.script.size() / 4, s.manual),
                           buffer, bufferSize);
}

} // extern "C"
