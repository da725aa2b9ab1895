// Tests of the stand-in card library through its C interface and test controls.

#include "Art_DAQ.h"
#include "artsim.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>
#include <locale>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

const char *const inputs[8] = {"Dev1/ai0", "Dev1/ai1", "Dev1/ai2", "Dev1/ai3",
                               "Dev1/ai4", "Dev1/ai5", "Dev1/ai6", "Dev1/ai7"};

QString lastError()
{
    char buffer[2048] = {};
    ArtDAQ_GetExtendedErrorInfo(buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

QString callLog()
{
    std::vector<char> buffer(static_cast<std::size_t>(ArtSim_CallLog(nullptr, 0)) + 1);
    ArtSim_CallLog(buffer.data(), static_cast<int>(buffer.size()));
    return QString::fromUtf8(buffer.data());
}

QString describe()
{
    char buffer[1024] = {};
    ArtSim_Describe(buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

ArtDaqStatus addChannel(ArtDaqTask task, int ai)
{
    return ArtDAQ_CreateAIVoltageChan(task, inputs[ai], "", ARTDAQ_TERMINAL_DEFAULT, -10.0, 10.0,
                                      ARTDAQ_UNITS_VOLTS, nullptr);
}

ArtDaqStatus configureClock(ArtDaqTask task)
{
    return ArtDAQ_CfgSampClkTiming(task, "", 4000.0, ARTDAQ_EDGE_RISING, ARTDAQ_MODE_CONTINUOUS,
                                   1000);
}

// What the callbacks of one task saw.
struct Recorder
{
    std::mutex mu;
    std::vector<std::thread::id> threads;
    std::vector<ArtDaqStatus> readStatus;
    std::vector<int32_t> readCounts;
    std::vector<double> values;
    std::vector<QString> readErrors;
    int events = 0;
    int32_t eventType = 0;
    uint32_t eventCount = 0;
    int doneCalls = 0;
    ArtDaqStatus doneStatus = 0;
    QString doneError;
    std::thread::id doneThread;
    bool read = true;                        // the every-N callback reads what is available
    std::function<void(ArtDaqTask)> inEvent; // runs after the read
    std::function<void(ArtDaqTask)> inDone;
};

ArtDaqStatus onEvent(ArtDaqTask task, int32_t type, uint32_t count, void *data)
{
    auto *r = static_cast<Recorder *>(data);
    {
        std::lock_guard<std::mutex> lk(r->mu);
        ++r->events;
        r->eventType = type;
        r->eventCount = count;
        r->threads.push_back(std::this_thread::get_id());
    }
    if (r->read) {
        double values[800] = {};
        int32_t count = 0;
        const ArtDaqStatus status = ArtDAQ_ReadAnalogF64(
            task, -1, 10.0, ARTDAQ_LAYOUT_GROUP_BY_SCAN, values, 800, &count, nullptr);
        const QString text = status < 0 ? lastError() : QString();
        std::lock_guard<std::mutex> lk(r->mu);
        r->readStatus.push_back(status);
        r->readCounts.push_back(count);
        r->values.insert(r->values.end(), values, values + count);
        r->readErrors.push_back(text);
    }
    if (r->inEvent)
        r->inEvent(task);
    return 0;
}

ArtDaqStatus onDone(ArtDaqTask task, ArtDaqStatus status, void *data)
{
    auto *r = static_cast<Recorder *>(data);
    const QString text = lastError();
    {
        std::lock_guard<std::mutex> lk(r->mu);
        ++r->doneCalls;
        r->doneStatus = status;
        r->doneError = text;
        r->doneThread = std::this_thread::get_id();
    }
    if (r->inDone)
        r->inDone(task);
    return 0;
}

// The program's set-up: channels ai0..ai3 (or the given ones), 4000 scans/s,
// 1000 scans buffer, every 100 scans, then start.
ArtDaqTask startTask(Recorder *r, const std::vector<int> &ais = {0, 1, 2, 3})
{
    ArtDaqTask task = nullptr;
    if (ArtDAQ_CreateTask("", &task) < 0)
        return nullptr;
    bool ok = true;
    for (int ai : ais)
        ok = ok && addChannel(task, ai) >= 0;
    ok = ok && configureClock(task) >= 0;
    if (r) {
        ok = ok && ArtDAQ_RegisterEveryNSamplesEvent(task, ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER, 100,
                                                     0, onEvent, r) >= 0;
        ok = ok && ArtDAQ_RegisterDoneEvent(task, 0, onDone, r) >= 0;
    }
    ok = ok && ArtDAQ_StartTask(task) >= 0;
    if (!ok) {
        ArtDAQ_StopTask(task);
        ArtDAQ_ClearTask(task);
        return nullptr;
    }
    return task;
}

ArtDaqStatus readInto(ArtDaqTask task, std::vector<double> &values, int32_t &count,
                      int32_t perChannel = -1)
{
    return ArtDAQ_ReadAnalogF64(task, perChannel, 0.0, ARTDAQ_LAYOUT_GROUP_BY_SCAN, values.data(),
                                static_cast<uint32_t>(values.size()), &count, nullptr);
}

void verifyBilingual(const QString &text)
{
    const int slash = text.indexOf(QLatin1String(" / "));
    QVERIFY2(slash > 0, qPrintable(text));
    const QString chinese = text.left(slash), english = text.mid(slash + 3);
    QVERIFY2(std::any_of(chinese.begin(), chinese.end(),
                         [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; }),
             qPrintable(text));
    QVERIFY2(english.contains(QRegularExpression("^[ -~]+$")), qPrintable(text));
}

// One argument check: `call` runs against a new empty task (manual clock).
struct BadCall
{
    const char *name;
    ArtDaqStatus expected;
    const char *english; // part of the English text
    std::function<ArtDaqStatus(ArtDaqTask)> call;
};

ArtDaqStatus fullSetup(ArtDaqTask t)
{
    for (int ai = 0; ai < 4; ++ai)
        if (addChannel(t, ai) < 0)
            return -1;
    return configureClock(t);
}

// Builders of one call with one argument changed from the program's values.
std::function<ArtDaqStatus(ArtDaqTask)> channel(const char *input, int32_t terminal = -1,
                                                double lo = -10, double hi = 10,
                                                int32_t units = 10348, const char *scale = nullptr)
{
    return [=](ArtDaqTask t) {
        return ArtDAQ_CreateAIVoltageChan(t, input, "", terminal, lo, hi, units, scale);
    };
}

std::function<ArtDaqStatus(ArtDaqTask)> timing(const char *source, double rate = 4000,
                                               int32_t edge = 10280, int32_t mode = 10123,
                                               uint32_t buffer = 1000)
{
    return
        [=](ArtDaqTask t) { return ArtDAQ_CfgSampClkTiming(t, source, rate, edge, mode, buffer); };
}

std::function<ArtDaqStatus(ArtDaqTask)> everyN(int32_t type, uint32_t n, uint32_t options,
                                               ArtDaqEveryNSamplesCallback cb = onEvent)
{
    return [=](ArtDaqTask t) {
        return ArtDAQ_RegisterEveryNSamplesEvent(t, type, n, options, cb, nullptr);
    };
}

enum ReadFlaw { ReadAsIs, NullArray, NullCount, Reserved };

// A read of a task set up (and started, if asked) as the program does it.
std::function<ArtDaqStatus(ArtDaqTask)> reading(bool start, int32_t perChannel, double timeout = 0,
                                                int32_t layout = 1, uint32_t size = 800,
                                                ReadFlaw flaw = ReadAsIs)
{
    return [=](ArtDaqTask t) {
        if (fullSetup(t) < 0 || (start && ArtDAQ_StartTask(t) < 0))
            return -1;
        std::vector<double> v(800);
        int32_t n = 0, reserved = 0;
        return ArtDAQ_ReadAnalogF64(
            t, perChannel, timeout, layout, flaw == NullArray ? nullptr : v.data(), size,
            flaw == NullCount ? nullptr : &n, flaw == Reserved ? &reserved : nullptr);
    };
}

const std::vector<BadCall> &badCalls()
{
    const double nan = std::nan("");
    static const std::vector<BadCall> calls = {
        {"create null task pointer", ARTSIM_ERR_NULL_ARGUMENT, "task",
         [](ArtDaqTask) { return ArtDAQ_CreateTask("", nullptr); }},
        {"create null name", ARTSIM_ERR_NULL_ARGUMENT, "taskName",
         [](ArtDaqTask) {
             ArtDaqTask t = reinterpret_cast<ArtDaqTask>(1);
             const ArtDaqStatus s = ArtDAQ_CreateTask(nullptr, &t);
             return t == nullptr ? s : 0; // a failed create leaves no handle
         }},
        {"other device", ARTSIM_ERR_UNKNOWN_CHANNEL, "Dev2/ai0", channel("Dev2/ai0")},
        {"input 8", ARTSIM_ERR_UNKNOWN_CHANNEL, "unknown physical channel", channel("Dev1/ai8")},
        {"range of inputs", ARTSIM_ERR_UNKNOWN_CHANNEL, "unknown", channel("Dev1/ai0:3")},
        {"lower case", ARTSIM_ERR_UNKNOWN_CHANNEL, "unknown", channel("dev1/ai0")},
        {"null input", ARTSIM_ERR_NULL_ARGUMENT, "physicalChannel", channel(nullptr)},
        {"input twice", ARTSIM_ERR_DUPLICATE_CHANNEL, "already in the task",
         [](ArtDaqTask t) { return addChannel(t, 2) < 0 ? -1 : addChannel(t, 2); }},
        {"terminal 0", ARTSIM_ERR_TERMINAL_CONFIG, "terminal", channel("Dev1/ai0", 0)},
        {"min below -10", ARTSIM_ERR_RANGE, "range", channel("Dev1/ai0", -1, -10.5)},
        {"max above 10", ARTSIM_ERR_RANGE, "range", channel("Dev1/ai0", -1, -10, 10.01)},
        {"min equals max", ARTSIM_ERR_RANGE, "range", channel("Dev1/ai0", -1, 5, 5)},
        {"min above max", ARTSIM_ERR_RANGE, "range", channel("Dev1/ai0", -1, 10, -10)},
        {"NaN range", ARTSIM_ERR_RANGE, "range", channel("Dev1/ai0", -1, nan)},
        {"units", ARTSIM_ERR_UNITS, "units", channel("Dev1/ai0", -1, -10, 10, 10349)},
        {"custom scale", ARTSIM_ERR_CUSTOM_SCALE, "custom",
         channel("Dev1/ai0", -1, -10, 10, 10348, "x")},
        {"clock source", ARTSIM_ERR_CLOCK_SOURCE, "clock source", timing("ext0")},
        {"rate 0", ARTSIM_ERR_RATE, "rate", timing("", 0)},
        {"rate negative", ARTSIM_ERR_RATE, "rate", timing("", -4000)},
        {"rate NaN", ARTSIM_ERR_RATE, "rate", timing("", nan)},
        {"falling edge", ARTSIM_ERR_EDGE, "edge", timing("", 4000, 10171)},
        {"finite mode", ARTSIM_ERR_SAMPLE_MODE, "sample mode", timing("", 4000, 10280, 10178)},
        {"buffer 0", ARTSIM_ERR_BUFFER_SIZE, "samples per channel",
         timing("", 4000, 10280, 10123, 0)},
        {"event type 2", ARTSIM_ERR_EVENT_TYPE, "event type", everyN(2, 100, 0)},
        {"every 0", ARTSIM_ERR_EVENT_COUNT, "sample count", everyN(1, 0, 0)},
        {"event options", ARTSIM_ERR_OPTIONS, "options", everyN(1, 100, 1)},
        {"event callback null", ARTSIM_ERR_NULL_ARGUMENT, "callback", everyN(1, 100, 0, nullptr)},
        {"event twice", ARTSIM_ERR_ALREADY_REGISTERED, "already registered",
         [](ArtDaqTask t) { return everyN(1, 100, 0)(t) < 0 ? -1 : everyN(1, 100, 0)(t); }},
        {"done options", ARTSIM_ERR_OPTIONS, "options",
         [](ArtDaqTask t) { return ArtDAQ_RegisterDoneEvent(t, 2, onDone, nullptr); }},
        {"done callback null", ARTSIM_ERR_NULL_ARGUMENT, "callback",
         [](ArtDaqTask t) { return ArtDAQ_RegisterDoneEvent(t, 0, nullptr, nullptr); }},
        {"start without inputs", ARTSIM_ERR_NO_CHANNELS, "no channels",
         [](ArtDaqTask t) { return configureClock(t) < 0 ? -1 : ArtDAQ_StartTask(t); }},
        {"start without clock", ARTSIM_ERR_NO_TIMING, "clock",
         [](ArtDaqTask t) { return addChannel(t, 0) < 0 ? -1 : ArtDAQ_StartTask(t); }},
        {"start twice", ARTSIM_ERR_TASK_RUNNING, "running",
         [](ArtDaqTask t) {
             return fullSetup(t) < 0 || ArtDAQ_StartTask(t) < 0 ? -1 : ArtDAQ_StartTask(t);
         }},
        {"add input while running", ARTSIM_ERR_TASK_RUNNING, "running",
         [](ArtDaqTask t) {
             return fullSetup(t) < 0 || ArtDAQ_StartTask(t) < 0 ? -1 : addChannel(t, 5);
         }},
        {"inputs used by another task", ARTSIM_ERR_RESOURCE_BUSY, "Dev1/ai2",
         [](ArtDaqTask t) {
             ArtDaqTask other = startTask(nullptr, {2});
             const ArtDaqStatus s = fullSetup(t) < 0 ? -1 : ArtDAQ_StartTask(t);
             ArtDAQ_ClearTask(other);
             return s;
         }},
        {"read before start", ARTSIM_ERR_NOT_STARTED, "not been started", reading(false, -1)},
        {"read layout 0", ARTSIM_ERR_LAYOUT, "layout", reading(true, -1, 0, 0)},
        {"read null array", ARTSIM_ERR_NULL_ARGUMENT, "values",
         reading(true, -1, 0, 1, 800, NullArray)},
        {"read null count", ARTSIM_ERR_NULL_ARGUMENT, "valuesRead",
         reading(true, -1, 0, 1, 800, NullCount)},
        {"read reserved", ARTSIM_ERR_RESERVED, "reserved", reading(true, -1, 0, 1, 800, Reserved)},
        {"read count -2", ARTSIM_ERR_READ_COUNT, "samples per channel", reading(true, -2)},
        {"read timeout -2", ARTSIM_ERR_TIMEOUT_VALUE, "timeout", reading(true, -1, -2)},
        {"array below one scan", ARTSIM_ERR_ARRAY_TOO_SMALL, "too small",
         reading(true, -1, 0, 1, 3)},
        {"asks more than the array holds", ARTSIM_ERR_ARRAY_TOO_SMALL, "too small",
         reading(true, 201)},
        {"read times out", ARTSIM_ERR_READ_TIMEOUT, "timed out", reading(true, 10)},
    };
    return calls;
}

} // namespace

class TestArtDaqSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void contractCallsAndLog();
    void badArguments_data();
    void badArguments();
    void deadHandles_data();
    void deadHandles();
    void errorTextIsPerThreadAndTruncatedWhole_data();
    void errorTextIsPerThreadAndTruncatedWhole();
    void pumpDeliversScriptInOrderOnSamplingThread();
    void readCounts_data();
    void readCounts();
    void overrun_data();
    void overrun();
    void stallsAgainstTheBuffer_data();
    void stallsAgainstTheBuffer();
    void bursts_data();
    void bursts();
    void burstsInRealTime();
    void holdInCallback_data();
    void holdInCallback();
    void failRules_data();
    void failRules();
    void readErrorAndOverrunRules_data();
    void readErrorAndOverrunRules();
    void stopOrClearInsideCallback_data();
    void stopOrClearInsideCallback();
    void stopWaitsForCallbackInFlight_data();
    void stopWaitsForCallbackInFlight();
    void stormOfStartsStopsAndClears();
    void configuration_data();
    void configuration();
    void numbersIgnoreLocale();
    void rigSignal();
    void ccRigShape_data();
    void ccRigShape();
    void realTimeClock();
};

void TestArtDaqSim::init()
{
    ArtSim_Configure(""); // defaults, whatever ARTDAQ_SIM holds
    ArtSim_SetManualClock(1);
}

void TestArtDaqSim::contractCallsAndLog()
{
    Recorder r;
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    QCOMPARE(ArtSim_LiveTasks(), 1);
    QCOMPARE(ArtSim_Pump(100), 1);
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
    QCOMPARE(ArtSim_LiveTasks(), 0);
    const QStringList expected = {
        R"(ArtDAQ_CreateTask("", T1) = 0)",
        R"(ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai0", "", -1, -10, 10, 10348, NULL) = 0)",
        R"(ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai1", "", -1, -10, 10, 10348, NULL) = 0)",
        R"(ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai2", "", -1, -10, 10, 10348, NULL) = 0)",
        R"(ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai3", "", -1, -10, 10, 10348, NULL) = 0)",
        R"(ArtDAQ_CfgSampClkTiming(T1, "", 4000, 10280, 10123, 1000) = 0)",
        R"(ArtDAQ_RegisterEveryNSamplesEvent(T1, 1, 100, 0, ptr, ptr) = 0)",
        R"(ArtDAQ_RegisterDoneEvent(T1, 0, ptr, ptr) = 0)",
        R"(ArtDAQ_StartTask(T1) = 0)",
        R"(ArtDAQ_ReadAnalogF64(T1, -1, 10, 1, ptr, 800, ptr, NULL) = 0)",
        R"(ArtDAQ_StopTask(T1) = 0)",
        R"(ArtDAQ_ClearTask(T1) = 0)",
        "",
    };
    QCOMPARE(callLog().split('\n'), expected);
    QCOMPARE(r.eventType, ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER);
    QCOMPARE(r.eventCount, 100u);
    QCOMPARE(r.readCounts, std::vector<int32_t>{400});

    // A reset forgets handles and log; numbering starts again.
    ArtSim_Reset();
    QCOMPARE(callLog(), QString());
    ArtDaqTask again = nullptr;
    QCOMPARE(ArtDAQ_CreateTask("", &again), 0);
    QVERIFY(again != task); // handles are never reused
    QCOMPARE(callLog(), QString(R"(ArtDAQ_CreateTask("", T1) = 0)"
                                "\n"));
    QCOMPARE(ArtDAQ_StartTask(task), ARTSIM_ERR_INVALID_HANDLE);
    QVERIFY(callLog().endsWith("ArtDAQ_StartTask((invalid)) = -1001\n"));
}

