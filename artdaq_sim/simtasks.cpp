// The card interface: the ten ArtDAQ_ functions' checks and effects, on top
// of the registry and the simulated device. The C functions in artdaq_sim.cpp
// log each call and hand over to these.

#include "artsim.h"
#include "simcalllog.h"
#include "simerror.h"
#include "simstate.h"
#include "simtasks.h"

#include <algorithm>
#include <cstring>

namespace artsim {
namespace {

const int inputCount = 8;
const double maxClockRate = 250000.0;
const uint32_t maxBufferScans = 1000000;

int inputIndex(const char *name)
{
    for (int i = 0; i < inputCount; ++i)
        if (std::strcmp(name, ("Dev1/ai" + std::to_string(i)).c_str()) == 0)
            return i;
    return -1;
}

ArtDaqStatus failedRun(const Task &t)
{
    lastError() = t.failText;
    return t.failStatus;
}

} // namespace

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
    const auto t = s.create();
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
    return launch(s, t);
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
    catchUp(s, *t, Clock::now());
    if (t->state == Task::Failed)
        return failedRun(*t);
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
        // Beyond days: no limit, and no overflow of the clock's duration type.
        const bool forever = timeout < 0 || timeout > 1e6;
        const Clock::time_point deadline =
            forever ? Clock::time_point::max()
                    : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(timeout));
        // The callback thread cannot wait for scans that only it would bring.
        while (!t->onOwnThread() && s.find(task) == t && t->state == Task::Running &&
               t->written - t->readPos < scans) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                break;
            Clock::time_point until = std::min(deadline, now + std::chrono::seconds(1));
            if (!s.manual)
                until = std::min(until, timeOfScan(*t, t->readPos + scans));
            ++s.scanWaiters;
            s.cv.wait_until(lk, until);
            --s.scanWaiters;
            catchUp(s, *t, Clock::now());
        }
        if (s.find(task) != t)
            return invalidHandle();
        if (t->state == Task::Failed)
            return failedRun(*t);
        if (t->written - t->readPos < scans)
            return fail(ARTSIM_ERR_READ_TIMEOUT, "读取超时", "read timed out");
    }
    for (uint64_t k = 0; k < scans; ++k)
        for (uint64_t c = 0; c < channels; ++c)
            values[k * channels + c] = s.input(*t, t->inputs[c], t->readPos + k);
    t->readPos += scans;
    ++t->goodReads;
    *valuesRead = static_cast<int32_t>(s.cur.countScans ? scans : scans * channels);
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
    stopLocked(s, lk, t);
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
    stopLocked(s, lk, t);
    t->life = Task::Cleared;
    if (!t->threadAlive)
        s.forget(t);
    return 0;
}

ArtDaqStatus errorInfo(Sim &s, char *buffer, uint32_t size)
{
    bool gbk = false;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        if (s.injected(FnGetExtendedErrorInfo)) {
            const std::string keep = lastError();
            const ArtDaqStatus status = s.injectedFailure(FnGetExtendedErrorInfo);
            lastError() = keep;
            return status;
        }
        gbk = s.cur.gbkTexts;
    }
    const std::string text = gbk ? toGbk(lastError()) : lastError();
    if (!buffer || size == 0)
        return static_cast<ArtDaqStatus>(text.size() + 1); // the size needed
    copyWholeCharacters(text, gbk, buffer, size);
    return 0;
}

} // namespace artsim
