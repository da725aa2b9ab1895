// State of the stand-in card library, shared by its parts: the handle
// registry (simregistry.cpp), the simulated device with its clock, buffer and
// callback thread (simdevice.cpp), the card interface (simtasks.cpp) and the
// C functions with the test controls (artdaq_sim.cpp).
//
// Locking: one mutex (Sim::mu) guards all of it; one condition variable
// (Sim::cv) signals every change (stop, thread exit, new scans, pump
// requests, finished pumps, holds). Callbacks are always called with the
// mutex released, on the task's callback thread.
#pragma once

#include "Art_DAQ.h"
#include "simconfig.h"
#include "simsignal.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace artsim {

using Clock = std::chrono::steady_clock;

struct PumpRequest
{
    uint64_t scans = 0;
    int pending = 0; // tasks that have not finished this pump yet
    int fired = 0;
};

struct Task
{
    enum State { Created, Running, Stopped, Failed };
    // Clearing: another thread's Clear waits for the callback in flight, which
    // may still use the handle. Cleared: dead for everyone; the entry stays
    // only until the callback thread has left, so that Stop and Clear from
    // other threads can wait for it.
    enum Life { Live, Clearing, Cleared };

    uintptr_t handle = 0;
    std::vector<int> inputs; // ai index of each channel, in channel order

    bool timed = false;
    double clockRate = 0;
    uint32_t bufferScans = 0;
    ArtDaqEveryNSamplesCallback everyN = nullptr;
    void *everyNData = nullptr;
    uint32_t blockScans = 0;
    ArtDaqDoneCallback done = nullptr;
    void *doneData = nullptr;

    State state = Created;
    Life life = Live;
    ArtDaqStatus failStatus = 0;
    std::string failText;
    bool doneDue = false; // failed; the done callback is still to be called

    // Callback thread of the current run.
    bool threadAlive = false;
    bool stopRequested = false;
    uint64_t run = 0;
    std::thread::id callbackThread;
    std::deque<std::shared_ptr<PumpRequest>> pumps;

    // The buffer, counted in scans since the start: scans acquired, scans
    // read, blocks whose every-N callback has been called. A scan's values are
    // a pure function of its index, so the buffer keeps only the counts.
    uint64_t capacity = 0;
    uint64_t written = 0;
    uint64_t readPos = 0;
    uint64_t delivered = 0;
    long long goodReads = 0;

    // The real-time clock: scan anchorScans was due at anchorTime, and scans
    // follow at anchorRate per second.
    Clock::time_point anchorTime;
    uint64_t anchorScans = 0;
    double anchorRate = 0;

    uint64_t block() const { return blockScans ? blockScans : 100; }
    bool onOwnThread() const { return threadAlive && callbackThread == std::this_thread::get_id(); }
};

// A test's hold on a callback thread at one ArtDAQ_ call.
struct Hold
{
    int function = -1; // armed for this function; -1: none
    bool after = false;
    bool held = false; // a thread waits at the point
    uint64_t release = 0;
};

struct Sim
{
    std::mutex mu;
    std::condition_variable cv;

    // Handle registry.
    std::map<uintptr_t, std::shared_ptr<Task>> tasks;
    std::map<uintptr_t, int> numbers; // handle -> n of T<n>, since the last reset
    uintptr_t nextHandle = 0x4B440000;
    int nextNumber = 1;

    std::string envSettings;
    bool envSet = false;
    Config base; // what a reset returns to
    Config cur;  // in force
    std::vector<double> script;
    RigModel rig;
    CcRigModel ccRig;
    bool manual = false;
    long long calls[FunctionCount] = {};
    std::string log;
    Hold hold;
    int scanWaiters = 0; // reads waiting for scans

    Sim();
    int configureFrom(const char *settings);
    void applyBase();

    // Counts the call and says whether a fail rule picks it.
    bool injected(int function);
    ArtDaqStatus injectedFailure(int function);

    // Registry (simregistry.cpp).
    std::shared_ptr<Task> create();
    // The live task of a handle; a task being cleared is visible only to its
    // own callback thread (the callback that is in flight).
    std::shared_ptr<Task> find(ArtDaqTask handle);
    // For Stop and Clear on a handle that is no longer valid: if its task is
    // being cleared, waits until its callbacks are over.
    void waitForDeadHandle(std::unique_lock<std::mutex> &lk, ArtDaqTask handle);
    void forget(const std::shared_ptr<Task> &t);
    std::string handleName(ArtDaqTask handle); // takes the mutex

    // Volts on input ai of task t at scan index scan.
    double input(const Task &t, int ai, uint64_t scan) const;
};

Sim &sim();

// The simulated device (simdevice.cpp); all with the mutex held.

// Starts the run of t: empty buffer, clock at zero, a new callback thread.
ArtDaqStatus launch(Sim &s, const std::shared_ptr<Task> &t);
// Ends the run of t. Waits for its callback thread (and so for a callback in
// flight) unless called on that very thread.
void stopLocked(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t);
// Brings the buffer of a running task up to the real-time clock; an
// overfull buffer ends the task with an overrun.
void catchUp(Sim &s, Task &t, Clock::time_point now);
// Re-anchors the clocks of all running tasks (the speed or the clock mode
// changes): scans acquired so far stay, the rest follow at the new pace.
void reanchorAll(Sim &s, Clock::time_point now);
void catchUpAll(Sim &s, Clock::time_point now);
// When the count of scans of t reaches `scans`, by its real-time clock.
Clock::time_point timeOfScan(const Task &t, uint64_t scans);
// Whether the calling thread is inside a callback of the library.
bool insideCallback();

} // namespace artsim
