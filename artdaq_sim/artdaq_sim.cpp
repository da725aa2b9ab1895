// The C functions of the card interface and the test controls of artsim.h.
// Each ArtDAQ_ function runs its check and effect (simtasks.cpp), logs the
// call, and stops at a test's hold when one is set for it.

#include "Art_DAQ.h"
#include "artsim.h"
#include "simcalllog.h"
#include "simstate.h"
#include "simtasks.h"

using artsim::num;
using artsim::pointer;
using artsim::quoted;
using artsim::sim;

namespace {

// A test's hold (ArtSim_HoldCallback) on a callback thread, just before or
// just after the call of `function`.
void holdPoint(artsim::Sim &s, int function, bool after)
{
    if (!artsim::insideCallback())
        return;
    std::unique_lock<std::mutex> lk(s.mu);
    if (s.hold.function != function || s.hold.after != after || s.hold.held)
        return;
    s.hold.function = -1;
    s.hold.held = true;
    const uint64_t release = s.hold.release;
    s.cv.notify_all();
    s.cv.wait(lk, [&] { return s.hold.release != release; });
}

// Runs one ArtDAQ_ function: hold before, the call, its log line, hold after.
template <typename Call, typename Line>
ArtDaqStatus logged(artsim::Function function, Call call, Line line)
{
    auto &s = sim();
    holdPoint(s, function, false);
    const ArtDaqStatus r = call(s);
    artsim::logCall(s, line(s), r);
    holdPoint(s, function, true);
    return r;
}

} // namespace