void TestArtDaqSim::badArguments_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < badCalls().size(); ++i)
        QTest::newRow(badCalls()[i].name) << static_cast<int>(i);
}

void TestArtDaqSim::badArguments()
{
    QFETCH(int, index);
    const BadCall &c = badCalls()[static_cast<std::size_t>(index)];
    ArtDaqTask task = nullptr;
    QCOMPARE(ArtDAQ_CreateTask("", &task), 0);
    const ArtDaqStatus status = c.call(task);
    const QString text = lastError();
    QCOMPARE(status, c.expected);
    QVERIFY2(text.contains(QLatin1String(c.english)), qPrintable(text));
    verifyBilingual(text);
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
    QCOMPARE(ArtSim_LiveTasks(), 0);
}

void TestArtDaqSim::deadHandles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("null") << "null";
    QTest::newRow("never issued") << "made up";
    QTest::newRow("cleared") << "cleared";
    QTest::newRow("cleared while running") << "cleared running";
    QTest::newRow("from before a reset") << "reset";
}

void TestArtDaqSim::deadHandles()
{
    QFETCH(QString, kind);
    int local = 0;
    ArtDaqTask task = nullptr;
    Recorder r;
    if (kind == "made up") {
        task = &local;
    } else if (kind != "null") {
        task = startTask(&r);
        QVERIFY(task);
        if (kind == "cleared running")
            QCOMPARE(ArtSim_Pump(100), 1);
        if (kind == "reset")
            ArtSim_Reset();
        else
            QCOMPARE(ArtDAQ_ClearTask(task), 0);
    }
    QCOMPARE(ArtSim_LiveTasks(), 0);
    ArtSim_SetManualClock(1);
    QCOMPARE(ArtSim_Pump(100), 0); // no callback of the dead task
    double values[800];
    int32_t count = 7;
    const std::vector<std::function<ArtDaqStatus()>> calls = {
        [&] { return addChannel(task, 4); },
        [&] { return configureClock(task); },
        [&] { return ArtDAQ_RegisterEveryNSamplesEvent(task, 1, 100, 0, onEvent, &r); },
        [&] { return ArtDAQ_RegisterDoneEvent(task, 0, onDone, &r); },
        [&] { return ArtDAQ_StartTask(task); },
        [&] { return ArtDAQ_ReadAnalogF64(task, -1, 10, 1, values, 800, &count, nullptr); },
        [&] { return ArtDAQ_StopTask(task); },
        [&] { return ArtDAQ_ClearTask(task); },
    };
    for (const auto &call : calls) {
        QCOMPARE(call(), ARTSIM_ERR_INVALID_HANDLE);
        QCOMPARE(lastError(), QString::fromUtf8("无效的任务句柄 / invalid task handle"));
    }
    QCOMPARE(count, 0);
}

