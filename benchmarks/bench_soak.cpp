// Soak of the whole live path: the real window (offscreen), the stand-in card
// library on its real-time clock running rate times faster. Reports blocks
// delivered by the library against blocks processed by the window, how long
// blocks waited for the GUI thread, gaps in the stored samples, peak memory
// per stored point, the GUI thread's worst stall and the program's CPU use.
//
// The window writes the run to disk as it records it (into a temporary
// folder); at the end the recording is checked against the graphs.
//
// Optionally the window first opens a recording (File > open, through the
// real command) of `points` points per graph covering 2500 s:
//   overlap  0 .. 2500 s: every live point lands inside the recording;
//   append   -2500 .. 0 s: every live point comes after the recording's last.
//
//   bench_soak [seconds=300] [rate=16] [edit_sample: 1, 10, 100 or 1000; default 100]
//              [recording=none|overlap|append] [points per graph=1000000]
// Goals after opening a recording, in real time (rate 1) keeping every sample
// (bench_soak 120 1 1000 overlap 1000000): at 1 M points per graph at most
// 25 % of one core, no block waits more than 100 ms for the GUI thread, no
// stall over 150 ms; at 4 M points per graph at most 40 % of one core.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <vector>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "artsim.h"
#include "datafiles/datafile.h"
#include "cputime.h"
#include "dialoganswer.h"
#include "mainwindow/mainwindow.h"
#include "acquisition/liverun.h"
#include "datafiles/recorder.h"
#include "userfolders.h"
#include "windowtexts.h"

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When each delivered block was read: the callback hands it over right after.
std::mutex deliveredMutex;
std::deque<std::int64_t> deliveredAt;

} // namespace

#ifdef __linux__
#include <dlfcn.h>

// Counts what the library hands out: this definition takes the place of the
// library's read for the program's calls and forwards to it.
namespace {
std::atomic<long long> blocksDelivered{0};
std::atomic<long long> scansDelivered{0};
} // namespace

extern "C" ArtDaqStatus ArtDAQ_ReadAnalogF64(ArtDaqTask task, int32_t samplesPerChannel,
                                             double timeoutSeconds, int32_t layout, double *values,
                                             uint32_t arraySize, int32_t *valuesRead,
                                             int32_t *reserved)
{
    using Read = ArtDaqStatus (*)(ArtDaqTask, int32_t, double, int32_t, double *, uint32_t,
                                  int32_t *, int32_t *);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "ArtDAQ_ReadAnalogF64"));
    const ArtDaqStatus status = real(task, samplesPerChannel, timeoutSeconds, layout, values,
                                     arraySize, valuesRead, reserved);
    if (status >= 0 && valuesRead && *valuesRead > 0) {
        blocksDelivered.fetch_add(1);
        scansDelivered.fetch_add((*valuesRead + 3) / 4);
        const std::lock_guard<std::mutex> lock(deliveredMutex);
        deliveredAt.push_back(nowNs());
    }
    return status;
}
#endif

namespace {

// kB from /proc/self/status, 0 where there is none.
long long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(strlen(key))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// CPU seconds of the calling thread so far.
double threadCpuSeconds()
{
#ifdef Q_OS_UNIX
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
#else
    return 0;
#endif
}

// A recording of `points` points per channel over 2500 s from `first`, as
// saved by the program. U1 lies above 550 V, so it never looks like a live
// sample of the ramp below.
bool writeRecording(const QString &fileName, int points, double first)
{
    std::array<PointList, ChannelCount> channels;
    for (int c = 0; c < ChannelCount; ++c) {
        channels[c].resize(size_t(points));
        for (int k = 0; k < points; ++k) {
            const double key = first + 2500.0 * k / points;
            const double wave = std::sin(0.002 * k + c);
            const double value = c == ChannelU1 ? 600 + 50 * wave : 100.0 * c + 40 * wave;
            channels[c][size_t(k)] = {key, value};
        }
    }
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) &&
           writeDataFile(file, {channels[0], channels[1], channels[2], channels[3]});
}