extern "C" {

ArtDaqStatus ArtDAQ_CreateTask(const char *taskName, ArtDaqTask *task)
{
    return logged(
        artsim::FnCreateTask, [&](artsim::Sim &s) { return artsim::createTask(s, taskName, task); },
        [&](artsim::Sim &s) {
            return "ArtDAQ_CreateTask(" + quoted(taskName) + ", " +
                   (task ? s.handleName(*task) : std::string("NULL")) + ")";
        });
}

ArtDaqStatus ArtDAQ_CreateAIVoltageChan(ArtDaqTask task, const char *physicalChannel,
                                        const char *channelName, int32_t terminalConfig,
                                        double minVolts, double maxVolts, int32_t units,
                                        const char *customScaleName)
{
    return logged(
        artsim::FnCreateAIVoltageChan,
        [&](artsim::Sim &s) {
            return artsim::createChannel(s, task, physicalChannel, terminalConfig, minVolts,
                                         maxVolts, units, customScaleName);
        },
        [&](artsim::Sim &s) {
            return "ArtDAQ_CreateAIVoltageChan(" + s.handleName(task) + ", " +
                   quoted(physicalChannel) + ", " + quoted(channelName) + ", " +
                   num(static_cast<long long>(terminalConfig)) + ", " + num(minVolts) + ", " +
                   num(maxVolts) + ", " + num(static_cast<long long>(units)) + ", " +
                   quoted(customScaleName) + ")";
        });
}

ArtDaqStatus ArtDAQ_CfgSampClkTiming(ArtDaqTask task, const char *clockSource, double rate,
                                     int32_t activeEdge, int32_t sampleMode,
                                     uint32_t samplesPerChannel)
{
    return logged(
        artsim::FnCfgSampClkTiming,
        [&](artsim::Sim &s) {
            return artsim::configureClock(s, task, clockSource, rate, activeEdge, sampleMode,
                                          samplesPerChannel);
        },
        [&](artsim::Sim &s) {
            return "ArtDAQ_CfgSampClkTiming(" + s.handleName(task) + ", " + quoted(clockSource) +
                   ", " + num(rate) + ", " + num(static_cast<long long>(activeEdge)) + ", " +
                   num(static_cast<long long>(sampleMode)) + ", " +
                   num(static_cast<long long>(samplesPerChannel)) + ")";
        });
}

ArtDaqStatus ArtDAQ_RegisterEveryNSamplesEvent(ArtDaqTask task, int32_t eventType,
                                               uint32_t sampleCount, uint32_t options,
                                               ArtDaqEveryNSamplesCallback callback,
                                               void *callbackData)
{
    return logged(
        artsim::FnRegisterEveryNSamplesEvent,
        [&](artsim::Sim &s) {
            return artsim::registerEveryN(s, task, eventType, sampleCount, options, callback,
                                          callbackData);
        },
        [&](artsim::Sim &s) {
            return "ArtDAQ_RegisterEveryNSamplesEvent(" + s.handleName(task) + ", " +
                   num(static_cast<long long>(eventType)) + ", " +
                   num(static_cast<long long>(sampleCount)) + ", " +
                   num(static_cast<long long>(options)) + ", " +
                   std::string(callback ? "ptr" : "NULL") + ", " + pointer(callbackData) + ")";
        });
}

ArtDaqStatus ArtDAQ_RegisterDoneEvent(ArtDaqTask task, uint32_t options,
                                      ArtDaqDoneCallback callback, void *callbackData)
{
    return logged(
        artsim::FnRegisterDoneEvent,
        [&](artsim::Sim &s) {
            return artsim::registerDone(s, task, options, callback, callbackData);
        },
        [&](artsim::Sim &s) {
            return "ArtDAQ_RegisterDoneEvent(" + s.handleName(task) + ", " +
                   num(static_cast<long long>(options)) + ", " +
                   std::string(callback ? "ptr" : "NULL") + ", " + pointer(callbackData) + ")";
        });
}

ArtDaqStatus ArtDAQ_StartTask(ArtDaqTask task)
{
    return logged(
        artsim::FnStartTask, [&](artsim::Sim &s) { return artsim::startTask(s, task); },
        [&](artsim::Sim &s) { return "ArtDAQ_StartTask(" + s.handleName(task) + ")"; });
}

ArtDaqStatus ArtDAQ_ReadAnalogF64(ArtDaqTask task, int32_t samplesPerChannel, double timeoutSeconds,
                                  int32_t layout, double *values, uint32_t arraySize,
                                  int32_t *valuesRead, int32_t *reserved)
{
    return logged(
        artsim::FnReadAnalogF64,
        [&](artsim::Sim &s) {
            return artsim::readAnalog(s, task, samplesPerChannel, timeoutSeconds, layout, values,
                                      arraySize, valuesRead, reserved);
        },
        [&](artsim::Sim &s) {
            return "ArtDAQ_ReadAnalogF64(" + s.handleName(task) + ", " +
                   num(static_cast<long long>(samplesPerChannel)) + ", " + num(timeoutSeconds) +
                   ", " + num(static_cast<long long>(layout)) + ", " + pointer(values) + ", " +
                   num(static_cast<long long>(arraySize)) + ", " + pointer(valuesRead) + ", " +
                   pointer(reserved) + ")";
        });
}

ArtDaqStatus ArtDAQ_StopTask(ArtDaqTask task)
{
    return logged(
        artsim::FnStopTask, [&](artsim::Sim &s) { return artsim::stopTask(s, task); },
        [&](artsim::Sim &s) { return "ArtDAQ_StopTask(" + s.handleName(task) + ")"; });
}

ArtDaqStatus ArtDAQ_ClearTask(ArtDaqTask task)
{
    return logged(
        artsim::FnClearTask, [&](artsim::Sim &s) { return artsim::clearTask(s, task); },
        [&](artsim::Sim &s) { return "ArtDAQ_ClearTask(" + s.handleName(task) + ")"; });
}

ArtDaqStatus ArtDAQ_GetExtendedErrorInfo(char *buffer, uint32_t bufferSize)
{
    return logged(
        artsim::FnGetExtendedErrorInfo,
        [&](artsim::Sim &s) { return artsim::errorInfo(s, buffer, bufferSize); },
        [&](artsim::Sim &) {
            return "ArtDAQ_GetExtendedErrorInfo(" + pointer(buffer) + ", " +
                   num(static_cast<long long>(bufferSize)) + ")";
        });
}

} // extern "C"