void TestArtDaqSim::errorTextIsPerThreadAndTruncatedWhole_data()
{
    QTest::addColumn<bool>("gbk");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<int>("kept"); // characters left whole in the short buffer
    // UTF-8: three bytes a character; GBK: two.
    QTest::newRow("UTF-8, 8 bytes") << false << 8 << 2;
    QTest::newRow("UTF-8, 6 bytes") << false << 6 << 1;
    QTest::newRow("GBK, 8 bytes") << true << 8 << 3;
    QTest::newRow("GBK, 6 bytes") << true << 6 << 2;
}

void TestArtDaqSim::errorTextIsPerThreadAndTruncatedWhole()
{
    QFETCH(bool, gbk);
    QFETCH(int, bufferSize);
    QFETCH(int, kept);
    // Qt knows GBK through ICU or iconv; a Qt built without both (the
    // Windows cross-build) does not, and the program reads the card's texts
    // through the system's code page there.
    if (!QStringDecoder("GBK").isValid())
        QSKIP("this Qt has no GBK decoder");
    ArtSim_SetErrorTextGbk(gbk);
    const auto decode = [gbk](const QByteArray &bytes) -> QString {
        QStringDecoder decoder = gbk ? QStringDecoder("GBK") : QStringDecoder(QStringDecoder::Utf8);
        return decoder(bytes);
    };
    const auto errorBytes = [] {
        char buffer[2048] = {};
        ArtDAQ_GetExtendedErrorInfo(buffer, sizeof buffer);
        return QByteArray(buffer);
    };
    QCOMPARE(ArtDAQ_StartTask(nullptr), ARTSIM_ERR_INVALID_HANDLE);
    QByteArray other = "unset";
    ArtDaqStatus otherStatus = 0;
    std::thread([&] {
        otherStatus = ArtDAQ_CreateTask("", nullptr);
        other = errorBytes();
    }).join();
    QCOMPARE(otherStatus, ARTSIM_ERR_NULL_ARGUMENT);
    QVERIFY(decode(other).contains("null pointer"));
    const QString text = QString::fromUtf8("无效的任务句柄 / invalid task handle");
    const QByteArray full = errorBytes();
    QCOMPARE(decode(full), text);
    QCOMPARE(full.isValidUtf8(), !gbk);

    // The size asked for, and a short buffer cut before a whole character.
    QCOMPARE(ArtDAQ_GetExtendedErrorInfo(nullptr, 0), full.size() + 1);
    std::vector<char> buffer(static_cast<std::size_t>(bufferSize), 'x');
    QCOMPARE(ArtDAQ_GetExtendedErrorInfo(buffer.data(), static_cast<uint32_t>(bufferSize)), 0);
    QCOMPARE(decode(QByteArray(buffer.data())), text.left(kept));
}

