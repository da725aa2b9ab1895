// Cost of one 100-scan block on the live path: the split of the read array
// on the library's thread and processBlock on the GUI thread (scaling, keep
// rule, four appends, axis fit), in the real window, offscreen. Then the
// same blocks landing inside an opened recording of 100 k, 1 M and 4 M points
// per graph, where the points wait beside the graph and are merged once per
// redraw (every 600 ms = 24 blocks); and, for comparison, what adding those
// points one by one into the recording costs. Also what handing the kept
// points to the recorder costs the GUI thread.
//
//   bench_blocks [blocks] [overlap blocks]   (defaults 20000 = 500 s, and 960 = 24 s)

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "datafiles/recorder.h"
#include "channelpoints.h"
#include "manualrun.h"
#include "mainwindow/mainwindow.h"
#include "acquisition/limitwatch.h"
#include "acquisition/liverun.h"
#include "datafiles/recorder.h"
#include "userfolders.h"
#include "windowtexts.h"

namespace {

constexpr double blocksPerSecond = cardScanRate / 100; // 40
constexpr int blocksPerRedraw = 24;                    // the window's 600 ms timer

struct Figures
{
    double median, p99, max, mean;
};

Figures summarise(std::vector<double> us)
{
    if (us.empty())
        return {0, 0, 0, 0};
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.back(),
            sum / us.size()};
}

// One read array of 100 scans of a changing signal, interleaved by scan.
SampleBlock nextBlock(int b)
{
    double values[800] = {};
    for (int k = 0; k < 100; ++k)
        for (int c = 0; c < 4; ++c)
            values[4 * k + c] = 5.0 + 4.0 * std::sin(0.001 * (b * 100 + k) + c);
    return splitScans(values, 400, 800);
}

void run(MainWindow &w, const char *label, const char *sampleText, int blocks)
{
    enterText(w.findChild<QLineEdit *>(QStringLiteral("edit_sample")), QLatin1String(sampleText));
    w.liveRun().clear();

    double values[800] = {};
    std::vector<double> splitUs, processUs;
    splitUs.reserve(blocks);
    processUs.reserve(blocks);
    QElapsedTimer timer;
    for (int b = 0; b < blocks; ++b) {
        for (int k = 0; k < 100; ++k)
            for (int c = 0; c < 4; ++c)
                values[4 * k + c] = 5.0 + 4.0 * std::sin(0.001 * (b * 100 + k) + c);
        timer.start();
        const SampleBlock lists = splitScans(values, 400, 800);
        const qint64 split = timer.nsecsElapsed();
        w.processBlock(lists, 25.0);
        const qint64 total = timer.nsecsElapsed();
        splitUs.push_back(split / 1000.0);
        processUs.push_back((total - split) / 1000.0);
    }
    const Figures s = summarise(splitUs);
    const Figures p = summarise(processUs);
    const double perBlock = s.mean + p.mean;
    const double coreShare = perBlock * blocksPerSecond / 1e6 * 100.0;
    std::printf("%-22s points/graph %8d\n", label, w.channelGraph(0)->dataCount());
    std::printf("  split        median %7.2f us  p99 %7.2f us  max %8.2f us\n", s.median, s.p99,
                s.max);
    std::printf("  processBlock median %7.2f us  p99 %7.2f us  max %8.2f us\n", p.median, p.p99,
                p.max);
    std::printf("  per block    mean %7.2f us -> %.3f %% of one core at 4000 Hz   goal < 250 us "
                "(1 %%): %s\n",
                perBlock, coreShare,
                (s.median + p.median < 250.0 && s.p99 + p.p99 < 250.0) ? "met" : "MISSED");
}

// Gives each graph `points` points covering 0 .. 2500 s, as opening such a
// recording does, and restarts the live time base at 0 inside it.
void openRecording(MainWindow &w, int points)
{
    w.liveRun().clear();
    for (int c = 0; c < 4; ++c) {
        QVector<QCPGraphData> data(points);
        for (int k = 0; k < points; ++k)
            data[k] = QCPGraphData(2500.0 * k / points, 100.0 * c + 50.0 * std::sin(0.01 * k));
        mergePoints(w.channelStore(), data, {c});
    }
    w.channelStore().settle(ChannelStore::Settle::Summaries); // as the first redraw does
    w.liveRun().startNewRecording();
}