// The machine's load: stalls on a busy machine are the scheduler's too.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().split(' ').value(0))
                                       : QStringLiteral("n/a");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    keepOutOfUserFolders();
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 16.0;
    const QString sampleText = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("100");
    if (acceptedSampleRate(sampleText) == 0) {
        std::fprintf(stderr, "bench_soak: edit_sample takes 1, 10, 100 or 1000\n");
        return 2;
    }
    const QByteArray recording = argc > 4 ? QByteArray(argv[4]) : QByteArray("none");
    const int recordingPoints = argc > 5 ? std::max(1, std::atoi(argv[5])) : 1000000;
    if (recording != "none" && recording != "overlap" && recording != "append") {
        std::fprintf(stderr, "recording: none, overlap or append\n");
        return 2;
    }

    // A ramp on U1 (0 .. 9.99 V in 1000 scans) makes every lost sample visible.
    ArtSim_Reset();
    ArtSim_SetRate(rate);
    std::vector<double> script(4 * 1000);
    for (int k = 0; k < 1000; ++k) {
        script[4 * k + 0] = k * 0.01;
        script[4 * k + 1] = 9.99 - k * 0.01;
        script[4 * k + 2] = 5.0 + 0.001 * (k % 7);
        script[4 * k + 3] = 7.0;
    }
    ArtSim_SetScript(script.data(), 1000);

    MainWindow w;
    QObject::connect(&w, &MainWindow::updateData, &w, &MainWindow::onUpdateData);
    w.resize(1200, 800);
    w.show();
    enterText(w.findChild<QLineEdit *>(QStringLiteral("edit_sample")), sampleText);
    w.liveRun().clear();
    const int interval = keepInterval(sampleText);

    int recorded = 0; // points per graph before acquisition
    if (recording != "none") {
        QTemporaryDir dir;
        const QString fileName = dir.filePath(QStringLiteral("recording.txt"));
        QElapsedTimer took;
        took.start();
        if (!writeRecording(fileName, recordingPoints, recording == "overlap" ? 0.0 : -2500.0)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(fileName));
            return 1;
        }
        const double written = took.elapsed() / 1000.0;
        took.start();
        {
            DialogAnswer answer(fileName);
            w.findChild<QAction *>(QStringLiteral("menu_open_data"))->trigger();
            waitForFileWork(w);
        }
        recorded = w.channelGraph(0)->dataCount();
        std::printf("Opened a recording of %d points per graph, %s s (written in %.1f s, opened "
                    "in %.1f s)\n",
                    recorded, recording == "overlap" ? "0 .. 2500" : "-2500 .. 0", written,
                    took.elapsed() / 1000.0);
    }

    // Each processed block: how long it waited for the GUI thread, from the
    // read in the callback to the end of processBlock.
    long long blocksProcessed = 0;
    std::vector<double> waitsMs;
    waitsMs.reserve(size_t(seconds * 40 * rate) + 100);
    QObject::connect(&w, &MainWindow::updateData, &w, [&] {
        ++blocksProcessed;
        const std::lock_guard<std::mutex> lock(deliveredMutex);
        if (!deliveredAt.empty()) {
            waitsMs.push_back((nowNs() - deliveredAt.front()) / 1e6);
            deliveredAt.pop_front();
        }
    });

    // The GUI thread's stalls: gaps between ticks of a 5 ms timer.
    QElapsedTimer sinceTick;
    double worstGapMs = 0;
    std::vector<double> gapsMs;
    gapsMs.reserve(size_t(seconds * 250));
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double gap = sinceTick.nsecsElapsed() / 1e6;
        worstGapMs = std::max(worstGapMs, gap);
        gapsMs.push_back(gap);
        sinceTick.start();
    });
    // What the redraw timer's replots cost, the largest known source of stalls.
    QCustomPlot *plot = w.channelGraph(0)->parentPlot();
    QElapsedTimer replotTimer;
    double worstReplotMs = 0, replotMsTotal = 0;
    long long replots = 0;
    QObject::connect(plot, &QCustomPlot::beforeReplot, [&] { replotTimer.start(); });
    QObject::connect(plot, &QCustomPlot::afterReplot, [&] {
        const double ms = replotTimer.nsecsElapsed() / 1e6;
        worstReplotMs = std::max(worstReplotMs, ms);
        replotMsTotal += ms;
        ++replots;
    });

    app.processEvents();
    const long long baseKb = statusKb("VmRSS:");
    std::printf("Soak: %.0f s wall, clock x%.1f (%.0f scans/s), edit_sample \"%s\" (every %d)\n",
                seconds, rate, 4000 * rate, qPrintable(sampleText), interval);
    std::printf("baseline RSS %lld kB\n", baseKb);
    std::fflush(stdout);

    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = cpuSeconds();
    const double guiCpuAtStart = threadCpuSeconds();
    sinceTick.start();
    ticker.start(5);
    w.findChild<QPushButton *>(QStringLiteral("btn_start_collect"))->click();
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("%5.0f s  processed %9lld blocks  points/graph %9d  RSS %7lld kB  "
                    "worst stall so far %.1f ms\n",
                    wall.elapsed() / 1000.0, blocksProcessed, w.channelGraph(0)->dataCount(),
                    statusKb("VmRSS:"), std::max(0.0, worstGapMs - 5.0));
        std::fflush(stdout);
    });
    report.start(30000);
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    const double acquisitionWall = wall.nsecsElapsed() / 1e9;
    const double cpuShare = (cpuSeconds() - cpuAtStart) / acquisitionWall * 100.0;
    const double guiCpuShare = (threadCpuSeconds() - guiCpuAtStart) / acquisitionWall * 100.0;
    report.stop();
    w.findChild<QPushButton *>(QStringLiteral("btn_stop_collect"))->click();
    ticker.stop();
    // Blocks still queued for the window are processed before counting.
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 60000) {
        app.processEvents(QEventLoop::AllEvents, 20);
#ifdef __linux__
        if (blocksProcessed >= blocksDelivered.load())
            break;
#endif
    }
    const double drainMs = drain.nsecsElapsed() / 1e6;

    // Every live U1 value (those below the recording's) must follow the ramp
    // by exactly one keep interval.
    w.channelStore().settle();
    const ChannelView u1 = w.channelStore().channel(0).view();
    long long gaps = 0;
    double previous = std::nan("");
    for (qsizetype k = 0; k < u1.size(); ++k) {
        const double value = u1.at(k).value;
        if (value >= 550.0)
            continue;
        const double step = std::fmod(value - previous + 500.0, 500.0);
        if (!std::isnan(previous) && std::abs(step - std::fmod(0.5 * interval, 500.0)) > 1e-6)
            ++gaps;
        previous = value;
    }
    long long points = 0;
    for (int c = 0; c < 4; ++c)
        points += w.channelGraph(c)->dataCount();
    const long long peakKb = statusKb("VmHWM:");
    const double bytesPerPoint = points ? (peakKb - baseKb) * 1024.0 / points : 0.0;

    // The run's recording on disk, complete once the stop is through: the
    // live points of the graphs, bit for bit where the graphs hold nothing else.
    // Read after the memory figures, which it would spoil.
    Recorder &recorder = w.liveRun().recorder();
    QElapsedTimer writing;
    writing.start();
    recorder.waitUntilWritten();
    const double writtenMs = writing.nsecsElapsed() / 1e6;
    const QString recordingFile = recorder.currentFile();
    DataFileContents onDisk;
    {
        QFile file(recordingFile);
        if (file.open(QIODevice::ReadOnly))
            onDisk = readDataFile(file);
    }
    const long long livePoints = w.channelGraph(0)->dataCount() - recorded;
    bool recordingMatches = onDisk.stop == ReadStop::EndOfData && !recorder.currentFailed();
    for (int c = 0; c < ChannelCount; ++c) {
        const PointList &points = onDisk.points[c];
        recordingMatches = recordingMatches && (long long)points.size() == livePoints;
        if (recorded == 0 && recordingMatches) {
            const QCPGraphDataContainer &graph = *w.channelGraph(c)->data();
            for (size_t k = 0; k < points.size(); ++k)
                recordingMatches = recordingMatches && points[k].key == graph.at(int(k))->key &&
                                   points[k].value == graph.at(int(k))->value;
        }
    }

    std::printf("\nwall time                %.1f s\n", wall.elapsed() / 1000.0);