void TestArtDaqSim::pumpDeliversScriptInOrderOnSamplingThread()
{
    // Scan k holds k + c/10 on input c: order and interleaving are visible.
    const int scriptScans = 250;
    std::vector<double> script;
    for (int k = 0; k < scriptScans; ++k)
        for (int c = 0; c < 4; ++c)
            script.push_back(k * 0.01 + c * 0.001);
    ArtSim_SetScript(script.data(), scriptScans);
    Recorder r;
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    QCOMPARE(ArtSim_Pump(250), 2);
    QCOMPARE(ArtSim_Pump(49), 0); // 299 scans: the third block is not complete yet
    QCOMPARE(ArtSim_Pump(1), 1);
    QCOMPARE(ArtSim_Pump(0), 0);
    QCOMPARE(r.events, 3);
    QCOMPARE(r.readCounts, (std::vector<int32_t>{400, 400, 400}));
    // Every read takes what is in: at the third block 50 + 49 + 1 scans.
    QCOMPARE(r.values.size(), std::size_t(1200));
    for (int k = 0; k < 300; ++k)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(r.values[static_cast<std::size_t>(k * 4 + c)],
                     script[static_cast<std::size_t>((k % scriptScans) * 4 + c)]);
    const std::thread::id sampler = r.threads.front();
    QVERIFY(sampler != std::this_thread::get_id());
    for (const auto &id : r.threads)
        QVERIFY(id == sampler);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);

    // A pump needs the manual clock, and runs only started tasks.
    ArtSim_SetManualClock(0);
    QCOMPARE(ArtSim_Pump(100), -1);
}

void TestArtDaqSim::readCounts_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("pumped");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("perChannel");
    QTest::addColumn<int>("first");    // values written
    QTest::addColumn<int>("second");   // a second read with -1 and the same array
    QTest::addColumn<bool>("inScans"); // the option that counts scans, not values

    QTest::newRow("one block") << 4 << 100 << 800 << -1 << 400 << 0 << false;
    QTest::newRow("two and a half blocks") << 4 << 250 << 800 << -1 << 800 << 200 << false;
    QTest::newRow("capacity not a whole scan") << 4 << 100 << 802 << -1 << 400 << 0 << false;
    QTest::newRow("capacity one value short") << 4 << 100 << 399 << -1 << 396 << 4 << false;
    QTest::newRow("nothing in yet") << 4 << 0 << 800 << -1 << 0 << 0 << false;
    QTest::newRow("two inputs") << 2 << 100 << 800 << -1 << 200 << 0 << false;
    QTest::newRow("eight inputs") << 8 << 150 << 800 << -1 << 800 << 400 << false;
    QTest::newRow("fixed count") << 4 << 100 << 800 << 30 << 120 << 280 << false;
    QTest::newRow("fixed count 0") << 4 << 100 << 800 << 0 << 0 << 400 << false;
    QTest::newRow("count in scans") << 4 << 250 << 800 << -1 << 800 << 200 << true;
    QTest::newRow("count in scans, fixed") << 4 << 100 << 800 << 30 << 120 << 280 << true;
}

void TestArtDaqSim::readCounts()
{
    QFETCH(int, channels);
    QFETCH(int, pumped);
    QFETCH(int, capacity);
    QFETCH(int, perChannel);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(bool, inScans);
    const double volts[4] = {1.5, 2.5, 3.5, 4.5};
    ArtSim_SetConstantSignal(volts);
    ArtSim_SetReadCountInScans(inScans);
    const int perCount = inScans ? channels : 1; // values per unit of the count
    std::vector<int> ais;
    for (int i = 0; i < channels; ++i)
        ais.push_back(i);
    ArtDaqTask task = startTask(nullptr, ais);
    QVERIFY(task);
    QCOMPARE(ArtSim_Pump(pumped), 0);
    std::vector<double> values(static_cast<std::size_t>(capacity), -99.0);
    int32_t count = -1;
    QCOMPARE(readInto(task, values, count, perChannel), 0);
    QCOMPARE(count * perCount, first);
    for (int i = 0; i < first; ++i)
        QCOMPARE(values[static_cast<std::size_t>(i)], i % channels < 4 ? volts[i % channels] : 0.0);
    if (first < capacity) // nothing written past the values read
        QCOMPARE(values[static_cast<std::size_t>(first)], -99.0);
    QCOMPARE(readInto(task, values, count), 0);
    QCOMPARE(count * perCount, second);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
}

void TestArtDaqSim::overrun_data()
{
    QTest::addColumn<bool>("reads");
    QTest::addColumn<int>("pumped");
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("overrun");
    // The ring holds 1000 scans: the 1001st unread scan overflows it.
    QTest::newRow("reader keeps up") << true << 5000 << 50 << false;
    QTest::newRow("no reader, ring just full") << false << 1000 << 10 << false;
    QTest::newRow("no reader, one scan more") << false << 1001 << 10 << true;
}

void TestArtDaqSim::overrun()
{
    QFETCH(bool, reads);
    QFETCH(int, pumped);
    QFETCH(int, events);
    QFETCH(bool, overrun);
    Recorder r;
    r.read = reads;
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    QCOMPARE(ArtSim_Pump(pumped), events);
    QCOMPARE(r.doneCalls, overrun ? 1 : 0);
    std::vector<double> values(800);
    int32_t count = 0;
    if (overrun) {
        QCOMPARE(r.doneStatus, ARTSIM_ERR_OVERRUN);
        QVERIFY(r.doneThread != std::this_thread::get_id());
        QVERIFY2(r.doneError.contains("overrun"), qPrintable(r.doneError));
        verifyBilingual(r.doneError);
        // The task has ended: reads report the overrun, pumps reach it no more.
        QCOMPARE(readInto(task, values, count), ARTSIM_ERR_OVERRUN);
        QCOMPARE(ArtSim_Pump(100), 0);
        QCOMPARE(r.events, events);
        // It can be started again.
        QCOMPARE(ArtDAQ_StopTask(task), 0);
        QCOMPARE(ArtDAQ_StartTask(task), 0);
        QCOMPARE(ArtSim_Pump(100), 1);
    } else {
        QCOMPARE(readInto(task, values, count), 0);
    }
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
}

// Scan k holds (k mod 4000) / 1000 V on ai0, so any scan lost or repeated shows.
void setCountingScript()
{
    std::vector<double> script(4 * 4000, 0.0);
    for (int k = 0; k < 4000; ++k)
        script[static_cast<std::size_t>(4 * k)] = k / 1000.0;
    ArtSim_SetScript(script.data(), 4000);
}

// The index of the first scan that does not follow the one before it, or -1.
int firstGap(const std::vector<double> &values)
{
    for (std::size_t k = 0; 4 * k < values.size(); ++k)
        if (values[4 * k] != static_cast<double>(k % 4000) / 1000.0)
            return static_cast<int>(k);
    return -1;
}

