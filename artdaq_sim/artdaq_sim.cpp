// Stand-in card library: one device "Dev1" with eight analog inputs, a sample
// clock on a thread of its own per running task, a ring buffer per task, and
// the test controls of artsim.h.
//
// Locking: one mutex (Sim::mu) guards all state; one condition variable
// (Sim::cv) signals every change (stop, thread exit, new scans, pump
// requests, finished pumps). Callbacks are always called with the mutex
// released, on the task's sampling thread.
//
// Handles are numbers, never pointers to our objects: every call looks the
// handle up in the registry, so a cleared or made-up handle is only an error.

#include "Art_DAQ.h"
#include "artsim.h"
#include "simconfig.h"
#include "simsignal.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace artsim {
namespace {

using Clock = std::chrono::steady_clock;

const int inputCount = 8;
const double maxClockRate = 250000.0;
const uint32_t maxBufferScans = 1000000;
const std::size_t maxLogBytes = 1 << 20;

// Last error text of the calling thread: a callback's read error and the
// done callback's overrun are reported on the sampling thread, while a failed
// start is reported on the caller's thread, and neither may overwrite the other.
thread_local std::string lastError;

ArtDaqStatus fail(ArtDaqStatus status, const std::string &chinese, const std::string &english)
{
    lastError = chinese + " / " + english;
    return status;
}

ArtDaqStatus invalidHandle()
{
    return fail(ARTSIM_ERR_INVALID_HANDLE, "无效的任务句柄", "invalid task handle");
}

ArtDaqStatus nullArgument(const char *name)
{
    return fail(ARTSIM_ERR_NULL_ARGUMENT, std::string("参数 ") + name + " 为空指针",
                std::string("argument ") + name + " is a null pointer");
}

ArtDaqStatus taskRunning()
{
    return fail(ARTSIM_ERR_TASK_RUNNING, "任务正在运行，不能更改配置",
                "the task is running; its configuration cannot change");
}

struct PumpRequest
{
    uint64_t scans = 0;
    int pending = 0; // tasks that have not finished this pump yet
    int fired = 0;
};

struct Task
{
    enum State { Created, Running, Stopped, Failed };

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
    ArtDaqStatus failStatus = 0;
    std::string failText;
    // Clearing: another thread's Clear waits for the callback in flight, which
    // may still use the handle. Cleared: dead for everyone; the entry stays
    // only until the sampling thread has left, so that Stop and Clear from
    // other threads can wait for it.
    enum Life { Live, Clearing, Cleared } life = Live;

    // Sampling thread of the current run.
    bool threadAlive = false;
    bool stopRequested = false;
    uint64_t run = 0;
    std::thread::id sampler;
    std::deque<std::shared_ptr<PumpRequest>> pumps;

    // Ring buffer of whole scans; written and readPos count scans since start.
    std::vector<double> ring;
    uint64_t capacity = 0;
    uint64_t written = 0;
    uint64_t readPos = 0;
    uint64_t blocks = 0;
    long long goodReads = 0;

    bool onOwnThread() const { return threadAlive && sampler == std::this_thread::get_id(); }
};

struct Sim
{
    std::mutex mu;
    std::condition_variable cv;

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
    bool manual = false;
    long long calls[FunctionCount] = {};
    std::string log;

    Sim()
    {
#ifdef _MSC_VER
        char *value = nullptr;
        std::size_t size = 0;
        if (_dupenv_s(&value, &size, "ARTDAQ_SIM") == 0 && value) {
            envSettings = value;
            envSet = true;
        }
        std::free(value);
#else
        if (const char *value = std::getenv("ARTDAQ_SIM")) {
            envSettings = value;
            envSet = true;
        }
#endif
        configureFrom(envSet ? envSettings.c_str() : nullptr);
        applyBase();
    }

    int configureFrom(const char *settings)
    {
        base = Config();
        std::string messages;
        const int rejected = parseConfig(settings, base, messages);
        if (!messages.empty())
            std::fputs(messages.c_str(), stderr);
        return rejected;
    }

    void applyBase()
    {
        cur = base;
        script.clear();
        rig = RigModel(cur.seed);
        manual = false;
        std::fill(std::begin(calls), std::end(calls), 0LL);
        tasks.clear();
        numbers.clear();
        nextNumber = 1;
        log.clear();
    }

    // Counts the call and says whether a fail rule picks it.
    bool injected(int function)
    {
        const long long n = ++calls[function];
        for (auto it = cur.fails.begin(); it != cur.fails.end(); ++it) {
            if (it->function == function && it->call == n) {
                cur.fails.erase(it);
                return true;
            }
        }
        return false;
    }

