// Cost of one 100-scan block on the live path: the split of the read array
// on the library's thread and processBlock on the GUI thread (scaling, keep
// rule, four appends, axis fit), in the real window, offscreen.
//
//   bench_blocks [blocks]      (default 20000 blocks = 500 s of acquisition)

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "mainwindow/mainwindow.h"
#include "windowprobe.h"

namespace {

struct Figures
{
    double median, p99, max, mean;
};

Figures summarise(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)], us.back(),
            sum / us.size()};
}

void run(MainWindow &w, const char *label, const char *sampleText, int blocks)
{
    w.findChild<QLineEdit *>(QStringLiteral("edit_sample"))->setText(QLatin1String(sampleText));
    MainWindowProbe::restartTimeBase(w);

    // One read array of 100 scans of a changing signal, interleaved by scan.
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
        const ChannelLists lists = splitScans(values, 400, 800);
        const qint64 split = timer.nsecsElapsed();
        w.processBlock(lists.u1, lists.i, lists.t, lists.u2, 25.0);
        const qint64 total = timer.nsecsElapsed();
        splitUs.push_back(split / 1000.0);
        processUs.push_back((total - split) / 1000.0);
    }
    const Figures s = summarise(splitUs);
    const Figures p = summarise(processUs);
    const double perBlock = s.mean + p.mean;
    // 4000 scans/s = 40 blocks/s.
    const double coreShare = perBlock * 40.0 / 1e6 * 100.0;
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int blocks = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
    MainWindow w;
    std::printf("Block processing, %d blocks of 100 scans, 25 ms each\n", blocks);
    run(w, "keep all (\"1000\")", "1000", blocks);
    run(w, "every 10th (\"100\")", "100", blocks);
    return 0;
}