#ifdef __linux__
    const long long delivered = blocksDelivered.load();
    const long long expectedPoints = (scansDelivered.load() + interval - 1) / interval;
    std::printf("blocks delivered         %lld (%lld scans)\n", delivered, scansDelivered.load());
    std::printf("blocks processed         %lld   goal: none lost -> %s\n", blocksProcessed,
                blocksProcessed == delivered ? "met" : "MISSED");
    std::printf("points per graph         %d (expected %lld from the scans delivered%s)\n",
                w.channelGraph(0)->dataCount(), expectedPoints + recorded,
                recorded ? " and the recording" : "");
#else
    std::printf("blocks processed         %lld\n", blocksProcessed);
#endif
    std::printf("gaps in the U1 ramp      %lld\n", gaps);
    std::printf("points stored (4 graphs) %lld\n", points);
    std::printf("peak RSS                 %lld kB (baseline %lld kB%s), at the end %lld kB\n",
                peakKb, baseKb, recorded ? "; the peak may be the open command's" : "",
                statusKb("VmRSS:"));
    if (recorded == 0) // the recording was read before the baseline
        std::printf("peak memory per point    %.1f B   goal <= 24 B -> %s\n", bytesPerPoint,
                    bytesPerPoint <= 24.0 ? "met" : "MISSED");
    const bool goals = recording != "none";
    // Waits and stalls have goals up to 1 M points per graph, CPU use beyond too.
    const bool latencyGoals = goals && recordingPoints <= 1000000;
    const int cpuGoal = recordingPoints > 1000000 ? 40 : 25;
    std::printf("recording on disk        %s: %zu points per channel for %lld live points per "
                "graph%s -> %s; complete %.0f ms after the stop was processed, %.1f MB\n",
                qPrintable(QFileInfo(recordingFile).fileName()), onDisk.points[ChannelU1].size(),
                livePoints, recorded ? "" : ", bit for bit", recordingMatches ? "met" : "MISSED",
                writtenMs, QFileInfo(recordingFile).size() / 1e6);
    std::printf(
        "GUI thread CPU           %.1f %% of one core (block processing with the recording's "
        "hand-over, redraws)\n",
        guiCpuShare);
    std::printf("CPU use                  %.1f %% of one core (whole process, %.0f s)", cpuShare,
                acquisitionWall);
    if (goals)
        std::printf("   goal <= %d %% -> %s", cpuGoal, cpuShare <= cpuGoal ? "met" : "MISSED");
    std::printf("\n");
    if (!waitsMs.empty()) {
        std::vector<double> sorted = waitsMs;
        std::sort(sorted.begin(), sorted.end());
        const double worstWait = sorted.back();
        std::printf("wait for the GUI thread  median %.2f ms, p99 %.1f ms, worst %.1f ms "
                    "(read to end of processBlock)",
                    sorted[sorted.size() / 2], sorted[sorted.size() * 99 / 100], worstWait);
        if (latencyGoals)
            std::printf("   goal <= 100 ms -> %s", worstWait <= 100.0 ? "met" : "MISSED");
        std::printf("\n");
    }
    std::printf("after stop, busy for     %.0f ms until every block was processed\n", drainMs);
    const double worstStall = std::max(0.0, worstGapMs - 5.0);
    std::printf("GUI thread worst stall   %.1f ms (largest gap between 5 ms ticks, minus 5 ms)",
                worstStall);
    if (latencyGoals)
        std::printf("   goal <= 150 ms -> %s", worstStall <= 150.0 ? "met" : "MISSED");
    std::printf("\n");
    if (!gapsMs.empty()) {
        std::sort(gapsMs.begin(), gapsMs.end());
        const auto over = [&](double ms) {
            return long(gapsMs.end() - std::upper_bound(gapsMs.begin(), gapsMs.end(), ms + 5.0));
        };
        std::printf("  tick gaps: median %.2f ms, p99.9 %.1f ms; stalls > 50 ms: %ld, > 100 ms: "
                    "%ld, > 250 ms: %ld (of %zu ticks)\n",
                    gapsMs[gapsMs.size() / 2], gapsMs[gapsMs.size() * 999 / 1000], over(50),
                    over(100), over(250), gapsMs.size());
    }
    std::printf("replots                  %lld, mean %.1f ms, worst %.1f ms\n", replots,
                replots ? replotMsTotal / replots : 0.0, worstReplotMs);
    std::printf("machine load (1 min)     %s\n", qPrintable(loadAverage()));
    std::printf("tasks still alive        %d\n", ArtSim_LiveTasks());
    return 0;
}