    ArtDaqStatus injectedFailure(int function)
    {
        const std::string n = std::to_string(calls[function]);
        const std::string name = functionName(function);
        return fail(ARTSIM_ERR_INJECTED, "模拟故障：第 " + n + " 次调用 " + name,
                    "simulated failure: call " + n + " of " + name);
    }

    // The live task of a handle; a task being cleared is visible only to its
    // own sampling thread (the callback that is in flight).
    std::shared_ptr<Task> find(ArtDaqTask handle)
    {
        const auto it = tasks.find(reinterpret_cast<uintptr_t>(handle));
        if (it == tasks.end())
            return nullptr;
        const Task &t = *it->second;
        if (t.life == Task::Cleared || (t.life == Task::Clearing && !t.onOwnThread()))
            return nullptr;
        return it->second;
    }

    // For Stop and Clear on a handle that is no longer valid: if its task is
    // being cleared, wait until its callbacks are over, so that whatever Stop
    // or Clear returns, no callback of the handle runs any more.
    void waitForDeadHandle(std::unique_lock<std::mutex> &lk, ArtDaqTask handle)
    {
        const auto it = tasks.find(reinterpret_cast<uintptr_t>(handle));
        if (it == tasks.end())
            return;
        const std::shared_ptr<Task> t = it->second;
        if (t->threadAlive && !t->onOwnThread()) {
            const uint64_t run = t->run;
            cv.wait(lk, [&] { return !t->threadAlive || t->run != run; });
        }
    }

    void forget(const std::shared_ptr<Task> &t)
    {
        const auto it = tasks.find(t->handle);
        if (it != tasks.end() && it->second == t)
            tasks.erase(it);
    }

    // Ends the run of t. Waits for its sampling thread (and so for a callback
    // in flight) unless called on that very thread.
    void stopLocked(std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t)
    {
        if (t->state == Task::Running)
            t->state = Task::Stopped;
        t->stopRequested = true;
        cv.notify_all();
        if (t->threadAlive && !t->onOwnThread()) {
            const uint64_t run = t->run;
            cv.wait(lk, [&] { return !t->threadAlive || t->run != run; });
        }
    }

    double input(const Task &t, int ai, uint64_t scan) const
    {
        if (!script.empty()) {
            const uint64_t scans = script.size() / 4;
            return ai < 4 ? script[(scan % scans) * 4 + static_cast<uint64_t>(ai)] : 0.0;
        }
        if (cur.constant)
            return ai < 4 ? cur.volts[ai] : 0.0;
        return rig.value(ai, scan, t.clockRate);
    }

    std::string handleName(ArtDaqTask handle)
    {
        if (!handle)
            return "(null)";
        std::lock_guard<std::mutex> lk(mu);
        const auto it = numbers.find(reinterpret_cast<uintptr_t>(handle));
        return it == numbers.end() ? std::string("(invalid)") : "T" + std::to_string(it->second);
    }