void runOverlap(MainWindow &w, int points, int blocks)
{
    enterText(w.findChild<QLineEdit *>(QStringLiteral("edit_sample")), QStringLiteral("1000"));
    openRecording(w, points);
    std::vector<double> processUs, mergeUs, summaryUs;
    QElapsedTimer timer;
    for (int b = 0; b < blocks; ++b) {
        const SampleBlock lists = nextBlock(b);
        timer.start();
        w.processBlock(lists, 25.0);
        processUs.push_back(timer.nsecsElapsed() / 1000.0);
        if ((b + 1) % blocksPerRedraw == 0 || b + 1 == blocks) {
            // What the redraw does first: merge the waiting points of the four
            // graphs and bring their summaries up to date.
            timer.start();
            w.channelStore().settle(ChannelStore::Settle::Summaries);
            const qint64 merged = timer.nsecsElapsed();
            for (int c = 0; c < 4; ++c) {
                bool found = false;
                (void)w.channelGraph(c)->getValueRange(found);
            }
            mergeUs.push_back(merged / 1000.0);
            summaryUs.push_back((timer.nsecsElapsed() - merged) / 1000.0);
        }
    }
    const Figures p = summarise(processUs);
    const Figures m = summarise(mergeUs);
    const Figures r = summarise(summaryUs);
    const double perBlock = p.mean + (m.mean + r.mean) * mergeUs.size() / blocks;
    const double share = perBlock * blocksPerSecond / 1e6 * 100.0;
    std::printf(
        "inside a recording of %7d points/graph (keep all, %d blocks, now %d points/graph)\n",
        points, blocks, w.channelGraph(0)->dataCount());
    std::printf("  processBlock        median %8.1f us  p99 %8.1f us  max %8.1f us\n", p.median,
                p.p99, p.max);
    std::printf("  merge and summary   median %8.1f us  p99 %8.1f us  max %8.1f us  (4 graphs, "
                "%d blocks)\n",
                m.median, m.p99, m.max, blocksPerRedraw);
    std::printf("  value range fit     median %8.1f us  p99 %8.1f us  max %8.1f us  (4 graphs)\n",
                r.median, r.p99, r.max);
    std::printf("  per block, all included:    %8.1f us -> %5.2f %% of one core at 4000 Hz   "
                "(whole program goal: <= %d %% of a core)\n",
                perBlock, share, points > 1000000 ? 40 : 25);
}

// The recording's share of the GUI thread: handing a block's kept points
// over to the recorder, whose writer appends them to the journal meanwhile.
// Keeping every sample, back to back in bursts of 10 s of data (more
// contention than at 40 blocks/s).
void runRecordingHandOver(int blocks)
{
    QTemporaryDir dir;
    std::vector<double> us;
    us.reserve(blocks);
    QString dataFile;
    qint64 recorded = 0;
    {
        Recorder recorder(dir.path(), qint64(1) << 40);
        QObject::connect(&recorder, &Recorder::recordingAssembled,
                         [&](const QString &file, qint64 points) {
                             dataFile = file;
                             recorded = points;
                         });
        TimeBase timeBase(cardScanRate);
        const TemperatureScale scale = temperatureScale(400, 3600);
        QElapsedTimer timer;
        for (int b = 0; b < blocks; ++b) {
            const SampleBlock lists = nextBlock(b);
            SampleBlock kept = keepSamples(timeBase, lists, 1, scale);
            timer.start();
            recorder.add(std::move(kept));
            us.push_back(timer.nsecsElapsed() / 1000.0);
            // Every 10 s of data the writer catches up (untimed), as it does
            // all along in real time; back to back, the queue would reach its
            // 30 s bound and the recording would stop.
            if ((b + 1) % 400 == 0)
                recorder.waitUntilWritten();
        }
        timer.start();
        recorder.finish();
        recorder.waitUntilWritten();
        std::printf("recording hand-over, %d blocks of 100 kept points (keep all)\n", blocks);
        std::printf("  journal written and data file assembled %.2f s after the last block: %lld "
                    "points (expected %d) in %s\n",
                    timer.elapsed() / 1000.0, recorded, blocks * 100,
                    qPrintable(QFileInfo(dataFile).fileName()));
    }
    const Figures f = summarise(us);
    const double share = f.mean * blocksPerSecond / 1e6 * 100.0;
    std::printf("  GUI thread   median %7.2f us  p99 %7.2f us  max %8.2f us  mean %.2f us -> "
                "%.4f %% of one core at 4000 Hz   goal <= 1 %%: %s\n",
                f.median, f.p99, f.max, f.mean, share, share <= 1.0 ? "met" : "MISSED");
}