void TestArtDaqSim::stallsAgainstTheBuffer_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<bool>("overrun");
    // The program's buffer of 1000 scans lasts a quarter second at 4000 scans/s;
    // with a faster clock it grows to last as long.
    QTest::newRow("50 ms") << 1.0 << 50 << false;
    QTest::newRow("600 ms") << 1.0 << 600 << true;
    QTest::newRow("50 ms, 16 times fast") << 16.0 << 50 << false;
    QTest::newRow("600 ms, 16 times fast") << 16.0 << 600 << true;
}

void TestArtDaqSim::stallsAgainstTheBuffer()
{
    // The first callback reads its block, then takes stallMs; the clock goes on.
    QFETCH(double, rate);
    QFETCH(int, stallMs);
    QFETCH(bool, overrun);
    setCountingScript();
    ArtSim_SetManualClock(0);
    ArtSim_SetRate(rate);
    Recorder r;
    std::atomic<bool> stalled{false};
    r.inEvent = [&](ArtDaqTask) {
        if (!stalled.exchange(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
    };
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    std::this_thread::sleep_for(std::chrono::milliseconds(stallMs + 200));
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    std::lock_guard<std::mutex> lk(r.mu);
    QCOMPARE(r.doneCalls, overrun ? 1 : 0);
    QCOMPARE(firstGap(r.values), -1);
    QVERIFY(std::all_of(r.readStatus.begin(), r.readStatus.end(),
                        [](ArtDaqStatus status) { return status == 0; }));
    const double scansInStall = 4000 * rate * stallMs / 1000.0;
    if (overrun) {
        QCOMPARE(r.doneStatus, ARTSIM_ERR_OVERRUN);
        QVERIFY2(r.doneError.contains("overrun"), qPrintable(r.doneError));
        QCOMPARE(r.events, 1); // nothing after the stalled block
    } else {
        // The scans of the stall came afterwards, back to back.
        QVERIFY2(static_cast<double>(r.values.size()) / 4 > scansInStall,
                 qPrintable(QString::number(r.values.size() / 4)));
    }
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
}

void TestArtDaqSim::bursts_data()
{
    QTest::addColumn<int>("burst");
    QTest::addColumn<QList<int>>("pumps");
    QTest::addColumn<QList<int>>("fired"); // every-N callbacks of each pump
    QTest::addColumn<bool>("overrun");
    QTest::newRow("one block each") << 1 << QList<int>{250, 50} << QList<int>{2, 1} << false;
    QTest::newRow("three") << 3 << QList<int>{250, 50, 299, 1, 600} << QList<int>{0, 3, 0, 3, 6}
                           << false;
    // The buffer of 1000 scans takes ten blocks of 100; one more overruns.
    QTest::newRow("ten") << 10 << QList<int>{1000, 1000} << QList<int>{10, 10} << false;
    QTest::newRow("eleven") << 11 << QList<int>{1100} << QList<int>{0} << true;
}

void TestArtDaqSim::bursts()
{
    QFETCH(int, burst);
    QFETCH(QList<int>, pumps);
    QFETCH(QList<int>, fired);
    QFETCH(bool, overrun);
    QCOMPARE(ArtSim_Configure(qPrintable(QString("burst=%1").arg(burst))), 0);
    ArtSim_SetManualClock(1);
    setCountingScript();
    Recorder r;
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    QList<int> got;
    for (int scans : pumps)
        got << ArtSim_Pump(scans);
    QCOMPARE(got, fired);
    QCOMPARE(r.doneCalls, overrun ? 1 : 0);
    QCOMPARE(firstGap(r.values), -1);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
}

void TestArtDaqSim::burstsInRealTime()
{
    // Bursts of four: the first callback comes when four blocks are in (100 ms),
    // and reads all that its array holds (200 scans); no scan is lost.
    setCountingScript();
    ArtSim_SetBurst(4);
    ArtSim_SetManualClock(0);
    Recorder r;
    QElapsedTimer sinceStart;
    std::atomic<qint64> firstMs{-1};
    r.inEvent = [&](ArtDaqTask) {
        qint64 unset = -1;
        firstMs.compare_exchange_strong(unset, sinceStart.elapsed());
    };
    sinceStart.start();
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
    QVERIFY2(firstMs >= 99, qPrintable(QString::number(firstMs)));
    QVERIFY2(r.events >= 8, qPrintable(QString::number(r.events)));
    QCOMPARE(r.readCounts.front(), 800);
    QCOMPARE(firstGap(r.values), -1);
    QCOMPARE(r.doneCalls, 0);
}

void TestArtDaqSim::holdInCallback_data()
{
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("after");
    QTest::newRow("before the read") << "ArtDAQ_ReadAnalogF64" << false;
    QTest::newRow("after the clear") << "ArtDAQ_ClearTask" << true;
}

void TestArtDaqSim::holdInCallback()
{
    // The callback reads, then clears its task; the test holds its thread.
    QFETCH(QString, function);
    QFETCH(bool, after);
    Recorder r;
    std::atomic<bool> returned{false};
    r.inEvent = [&](ArtDaqTask t) {
        ArtDAQ_ClearTask(t);
        returned = true;
    };
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    ArtSim_HoldCallback(function.toUtf8().constData(), after);
    std::atomic<int> pumped{-2};
    std::thread pump([&] { pumped = ArtSim_Pump(100); });
    QCOMPARE(ArtSim_WaitHeld(10000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QVERIFY(!returned);
    QCOMPARE(pumped.load(), -2);
    // Held just before or just after the call: its log line shows which.
    QCOMPARE(callLog().contains(function + "(T1"), after);
    ArtSim_Release();
    pump.join();
    QVERIFY(returned);
    QCOMPARE(pumped.load(), 1);
    QCOMPARE(ArtSim_WaitHeld(0), 0);
    QCOMPARE(ArtSim_LiveTasks(), 0);
}

void TestArtDaqSim::failRules_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("function"); // via ArtSim_FailCall when not empty
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("failing"); // the function whose k-th call fails
    const char *names[] = {"ArtDAQ_CreateTask",        "ArtDAQ_CreateAIVoltageChan",
                           "ArtDAQ_CfgSampClkTiming",  "ArtDAQ_RegisterEveryNSamplesEvent",
                           "ArtDAQ_RegisterDoneEvent", "ArtDAQ_StartTask",
                           "ArtDAQ_ReadAnalogF64",     "ArtDAQ_StopTask",
                           "ArtDAQ_ClearTask",         "ArtDAQ_GetExtendedErrorInfo"};
    int k = 1;
    for (const char *name : names) {
        k = k % 3 + 1;
        const QString settings = QString("fail=%1#%2").arg(name).arg(k);
        QTest::newRow(qPrintable(settings))
            << settings << QString() << 0 << QString(name) + "#" + QString::number(k);
    }
    QTest::newRow("ArtSim_FailCall StartTask 2") << ""
                                                 << "ArtDAQ_StartTask" << 2 << "ArtDAQ_StartTask#2";
    QTest::newRow("ArtSim_FailCall ReadAnalogF64 5")
        << ""
        << "ArtDAQ_ReadAnalogF64" << 5 << "ArtDAQ_ReadAnalogF64#5";
}

void TestArtDaqSim::failRules()
{
    QFETCH(QString, settings);
    QFETCH(QString, function);
    QFETCH(int, k);
    QFETCH(QString, failing);
    QCOMPARE(ArtSim_Configure(settings.toUtf8().constData()), 0);
    ArtSim_SetManualClock(1);
    if (!function.isEmpty())
        ArtSim_FailCall(function.toUtf8().constData(), k);
    // Three rounds of the program's whole cycle, carrying on after failures.
    for (int round = 0; round < 3; ++round) {
        Recorder r;
        ArtDaqTask task = nullptr;
        if (ArtDAQ_CreateTask("", &task) < 0) {
            QVERIFY(!task);
            continue;
        }
        for (int ai = 0; ai < 4; ++ai)
            addChannel(task, ai);
        configureClock(task);
        ArtDAQ_RegisterEveryNSamplesEvent(task, 1, 100, 0, onEvent, &r);
        ArtDAQ_RegisterDoneEvent(task, 0, onDone, &r);
        ArtDAQ_StartTask(task);
        ArtSim_Pump(200);
        lastError();
        ArtDAQ_StopTask(task);
        if (ArtDAQ_ClearTask(task) < 0)
            QCOMPARE(ArtDAQ_ClearTask(task), 0); // a failed clear leaves the task
    }
    QCOMPARE(ArtSim_LiveTasks(), 0);
    // Exactly one call failed, the chosen one, with the simulated-failure text.
    const QStringList lines = callLog().split('\n', Qt::SkipEmptyParts);
    const QString name = failing.section('#', 0, 0);
    const int nth = failing.section('#', 1).toInt();
    int calls = 0, failures = 0;
    for (const QString &line : lines) {
        const bool failed = line.endsWith(" = " + QString::number(ARTSIM_ERR_INJECTED));
        failures += failed;
        if (line.startsWith(name + "(") && ++calls == nth)
            QVERIFY2(failed, qPrintable(line));
    }
    QCOMPARE(failures, 1);
}

void TestArtDaqSim::readErrorAndOverrunRules_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("pumped");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("goodReads");
    QTest::addColumn<bool>("done");
    QTest::newRow("reads fail after 2") << "readerror=after:2" << 500 << 5 << 2 << false;
    QTest::newRow("reads fail at once") << "readerror=after:0" << 200 << 2 << 0 << false;
    QTest::newRow("overrun after 3 blocks") << "overrun=after:3" << 500 << 3 << 3 << true;
    QTest::newRow("overrun at the first block") << "overrun=after:0" << 500 << 0 << 0 << true;
    QTest::newRow("overrun rule, 3 blocks only") << "overrun=after:3" << 300 << 3 << 3 << false;
}

void TestArtDaqSim::readErrorAndOverrunRules()
{
    QFETCH(QString, settings);
    QFETCH(int, pumped);
    QFETCH(int, events);
    QFETCH(int, goodReads);
    QFETCH(bool, done);
    QCOMPARE(ArtSim_Configure(settings.toUtf8().constData()), 0);
    ArtSim_SetManualClock(1);
    for (int run = 0; run < 2; ++run) { // the rules count per start of a task
        Recorder r;
        ArtDaqTask task = startTask(&r);
        QVERIFY(task);
        QCOMPARE(ArtSim_Pump(pumped), events);
        QCOMPARE(r.doneCalls, done ? 1 : 0);
        if (done)
            QCOMPARE(r.doneStatus, ARTSIM_ERR_OVERRUN);
        QCOMPARE(static_cast<int>(r.readStatus.size()), events);
        for (int i = 0; i < events; ++i) {
            QCOMPARE(r.readStatus[static_cast<std::size_t>(i)],
                     i < goodReads ? 0 : ARTSIM_ERR_READ_FAILED);
            if (i >= goodReads) {
                QVERIFY(r.readErrors[static_cast<std::size_t>(i)].contains("read failed"));
                QCOMPARE(r.readCounts[static_cast<std::size_t>(i)], 0);
            }
        }
        QCOMPARE(ArtDAQ_StopTask(task), 0);
        QCOMPARE(ArtDAQ_ClearTask(task), 0);
    }
}

void TestArtDaqSim::stopOrClearInsideCallback_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<bool>("clear");
    // The program's paths: stop and clear on a read error, clear when done with an error.
    QTest::newRow("event: stop") << "event" << true << false;
    QTest::newRow("event: clear") << "event" << false << true;
    QTest::newRow("event: stop and clear") << "event" << true << true;
    QTest::newRow("done: clear") << "done" << false << true;
    QTest::newRow("done: stop and clear") << "done" << true << true;
}

void TestArtDaqSim::stopOrClearInsideCallback()
{
    QFETCH(QString, where);
    QFETCH(bool, stop);
    QFETCH(bool, clear);
    std::vector<ArtDaqStatus> statuses;
    const auto end = [&](ArtDaqTask t) {
        if (stop)
            statuses.push_back(ArtDAQ_StopTask(t));
        if (clear)
            statuses.push_back(ArtDAQ_ClearTask(t));
        statuses.push_back(ArtDAQ_StopTask(t)); // once more, as a late stop would
    };
    Recorder r;
    if (where == "event")
        r.inEvent = end;
    else
        r.inDone = end;
    if (where == "done")
        ArtSim_SetOverrunAfter(1);
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    QCOMPARE(ArtSim_Pump(500), 1); // returns: no deadlock; nothing after the end
    QCOMPARE(r.doneCalls, where == "done" ? 1 : 0);
    std::vector<ArtDaqStatus> expected;
    if (stop)
        expected.push_back(0);
    if (clear)
        expected.push_back(0);
    expected.push_back(clear ? ARTSIM_ERR_INVALID_HANDLE : 0);
    QCOMPARE(statuses, expected);
    QCOMPARE(ArtSim_LiveTasks(), clear ? 0 : 1);
    QCOMPARE(ArtSim_Pump(500), 0);
    if (clear) {
        QCOMPARE(ArtDAQ_StopTask(task), ARTSIM_ERR_INVALID_HANDLE);
        QCOMPARE(ArtDAQ_ClearTask(task), ARTSIM_ERR_INVALID_HANDLE);
    } else {
        r.inEvent = nullptr;
        QCOMPARE(ArtDAQ_StartTask(task), 0); // a stopped task starts again
        QCOMPARE(ArtSim_Pump(200), 2);
        QCOMPARE(ArtDAQ_ClearTask(task), 0);
    }
}

void TestArtDaqSim::stopWaitsForCallbackInFlight_data()
{
    QTest::addColumn<bool>("clear");
    QTest::addColumn<bool>("inDone");
    QTest::newRow("stop, event in flight") << false << false;
    QTest::newRow("clear, event in flight") << true << false;
    QTest::newRow("clear, done in flight") << true << true;
}

void TestArtDaqSim::stopWaitsForCallbackInFlight()
{
    QFETCH(bool, clear);
    QFETCH(bool, inDone);
    std::atomic<bool> entered{false}, left{false}, late{false}, finished{false};
    std::atomic<ArtDaqStatus> ownStatus{1};
    Recorder r;
    const auto slow = [&](ArtDaqTask t) {
        if (finished)
            late = true;
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The handle stays valid for the callback in flight...
        double values[800];
        int32_t n = 0;
        ownStatus = ArtDAQ_ReadAnalogF64(t, -1, 0, 1, values, 800, &n, nullptr);
        // ...and its own clear, racing the other thread's, is harmless.
        if (inDone)
            ArtDAQ_ClearTask(t);
        left = true;
    };
    if (inDone) {
        r.inDone = slow;
        ArtSim_SetOverrunAfter(0);
    } else {
        r.inEvent = slow;
    }
    ArtDaqTask task = startTask(&r);
    QVERIFY(task);
    std::thread pump([] { ArtSim_Pump(300); });
    while (!entered)
        std::this_thread::yield();
    const ArtDaqStatus status = clear ? ArtDAQ_ClearTask(task) : ArtDAQ_StopTask(task);
    QVERIFY(left); // waited for the callback
    finished = true;
    pump.join();
    QCOMPARE(status, 0);
    QVERIFY(!late);
    QCOMPARE(r.events, inDone ? 0 : 1);
    if (!inDone)
        QCOMPARE(ownStatus.load(), 0);
    QCOMPARE(ArtDAQ_ClearTask(task), clear ? ARTSIM_ERR_INVALID_HANDLE : 0);
}

void TestArtDaqSim::stormOfStartsStopsAndClears()
{
    // Real-time clock, 20 times fast: 800 blocks a second per task. Four
    // workers start and end tasks; a fifth thread stops and clears their
    // handles at random; callbacks end their own tasks on read errors. No
    // callback may run after a Stop or Clear of its task returned.
    ArtSim_SetManualClock(0);
    ArtSim_SetRate(20);
    ArtSim_SetReadErrorAfter(30);
    struct Slot
    {
        std::atomic<ArtDaqTask> handle{nullptr};
    };
    Slot published[4];
    std::atomic<bool> running{true};
    std::atomic<int> violations{0}, blocks{0}, unexpected{0};
    struct Run
    {
        std::atomic<bool> over{false};
        std::atomic<int> *violations;
        std::atomic<int> *blocks;
    };
    const ArtDaqEveryNSamplesCallback event = [](ArtDaqTask t, int32_t, uint32_t,
                                                 void *data) -> ArtDaqStatus {
        auto *run = static_cast<Run *>(data);
        if (run->over)
            ++*run->violations;
        ++*run->blocks;
        double values[800];
        int32_t n = 0;
        if (ArtDAQ_ReadAnalogF64(t, -1, 10, 1, values, 800, &n, nullptr) < 0) {
            char text[2048] = {};
            ArtDAQ_GetExtendedErrorInfo(text, sizeof text);
            ArtDAQ_StopTask(t);
            ArtDAQ_ClearTask(t);
        }
        return 0;
    };
    const auto ok = [&](ArtDaqStatus s) {
        if (s != 0 && s != ARTSIM_ERR_INVALID_HANDLE)
            ++unexpected;
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w) {
        threads.emplace_back([&, w] {
            std::mt19937 random(static_cast<unsigned>(w));
            while (running) {
                Run run;
                run.violations = &violations;
                run.blocks = &blocks;
                ArtDaqTask task = nullptr;
                ok(ArtDAQ_CreateTask("", &task));
                ok(addChannel(task, 2 * w));
                ok(addChannel(task, 2 * w + 1));
                ok(configureClock(task));
                ok(ArtDAQ_RegisterEveryNSamplesEvent(task, 1, 100, 0, event, &run));
                ok(ArtDAQ_StartTask(task));
                published[w].handle = task;
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
                published[w].handle = nullptr;
                const ArtDaqStatus stopped = ArtDAQ_StopTask(task);
                ok(stopped);
                const ArtDaqStatus cleared = ArtDAQ_ClearTask(task);
                ok(cleared);
                run.over = true; // whatever the statuses, no callback may follow
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    threads.emplace_back([&] {
        std::mt19937 random(99);
        while (running) {
            ArtDaqTask t = published[random() % 4].handle;
            if (t)
                ok(random() % 2 ? ArtDAQ_StopTask(t) : ArtDAQ_ClearTask(t));
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    running = false;
    for (auto &t : threads)
        t.join();
    QCOMPARE(violations.load(), 0);
    QCOMPARE(unexpected.load(), 0);
    QVERIFY(blocks.load() > 0);
    QCOMPARE(ArtSim_LiveTasks(), 0);
}

void TestArtDaqSim::configuration_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("rejected");
    QTest::addColumn<QString>("described");
    const QString defaults = "signal=rig;seed=1;rate=1;readerror=never;overrun=never;burst=1;"
                             "count=values;errortext=utf8";
    QTest::newRow("empty") << "" << 0 << defaults;
    QTest::newRow("only separators and blanks") << " ; ;; " << 0 << defaults;
    QTest::newRow("all keys")
        << "signal=constant:1,2.5,-3,10; seed=42 ;rate=16;readerror=after:3;overrun=after:7;"
           "burst=4;count=scans;errortext=gbk;fail=ArtDAQ_StartTask#2;"
           "fail=ArtDAQ_ReadAnalogF64#10"
        << 0
        << "signal=constant:1,2.5,-3,10;seed=42;rate=16;readerror=after:3;overrun=after:7;"
           "burst=4;count=scans;errortext=gbk;fail=ArtDAQ_StartTask#2;"
           "fail=ArtDAQ_ReadAnalogF64#10";
    QTest::newRow("rig back") << "signal=constant:1,1,1,1;signal=rig" << 0 << defaults;
    QTest::newRow("fractional rate")
        << "rate=0.5" << 0 << QString(defaults).replace("rate=1", "rate=0.5");
    QTest::newRow("never") << "readerror=after:2;readerror=never" << 0 << defaults;
    const QString cc = "signal=cc;cc=ur:250,umin:50,ichg:200,idis:200,c:5,esr:0.05,leak:0,hold:2,"
                       "rest:2,noise:0.002,sign:positive;seed=1;";
    QTest::newRow("constant-current rig") << "signal=cc" << 0 << cc + defaults.mid(18);
    QTest::newRow("constant-current settings")
        << "signal=cc;cc= c:2.5 ,esr:0.02;cc=leak:1e4,hold:0,sign:none" << 0
        << QString(cc + defaults.mid(18))
               .replace("c:5,esr:0.05,leak:0,hold:2", "c:2.5,esr:0.02,leak:10000,hold:0")
               .replace("positive", "none");
    const QStringList bad = {"signal=noise",
                             "signal=constant:1,2,3",
                             "signal=constant:1,2,3,4,5",
                             "signal=constant:1,2,x,4",
                             "signal=constant:1,2,3,10.5",
                             "signal=constant:1,2,3,",
                             "cc=",
                             "cc=c:0",
                             "cc=c:5,",
                             "cc=idis:-200",
                             "cc=umin:240",
                             "cc=leak:1",
                             "cc=sign:up",
                             "cc=volume:3",
                             "seed=-1",
                             "seed=4294967296",
                             "seed=12abc",
                             "seed=",
                             "rate=0",
                             "rate=-2",
                             "rate=abc",
                             "rate=1,5",
                             "rate=nan",
                             "rate=2000",
                             "fail=ArtDAQ_Start#1",
                             "fail=ArtDAQ_StartTask",
                             "fail=ArtDAQ_StartTask#0",
                             "fail=ArtDAQ_StartTask#x",
                             "readerror=3",
                             "readerror=after:-1",
                             "overrun=after:",
                             "overrun=before:3",
                             "burst=0",
                             "burst=10001",
                             "burst=2.5",
                             "count=bytes",
                             "errortext=latin1",
                             "colour=blue",
                             "rate"};
    for (const QString &item : bad)
        QTest::newRow(qPrintable(item)) << item << 1 << defaults;
    QTest::newRow("bad items leave the good ones")
        << "seed=7;rate=fast;overrun=after:2;bogus" << 2
        << "signal=rig;seed=7;rate=1;readerror=never;overrun=after:2;burst=1;count=values;"
           "errortext=utf8";
}

void TestArtDaqSim::configuration()
{
    QFETCH(QString, settings);
    QFETCH(int, rejected);
    QFETCH(QString, described);
    QCOMPARE(ArtSim_Configure(settings.toUtf8().constData()), rejected);
    QCOMPARE(describe(), described);
    // A reset returns to it, after changes by the controls.
    ArtSim_SetRate(3);
    ArtSim_SetRigSignal(99);
    ArtSim_FailCall("ArtDAQ_ClearTask", 1);
    ArtSim_Reset();
    QCOMPARE(describe(), described);
}

void TestArtDaqSim::numbersIgnoreLocale()
{
    // A decimal comma in the C and C++ locales must change neither parsing nor the log.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const std::locale previousGlobal;
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("locale de_DE.UTF-8 is not installed");
    std::locale::global(std::locale("de_DE.UTF-8"));
    const int rejected = ArtSim_Configure("rate=0.5;signal=constant:1.5,0,0,-2.25");
    const QString described = describe();
    ArtDaqTask task = nullptr;
    ArtDAQ_CreateTask("", &task);
    ArtDAQ_CfgSampClkTiming(task, "", 2500.5, 10280, 10123, 1000);
    ArtDAQ_ClearTask(task);
    const QString log = callLog();
    std::locale::global(previousGlobal);
    std::setlocale(LC_ALL, previous.c_str());
    QCOMPARE(rejected, 0);
    QVERIFY2(described.startsWith("signal=constant:1.5,0,0,-2.25;seed=1;rate=0.5;"),
             qPrintable(described));
    QVERIFY2(log.contains(R"(ArtDAQ_CfgSampClkTiming(T1, "", 2500.5, 10280, 10123, 1000) = 0)"),
             qPrintable(log));
}

void TestArtDaqSim::rigSignal()
{
    // Ten seconds of the rig, through the interface, for two seeds.
    const auto record = [](uint32_t seed) {
        ArtSim_SetRigSignal(seed);
        ArtDaqTask task = startTask(nullptr);
        std::vector<double> all, values(4000);
        for (int i = 0; i < 40; ++i) {
            ArtSim_Pump(1000);
            int32_t n = 0;
            readInto(task, values, n);
            all.insert(all.end(), values.begin(), values.begin() + n);
        }
        ArtDAQ_ClearTask(task);
        return all;
    };
    const std::vector<double> a = record(5), b = record(5), c = record(6);
    QCOMPARE(a.size(), std::size_t(40000 * 4));
    QVERIFY(a == b); // deterministic from the seed
    QVERIFY(a != c);
    double lo[4] = {10, 10, 10, 10}, hi[4] = {0, 0, 0, 0};
    int chargeStarts = 0;
    for (std::size_t k = 0; k < a.size() / 4; ++k) {
        for (int ch = 0; ch < 4; ++ch) {
            const double v = a[k * 4 + static_cast<std::size_t>(ch)];
            lo[ch] = std::min(lo[ch], v);
            hi[ch] = std::max(hi[ch], v);
        }
        // Current switching on (I jumps from about 0 while U1 is low).
        if (k > 0 && a[(k - 1) * 4 + 1] < 0.5 && a[k * 4 + 1] > 2.0)
            ++chargeStarts;
    }
    for (int ch = 0; ch < 4; ++ch)
        QVERIFY(lo[ch] >= 0 && hi[ch] <= 10);
    QVERIFY2(hi[0] > 7.5 && hi[0] < 9.0 && lo[0] < 1.0, "U1 charges to about 8 V and discharges");
    QVERIFY2(chargeStarts >= 1 && chargeStarts <= 2, "a cycle of a few seconds");
    QVERIFY2(hi[1] > 2.5 && lo[1] < 0.05, "I: charge current, none while discharging");
    QVERIFY2(hi[2] - lo[2] < 1.0 && lo[2] > 1.0, "T drifts slowly");
    QVERIFY2(hi[3] - lo[3] < 0.15 && lo[3] > 5.0, "U2: a steady bus with ripple");
}

void TestArtDaqSim::ccRigShape_data()
{
    QTest::addColumn<QString>("settings"); // of cc=, noise off
    QTest::addColumn<double>("discharge"); // A, as read on ai1
    QTest::addColumn<double>("c");         // F
    QTest::addColumn<double>("esr");       // ohm
    QTest::newRow("defaults") << "" << 200.0 << 5.0 << 0.05;
    QTest::newRow("negative discharge current")
        << ",c:8,esr:0.03,idis:150,sign:negative" << -150.0 << 8.0 << 0.03;
    QTest::newRow("discharge current not measured") << ",sign:none" << 0.0 << 5.0 << 0.05;
}

void TestArtDaqSim::ccRigShape()
{
    // U1 = 50 x ai0 steps by I * ESR where the current switches and moves at
    // I / C in between; I = 100 x ai1, 200 A while charging.
    QFETCH(QString, settings);
    QFETCH(double, discharge);
    QFETCH(double, c);
    QFETCH(double, esr);
    QCOMPARE(ArtSim_Configure(("signal=cc;cc=noise:0" + settings).toUtf8().constData()), 0);
    ArtSim_SetManualClock(1);
    ArtDaqTask task = startTask(nullptr);
    std::vector<double> u, i, values(4000);
    for (int k = 0; k < 180; ++k) { // 45 s: a charge start and the whole cycle after it
        ArtSim_Pump(1000);
        int32_t n = 0;
        readInto(task, values, n);
        for (std::size_t v = 0; v < static_cast<std::size_t>(n); v += 4) {
            u.push_back(50 * values[v]);
            i.push_back(100 * values[v + 1]);
        }
    }
    ArtDAQ_ClearTask(task);
    std::size_t up = 1, down, back;
    while (up < u.size() && !(i[up - 1] < 1 && i[up] > 100 && u[up] > u[up - 1]))
        ++up;
    for (down = up + 1; down < u.size() && u[down] - u[down - 1] > -1;)
        ++down;
    for (back = down + 1; back < u.size() && u[back] - u[back - 1] < 1;)
        ++back;
    QVERIFY(back < u.size());
    const double drop = (discharge == 0 ? 200 : std::fabs(discharge)) * esr;
    const auto near = [](double a, double b) { return std::fabs(a - b) <= 0.005 * std::fabs(b); };
    QVERIFY2(near(u[up] - u[up - 1], 200 * esr), "charge start");
    QVERIFY2(near(u[down - 1] - u[down], drop) && near(u[back] - u[back - 1], drop), "discharge");
    QVERIFY2(near((u[up + 400] - u[up]) * 10, 200 / c), "charge slope");
    QVERIFY2(near((u[down] - u[down + 400]) * 10, drop / esr / c), "discharge slope");
    QVERIFY(std::fabs(u[down - 1] - 250) < 1e-9); // the hold
    QVERIFY(std::fabs(i[down + 1] - discharge) < 1e-9);
}

void TestArtDaqSim::realTimeClock()
{
    // 4000 scans/s: in 0.5 s about 20 blocks. Loose bounds for loaded machines.
    ArtSim_SetManualClock(0);
    std::atomic<int> events{0};
    const ArtDaqEveryNSamplesCallback count = [](ArtDaqTask t, int32_t, uint32_t,
                                                 void *data) -> ArtDaqStatus {
        double values[800];
        int32_t n = 0;
        ArtDAQ_ReadAnalogF64(t, -1, 10, 1, values, 800, &n, nullptr);
        ++*static_cast<std::atomic<int> *>(data);
        return 0;
    };
    ArtDaqTask task = nullptr;
    QCOMPARE(ArtDAQ_CreateTask("", &task), 0);
    for (int ai = 0; ai < 4; ++ai)
        QCOMPARE(addChannel(task, ai), 0);
    QCOMPARE(configureClock(task), 0);
    QCOMPARE(ArtDAQ_RegisterEveryNSamplesEvent(task, 1, 100, 0, count, &events), 0);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ArtDAQ_StartTask(task), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const double blocksPerSecond = events / seconds;
    QVERIFY2(blocksPerSecond > 25 && blocksPerSecond <= 41,
             qPrintable(QString::number(blocksPerSecond)));
    // Four times as fast with rate 4.
    events = 0;
    ArtSim_SetRate(4);
    timer.restart();
    QCOMPARE(ArtDAQ_StartTask(task), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QCOMPARE(ArtDAQ_StopTask(task), 0);
    const double fast = events / (static_cast<double>(timer.nsecsElapsed()) / 1e9);
    QVERIFY2(fast > 100 && fast <= 161, qPrintable(QString::number(fast)));
    QCOMPARE(ArtDAQ_ClearTask(task), 0);

    // A clock of one scan in years neither overflows its timing nor holds up Stop.
    QCOMPARE(ArtDAQ_CreateTask("", &task), 0);
    QCOMPARE(addChannel(task, 0), 0);
    QCOMPARE(ArtDAQ_CfgSampClkTiming(task, "", 1e-9, 10280, 10123, 1000), 0);
    QCOMPARE(ArtDAQ_StartTask(task), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    timer.restart();
    QCOMPARE(ArtDAQ_ClearTask(task), 0);
    QVERIFY(timer.elapsed() < 1000);
}

QTEST_GUILESS_MAIN(TestArtDaqSim)
#include "tst_artdaqsim.moc"