    void logCall(const std::string &call, ArtDaqStatus status)
    {
        std::lock_guard<std::mutex> lk(mu);
        log += call + " = " + std::to_string(status) + "\n";
        if (log.size() > maxLogBytes) {
            const auto cut = log.find('\n', log.size() / 2);
            log.erase(0, cut == std::string::npos ? log.size() : cut + 1);
        }
    }
};

Sim &sim()
{
    // Never destroyed: sampling threads may still be finishing at exit.
    static Sim *const instance = new Sim;
    return *instance;
}

std::string quoted(const char *s)
{
    return s ? "\"" + std::string(s) + "\"" : std::string("NULL");
}

std::string pointer(const void *p)
{
    return p ? "ptr" : "NULL";
}

std::string num(double v)
{
    return formatDouble(v);
}

std::string num(long long v)
{
    return std::to_string(v);
}

// Ends the task with an overrun, calls the done callback on this thread.
void endWithOverrun(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t,
                    bool simulated)
{
    t->state = Task::Failed;
    t->failStatus = ARTSIM_ERR_OVERRUN;
    t->failText = simulated ? "缓冲区溢出（模拟） / buffer overrun (simulated)"
                            : "缓冲区溢出：读取跟不上采样时钟，任务已停止 / buffer overrun: "
                              "the reader fell behind the sample clock; the task has stopped";
    t->stopRequested = true;
    s.cv.notify_all();
    if (t->done && t->life != Task::Cleared) {
        const ArtDaqDoneCallback done = t->done;
        void *const data = t->doneData;
        lastError = t->failText;
        lk.unlock();
        done(reinterpret_cast<ArtDaqTask>(t->handle), ARTSIM_ERR_OVERRUN, data);
        lk.lock();
    }
}

// Puts `due` scans into the ring, calling the every-N callback at each block
// boundary. Returns true when the task ended (overrun).
bool produce(Sim &s, std::unique_lock<std::mutex> &lk, const std::shared_ptr<Task> &t, uint64_t due,
             int &fired)
{
    const uint64_t block = t->blockScans ? t->blockScans : 100;
    const std::size_t channels = t->inputs.size();
    while (due > 0 && !t->stopRequested) {
        const uint64_t chunk = std::min(due, block - t->written % block);
        for (uint64_t i = 0; i < chunk; ++i) {
            if (t->written - t->readPos >= t->capacity) {
                endWithOverrun(s, lk, t, false);
                return true;
            }
            double *scan = &t->ring[(t->written % t->capacity) * channels];
            for (std::size_t c = 0; c < channels; ++c)
                scan[c] = s.input(*t, t->inputs[c], t->written);
            ++t->written;
        }
        due -= chunk;
        s.cv.notify_all(); // readers waiting for scans
        if (t->written % block != 0)
            continue;
        if (s.cur.overrunAfter >= 0 && t->blocks >= static_cast<uint64_t>(s.cur.overrunAfter)) {
            endWithOverrun(s, lk, t, true);
            return true;
        }
        ++t->blocks;
        if (t->everyN && t->blockScans) {
            const ArtDaqEveryNSamplesCallback callback = t->everyN;
            void *const data = t->everyNData;
            const uint32_t n = t->blockScans;
            lk.unlock();
            callback(reinterpret_cast<ArtDaqTask>(t->handle), ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER, n,
                     data);
            lk.lock();
            ++fired;
        }
    }
    return false;
}

void samplingThread(std::shared_ptr<Task> t)
{
    Sim &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    const uint64_t block = t->blockScans ? t->blockScans : 100;
    bool anchored = false;
    Clock::time_point anchorTime;
    uint64_t anchorScans = 0;
    double anchorRate = 0;

    while (!t->stopRequested) {
        std::shared_ptr<PumpRequest> pump;
        uint64_t due = 0;
        if (!t->pumps.empty()) {
            pump = t->pumps.front();
            t->pumps.pop_front();
            due = pump->scans;
            anchored = false;
        } else if (s.manual) {
            anchored = false;
            s.cv.wait(lk);
            continue;
        } else {
            const double rate = t->clockRate * s.cur.rate;
            const Clock::time_point now = Clock::now();
            if (!anchored || rate != anchorRate) {
                anchored = true;
                anchorTime = now;
                anchorScans = t->written;
                anchorRate = rate;
            }
            const double elapsed = std::chrono::duration<double>(now - anchorTime).count();
            const uint64_t target = anchorScans + static_cast<uint64_t>(elapsed * rate);
            if (target <= t->written) {
                const uint64_t next = (t->written / block + 1) * block;
                // At most a second at a time: slow rates and rate changes stay in bounds.
                const auto wait = std::chrono::duration<double>(
                    std::min(static_cast<double>(next - anchorScans) / rate, elapsed + 1.0));
                s.cv.wait_until(lk, anchorTime + std::chrono::duration_cast<Clock::duration>(wait));
                continue;
            }
            due = target - t->written;
            if (due > static_cast<uint64_t>(rate) + t->capacity) {
                // More than a second late (the process was suspended): the
                // clock resumes from now rather than flooding the reader.
                anchored = false;
                continue;
            }
        }
        int fired = 0;
        const bool ended = produce(s, lk, t, due, fired);
        if (pump) {
            pump->fired += fired;
            --pump->pending;
            s.cv.notify_all();
        }
        if (ended)
            break;
    }
    for (const auto &pump : t->pumps)
        --pump->pending;
    t->pumps.clear();
    t->threadAlive = false;
    if (t->life != Task::Live)
        s.forget(t);
    s.cv.notify_all();
}

int inputIndex(const char *name)
{
    for (int i = 0; i < inputCount; ++i)
        if (std::strcmp(name, ("Dev1/ai" + std::to_string(i)).c_str()) == 0)
            return i;
    return -1;
}

// --- the card interface ------------------------------------------------------

ArtDaqStatus createTask(Sim &s, const char *name, ArtDaqTask *task)
{
    std::lock_guard<std::mutex> lk(s.mu);
    if (task)
        *task = nullptr;
    if (s.injected(FnCreateTask))
        return s.injectedFailure(FnCreateTask);
    if (!task)
        return nullArgument("task");
    if (!name)
        return nullArgument("taskName");
    auto t = std::make_shared<Task>();
    t->handle = s.nextHandle;
    s.nextHandle += 0x10;
    s.tasks[t->handle] = t;
    s.numbers[t->handle] = s.nextNumber++;
    *task = reinterpret_cast<ArtDaqTask>(t->handle);
    return 0;
}

ArtDaqStatus createChannel(Sim &s, ArtDaqTask task, const char *physical, int32_t terminal,
                           double minV, double maxV, int32_t units, const char *scale)
{
    std::lock_guard<std::mutex> lk(s.mu);
    if (s.injected(FnCreateAIVoltageChan))
        return s.injectedFailure(FnCreateAIVoltageChan);
    const auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (t->state == Task::Running)
        return taskRunning();
    if (!physical)
        return nullArgument("physicalChannel");
    const int ai = inputIndex(physical);
    if (ai < 0)
        return fail(ARTSIM_ERR_UNKNOWN_CHANNEL,
                    std::string("未知的物理通道 \"") + physical +
                        "\"（设备 Dev1 有 Dev1/ai0 至 Dev1/ai7）",
                    std::string("unknown physical channel \"") + physical +
                        "\" (device Dev1 has Dev1/ai0 to Dev1/ai7)");
    if (std::find(t->inputs.begin(), t->inputs.end(), ai) != t->inputs.end())
        return fail(ARTSIM_ERR_DUPLICATE_CHANNEL,
                    std::string("物理通道 ") + physical + " 已在任务中",
                    std::string("physical channel ") + physical + " is already in the task");
    if (terminal != ARTDAQ_TERMINAL_DEFAULT)
        return fail(ARTSIM_ERR_TERMINAL_CONFIG, "不支持的端子配置 " + std::to_string(terminal),
                    "unsupported terminal configuration " + std::to_string(terminal) +
                        " (only -1, the default)");
    if (!(minV >= -10.0 && maxV <= 10.0 && minV < maxV))
        return fail(ARTSIM_ERR_RANGE, "输入范围无效 [" + num(minV) + ", " + num(maxV) + "] V",
                    "invalid input range [" + num(minV) + ", " + num(maxV) +
                        "] V (minimum below maximum, both within -10..10 V)");
    if (units != ARTDAQ_UNITS_VOLTS)
        return fail(ARTSIM_ERR_UNITS, "不支持的单位 " + std::to_string(units),
                    "unsupported units " + std::to_string(units) + " (only 10348, volts)");
    if (scale && *scale)
        return fail(ARTSIM_ERR_CUSTOM_SCALE, "不支持自定义标度", "custom scales are not supported");
    t->inputs.push_back(ai);
    return 0;
}

ArtDaqStatus configureClock(Sim &s, ArtDaqTask task, const char *source, double rate, int32_t edge,
                            int32_t mode, uint32_t scans)
{
    std::lock_guard<std::mutex> lk(s.mu);
    if (s.injected(FnCfgSampClkTiming))
        return s.injectedFailure(FnCfgSampClkTiming);
    const auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (t->state == Task::Running)
        return taskRunning();
    if (source && *source)
        return fail(ARTSIM_ERR_CLOCK_SOURCE, std::string("未知的时钟源 \"") + source + "\"",
                    std::string("unknown clock source \"") + source +
                        "\" (only \"\", the onboard clock)");
    if (!(rate > 0 && rate <= maxClockRate))
        return fail(ARTSIM_ERR_RATE, "采样率超出范围：" + num(rate),
                    "sample rate out of range: " + num(rate) + " (above 0, at most 250000)");
    if (edge != ARTDAQ_EDGE_RISING)
        return fail(ARTSIM_ERR_EDGE, "不支持的触发沿 " + std::to_string(edge),
                    "unsupported active edge " + std::to_string(edge) + " (only 10280, rising)");
    if (mode != ARTDAQ_MODE_CONTINUOUS)
        return fail(ARTSIM_ERR_SAMPLE_MODE, "不支持的采样模式 " + std::to_string(mode),
                    "unsupported sample mode " + std::to_string(mode) +
                        " (only 10123, continuous)");
    if (scans == 0 || scans > maxBufferScans)
        return fail(ARTSIM_ERR_BUFFER_SIZE, "每通道采样数无效：" + std::to_string(scans),
                    "invalid samples per channel: " + std::to_string(scans) + " (1 to 1000000)");
    t->timed = true;
    t->clockRate = rate;
    t->bufferScans = scans;
    return 0;
}

ArtDaqStatus registerEveryN(Sim &s, ArtDaqTask task, int32_t type, uint32_t n, uint32_t options,
                            ArtDaqEveryNSamplesCallback callback, void *data)
{
    std::lock_guard<std::mutex> lk(s.mu);
    if (s.injected(FnRegisterEveryNSamplesEvent))
        return s.injectedFailure(FnRegisterEveryNSamplesEvent);
    const auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (t->state == Task::Running)
        return taskRunning();
    if (t->everyN)
        return fail(ARTSIM_ERR_ALREADY_REGISTERED, "每 N 个采样事件已注册",
                    "the every-N-samples event is already registered");
    if (type != ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER)
        return fail(ARTSIM_ERR_EVENT_TYPE, "不支持的事件类型 " + std::to_string(type),
                    "unsupported event type " + std::to_string(type) +
                        " (only 1, acquired into buffer)");
    if (n == 0 || n > maxBufferScans)
        return fail(ARTSIM_ERR_EVENT_COUNT, "事件采样数无效：" + std::to_string(n),
                    "invalid event sample count " + std::to_string(n) + " (1 to 1000000)");
    if (options != 0)
        return fail(ARTSIM_ERR_OPTIONS, "不支持的选项 " + std::to_string(options),
                    "unsupported options " + std::to_string(options) + " (only 0)");
    if (!callback)
        return nullArgument("callback");
    t->everyN = callback;
    t->everyNData = data;
    t->blockScans = n;
    return 0;
}

ArtDaqStatus registerDone(Sim &s, ArtDaqTask task, uint32_t options, ArtDaqDoneCallback callback,
                          void *data)
{
    std::lock_guard<std::mutex> lk(s.mu);
    if (s.injected(FnRegisterDoneEvent))
        return s.injectedFailure(FnRegisterDoneEvent);
    const auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (t->state == Task::Running)
        return taskRunning();
    if (t->done)
        return fail(ARTSIM_ERR_ALREADY_REGISTERED, "完成事件已注册",
                    "the done event is already registered");
    if (options != 0)
        return fail(ARTSIM_ERR_OPTIONS, "不支持的选项 " + std::to_string(options),
                    "unsupported options " + std::to_string(options) + " (only 0)");
    if (!callback)
        return nullArgument("callback");
    t->done = callback;
    t->doneData = data;
    return 0;
}

ArtDaqStatus startTask(Sim &s, ArtDaqTask task)
{
    std::unique_lock<std::mutex> lk(s.mu);
    if (s.injected(FnStartTask))
        return s.injectedFailure(FnStartTask);
    auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (t->state == Task::Running)
        return fail(ARTSIM_ERR_TASK_RUNNING, "任务已在运行", "the task is already running");
    if (t->inputs.empty())
        return fail(ARTSIM_ERR_NO_CHANNELS, "任务没有通道", "the task has no channels");
    if (!t->timed)
        return fail(ARTSIM_ERR_NO_TIMING, "未配置采样时钟", "the sample clock is not configured");
    if (t->threadAlive) {
        // The previous run is still winding down (stopped from its callback).
        if (t->onOwnThread())
            return fail(ARTSIM_ERR_STOPPING, "任务正在停止", "the task is stopping");
        s.cv.wait(lk, [&] { return !t->threadAlive; });
        if (s.find(task) != t)
            return invalidHandle();
        if (t->state == Task::Running)
            return fail(ARTSIM_ERR_TASK_RUNNING, "任务已在运行", "the task is already running");
    }
    for (const auto &entry : s.tasks) {
        const Task &other = *entry.second;
        if (&other == t.get() || other.state != Task::Running)
            continue;
        for (int ai : t->inputs) {
            if (std::find(other.inputs.begin(), other.inputs.end(), ai) != other.inputs.end()) {
                const std::string name = "Dev1/ai" + std::to_string(ai);
                return fail(ARTSIM_ERR_RESOURCE_BUSY,
                            "资源被占用：" + name + " 正被另一个运行中的任务使用",
                            "resource busy: " + name + " is in use by another running task");
            }
        }
    }
    t->capacity = std::max(t->bufferScans, t->blockScans);
    t->ring.assign(t->capacity * t->inputs.size(), 0.0);
    t->written = t->readPos = t->blocks = 0;
    t->goodReads = 0;
    t->failStatus = 0;
    t->failText.clear();
    t->stopRequested = false;
    t->pumps.clear();
    try {
        std::thread thread(samplingThread, t);
        t->sampler = thread.get_id();
        thread.detach(); // Stop and Clear wait for threadAlive instead of joining
    } catch (...) {
        return fail(ARTSIM_ERR_THREAD, "无法启动采样线程", "cannot start the sampling thread");
    }
    t->threadAlive = true;
    ++t->run;
    t->state = Task::Running;
    return 0;
}

ArtDaqStatus readAnalog(Sim &s, ArtDaqTask task, int32_t perChannel, double timeout, int32_t layout,
                        double *values, uint32_t arraySize, int32_t *valuesRead,
                        const int32_t *reserved)
{
    std::unique_lock<std::mutex> lk(s.mu);
    if (valuesRead)
        *valuesRead = 0;
    if (s.injected(FnReadAnalogF64))
        return s.injectedFailure(FnReadAnalogF64);
    const auto t = s.find(task);
    if (!t)
        return invalidHandle();
    if (!values)
        return nullArgument("values");
    if (!valuesRead)
        return nullArgument("valuesRead");
    if (reserved)
        return fail(ARTSIM_ERR_RESERVED, "保留参数必须为空", "the reserved argument must be NULL");
    if (layout != ARTDAQ_LAYOUT_GROUP_BY_SCAN)
        return fail(ARTSIM_ERR_LAYOUT, "不支持的数据排列 " + std::to_string(layout),
                    "unsupported layout " + std::to_string(layout) + " (only 1, grouped by scan)");
    if (perChannel < -1)
        return fail(ARTSIM_ERR_READ_COUNT, "读取采样数无效：" + std::to_string(perChannel),
                    "invalid samples per channel to read: " + std::to_string(perChannel) +
                        " (-1 for all available, or 0 and above)");
    if (!(timeout >= 0 || timeout == -1))
        return fail(ARTSIM_ERR_TIMEOUT_VALUE, "超时时间无效：" + num(timeout),
                    "invalid timeout: " + num(timeout) + " s (0 and above, or -1 for no limit)");
    if (t->state == Task::Created)
        return fail(ARTSIM_ERR_NOT_STARTED, "任务未启动", "the task has not been started");
    if (t->state == Task::Failed) {
        lastError = t->failText;
        return t->failStatus;
    }
    if (s.cur.readErrorAfter >= 0 && t->goodReads >= s.cur.readErrorAfter)
        return fail(ARTSIM_ERR_READ_FAILED, "读取失败（模拟的读取错误）",
                    "read failed (simulated read error)");
    const uint64_t channels = t->inputs.size();
    if (arraySize < channels)
        return fail(ARTSIM_ERR_ARRAY_TOO_SMALL, "数组太小，放不下一次扫描",
                    "the array is too small for one scan");
    const uint64_t fit = arraySize / channels;
    uint64_t scans = std::min<uint64_t>(t->written - t->readPos, fit);
    if (perChannel >= 0) {
        scans = static_cast<uint64_t>(perChannel);
        if (scans > fit)
            return fail(ARTSIM_ERR_ARRAY_TOO_SMALL, "数组太小，放不下所请求的采样",
                        "the array is too small for the samples asked for");
        const auto enough = [&] {
            return t->written - t->readPos >= scans || t->state != Task::Running ||
                   t->life != Task::Live;
        };
        // The sampling thread cannot wait for scans that only it would make.
        if (!t->onOwnThread()) {
            if (timeout < 0 || timeout > 1e6) // beyond days: no limit, and no clock overflow
                s.cv.wait(lk, enough);
            else
                s.cv.wait_for(lk, std::chrono::duration<double>(timeout), enough);
        }
        if (s.find(task) != t)
            return invalidHandle();
        if (t->state == Task::Failed) {
            lastError = t->failText;
            return t->failStatus;
        }
        if (t->written - t->readPos < scans)
            return fail(ARTSIM_ERR_READ_TIMEOUT, "读取超时", "read timed out");
    }
    for (uint64_t k = 0; k < scans; ++k) {
        const double *scan = &t->ring[((t->readPos + k) % t->capacity) * channels];
        std::copy(scan, scan + channels, values + k * channels);
    }
    t->readPos += scans;
    ++t->goodReads;
    *valuesRead = static_cast<int32_t>(scans * channels);
    return 0;
}

ArtDaqStatus stopTask(Sim &s, ArtDaqTask task)
{
    std::unique_lock<std::mutex> lk(s.mu);
    if (s.injected(FnStopTask))
        return s.injectedFailure(FnStopTask);
    const auto t = s.find(task);
    if (!t) {
        s.waitForDeadHandle(lk, task);
        return invalidHandle();
    }
    s.stopLocked(lk, t);
    return 0;
}

ArtDaqStatus clearTask(Sim &s, ArtDaqTask task)
{
    std::unique_lock<std::mutex> lk(s.mu);
    if (s.injected(FnClearTask))
        return s.injectedFailure(FnClearTask);
    const auto t = s.find(task);
    if (!t) {
        s.waitForDeadHandle(lk, task);
        return invalidHandle();
    }
    // From now on the handle is invalid for every other thread; a callback in
    // flight keeps it until it returns, unless it is the one clearing.
    t->life = t->onOwnThread() ? Task::Cleared : Task::Clearing;
    s.stopLocked(lk, t);
    t->life = Task::Cleared;
    if (!t->threadAlive)
        s.forget(t);
    return 0;
}

ArtDaqStatus errorInfo(Sim &s, char *buffer, uint32_t size)
{
    {
        std::lock_guard<std::mutex> lk(s.mu);
        if (s.injected(FnGetExtendedErrorInfo)) {
            const std::string keep = lastError;
            const ArtDaqStatus status = s.injectedFailure(FnGetExtendedErrorInfo);
            lastError = keep;
            return status;
        }
    }
    if (!buffer || size == 0)
        return static_cast<ArtDaqStatus>(lastError.size() + 1); // the size needed
    std::size_t n = std::min<std::size_t>(lastError.size(), size - 1);
    // Cut on a character boundary: never leave half a UTF-8 sequence.
    while (n > 0 && n < lastError.size() &&
           (static_cast<unsigned char>(lastError[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(buffer, lastError.data(), n);
    buffer[n] = '\0';
    return 0;
}

int copyOut(const std::string &text, char *buffer, int size)
{
    if (buffer && size > 0) {
        const std::size_t n =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

} // namespace
} // namespace artsim

using artsim::num;
using artsim::pointer;
using artsim::quoted;
using artsim::sim;

extern "C" {

ArtDaqStatus ArtDAQ_CreateTask(const char *taskName, ArtDaqTask *task)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::createTask(s, taskName, task);
    s.logCall("ArtDAQ_CreateTask(" + quoted(taskName) + ", " +
                  (task ? s.handleName(*task) : std::string("NULL")) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_CreateAIVoltageChan(ArtDaqTask task, const char *physicalChannel,
                                        const char *channelName, int32_t terminalConfig,
                                        double minVolts, double maxVolts, int32_t units,
                                        const char *customScaleName)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::createChannel(s, task, physicalChannel, terminalConfig, minVolts,
                                                 maxVolts, units, customScaleName);
    s.logCall("ArtDAQ_CreateAIVoltageChan(" + s.handleName(task) + ", " + quoted(physicalChannel) +
                  ", " + quoted(channelName) + ", " + num(static_cast<long long>(terminalConfig)) +
                  ", " + num(minVolts) + ", " + num(maxVolts) + ", " +
                  num(static_cast<long long>(units)) + ", " + quoted(customScaleName) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_CfgSampClkTiming(ArtDaqTask task, const char *clockSource, double rate,
                                     int32_t activeEdge, int32_t sampleMode,
                                     uint32_t samplesPerChannel)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::configureClock(s, task, clockSource, rate, activeEdge,
                                                  sampleMode, samplesPerChannel);
    s.logCall("ArtDAQ_CfgSampClkTiming(" + s.handleName(task) + ", " + quoted(clockSource) + ", " +
                  num(rate) + ", " + num(static_cast<long long>(activeEdge)) + ", " +
                  num(static_cast<long long>(sampleMode)) + ", " +
                  num(static_cast<long long>(samplesPerChannel)) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_RegisterEveryNSamplesEvent(ArtDaqTask task, int32_t eventType,
                                               uint32_t sampleCount, uint32_t options,
                                               ArtDaqEveryNSamplesCallback callback,
                                               void *callbackData)
{
    auto &s = sim();
    const ArtDaqStatus r =
        artsim::registerEveryN(s, task, eventType, sampleCount, options, callback, callbackData);
    s.logCall("ArtDAQ_RegisterEveryNSamplesEvent(" + s.handleName(task) + ", " +
                  num(static_cast<long long>(eventType)) + ", " +
                  num(static_cast<long long>(sampleCount)) + ", " +
                  num(static_cast<long long>(options)) + ", " +
                  std::string(callback ? "ptr" : "NULL") + ", " + pointer(callbackData) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_RegisterDoneEvent(ArtDaqTask task, uint32_t options,
                                      ArtDaqDoneCallback callback, void *callbackData)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::registerDone(s, task, options, callback, callbackData);
    s.logCall("ArtDAQ_RegisterDoneEvent(" + s.handleName(task) + ", " +
                  num(static_cast<long long>(options)) + ", " +
                  std::string(callback ? "ptr" : "NULL") + ", " + pointer(callbackData) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_StartTask(ArtDaqTask task)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::startTask(s, task);
    s.logCall("ArtDAQ_StartTask(" + s.handleName(task) + ")", r);
    return r;
}

ArtDaqStatus ArtDAQ_ReadAnalogF64(ArtDaqTask task, int32_t samplesPerChannel, double timeoutSeconds,
                                  int32_t layout, double *values, uint32_t arraySize,
                                  int32_t *valuesRead, int32_t *reserved)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::readAnalog(s, task, samplesPerChannel, timeoutSeconds, layout,
                                              values, arraySize, valuesRead, reserved);
    s.logCall("ArtDAQ_ReadAnalogF64(" + s.handleName(task) + ", " +
                  num(static_cast<long long>(samplesPerChannel)) + ", " + num(timeoutSeconds) +
                  ", " + num(static_cast<long long>(layout)) + ", " + pointer(values) + ", " +
                  num(static_cast<long long>(arraySize)) + ", " + pointer(valuesRead) + ", " +
                  pointer(reserved) + ")",
              r);
    return r;
}

ArtDaqStatus ArtDAQ_StopTask(ArtDaqTask task)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::stopTask(s, task);
    s.logCall("ArtDAQ_StopTask(" + s.handleName(task) + ")", r);
    return r;
}

ArtDaqStatus ArtDAQ_ClearTask(ArtDaqTask task)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::clearTask(s, task);
    s.logCall("ArtDAQ_ClearTask(" + s.handleName(task) + ")", r);
    return r;
}

ArtDaqStatus ArtDAQ_GetExtendedErrorInfo(char *buffer, uint32_t bufferSize)
{
    auto &s = sim();
    const ArtDaqStatus r = artsim::errorInfo(s, buffer, bufferSize);
    s.logCall("ArtDAQ_GetExtendedErrorInfo(" + pointer(buffer) + ", " +
                  num(static_cast<long long>(bufferSize)) + ")",
              r);
    return r;
}

// --- test controls -------------------------------------------------------------

void ArtSim_Reset(void)
{
    auto &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    std::vector<std::shared_ptr<artsim::Task>> waitFor;
    for (const auto &entry : s.tasks) {
        const auto &t = entry.second;
        t->life = artsim::Task::Cleared;
        if (t->state == artsim::Task::Running)
            t->state = artsim::Task::Stopped;
        t->stopRequested = true;
        if (t->threadAlive && !t->onOwnThread())
            waitFor.push_back(t);
    }
    s.cv.notify_all();
    s.cv.wait(lk, [&] {
        return std::none_of(waitFor.begin(), waitFor.end(),
                            [](const std::shared_ptr<artsim::Task> &t) { return t->threadAlive; });
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
    s.cur.constant = true;
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
    s.cur.constant = false;
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
}

void ArtSim_SetManualClock(int on)
{
    auto &s = sim();
    std::lock_guard<std::mutex> lk(s.mu);
    s.manual = on != 0;
    s.cv.notify_all();
}

int ArtSim_Pump(int scans)
{
    auto &s = sim();
    std::unique_lock<std::mutex> lk(s.mu);
    if (!s.manual)
        return -1;
    for (const auto &entry : s.tasks)
        if (entry.second->onOwnThread())
            return -1;
    if (scans <= 0)
        return 0;
    auto pump = std::make_shared<artsim::PumpRequest>();
    pump->scans = static_cast<uint64_t>(scans);
    for (const auto &entry : s.tasks) {
        const auto &t = entry.second;
        if (t->state == artsim::Task::Running && t->threadAlive && !t->stopRequested) {
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
    s.cur.rate = factor;
    s.cv.notify_all();
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
        return entry.second->life == artsim::Task::Live;
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