// The same blocks added one addData call per point, as before the side buffer.
void runOneByOne(MainWindow &w, int points, int blocks)
{
    openRecording(w, points);
    // Plain graphs holding the same recording, outside the window's store.
    QCustomPlot plain;
    QCPGraph *graphs[4];
    for (int c = 0; c < 4; ++c) {
        graphs[c] = plain.addGraph();
        const ChannelView held = w.channelStore().channel(c).view();
        for (qsizetype k = 0; k < held.size(); ++k)
            graphs[c]->addData(held.at(k).key, held.at(k).value);
    }
    TimeBase timeBase(cardScanRate);
    const TemperatureScale scale = temperatureScale(400, 3600);
    std::vector<double> us;
    QElapsedTimer timer;
    for (int b = 0; b < blocks; ++b) {
        const SampleBlock lists = nextBlock(b);
        timer.start();
        const SampleBlock kept = keepSamples(timeBase, lists, 1, scale);
        const QVector<double> *values[4] = {&kept.u1, &kept.i, &kept.t, &kept.u2};
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < kept.keys.size(); ++k)
                graphs[c]->addData(kept.keys[k], values[c]->at(k));
        us.push_back(timer.nsecsElapsed() / 1000.0);
    }
    const Figures f = summarise(us);
    std::printf("  for comparison, one addData per point: median %9.1f us per block (%d blocks) "
                "-> %.0f %% of one core\n",
                f.median, blocks, f.median * blocksPerSecond / 1e6 * 100.0);
}

// The limit check on the GUI thread: all five limits set on kept blocks of
// 100 points, once with every value inside the limits, once with a limit
// among the values (the point-by-point walk in every block: the ripple crosses it).
void runLimits(int blocks)
{
    std::vector<SampleBlock> kept(64);
    for (std::size_t b = 0; b < kept.size(); ++b)
        for (int k = 0; k < 100; ++k) {
            const double t = double(b * 100 + k) / cardScanRate;
            kept[b].keys << t;
            kept[b].u1 << 200 + 50 * std::sin(t * 3);
            kept[b].i << 100 + 20 * std::cos(t * 5);
            kept[b].t << 40 + std::sin(t);
            kept[b].u2 << 350 + std::sin(t * 600);
        }
    std::printf(
        "limit check, all five limits, blocks of 100 kept points (goal <= 1 us per block)\n");
    for (const bool among : {false, true}) {
        LimitSettings limits;
        for (Limit &l : limits)
            l = Limit{-1e9, 1e9, 0, 0.5, Limit::Show};
        if (among)
            limits[LimitU2] =
                Limit{std::nullopt, 350, 0.5, 0, Limit::Show}; // the ripple crosses it
        LimitWatch watch;
        watch.setLimits(limits);
        std::vector<LimitEvent> events;
        QElapsedTimer timer;
        timer.start();
        for (int b = 0; b < blocks; ++b)
            watch.check(kept[std::size_t(b) % kept.size()], events);
        const double us = double(timer.nsecsElapsed()) / 1000.0 / blocks;
        std::printf("  %-34s mean %6.3f us per block   %s\n",
                    among ? "a limit inside the ripple" : "values inside the limits", us,
                    us <= 1.0 ? "met" : "MISSED");
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    keepOutOfUserFolders();
    QApplication app(argc, argv);
    const int blocks = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    const int overlapBlocks = argc > 2 ? std::max(blocksPerRedraw, std::atoi(argv[2])) : 960;
    MainWindow w;
    // Acquiring, as the blocks come in a run: the redraw beat, not each
    // block, brings the status bar up to date.
    const ManualRun running(w);
    std::printf("Block processing, %d blocks of 100 scans, 25 ms each\n", blocks);
    run(w, "keep all (\"1000\")", "1000", blocks);
    run(w, "every 10th (\"100\")", "100", blocks);
    std::printf("\n");
    runRecordingHandOver(std::min(blocks, 2400));
    std::printf("\n");
    runLimits(std::max(blocks, 20000));

    std::printf("\nBlocks inside an opened recording covering 0 .. 2500 s, live times from 0 s\n");
    for (const int points : {100000, 1000000, 4000000}) {
        runOverlap(w, points, overlapBlocks);
        runOneByOne(w, points, points >= 4000000 ? 2 : 5);
    }
    return 0;
}
