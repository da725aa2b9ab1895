// Data files at scale: 1 M points per channel, four channels, full-precision
// values, through the window's own save, open and export commands (dialogs
// answered programmatically), plus the bare format functions.
// Goals on the reference machine: save <= 1 s, open into empty graphs <= 1 s,
// open into graphs already holding the same points <= 1.5 x open into empty
// graphs, CSV export <= 1 s.

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "channelpoints.h"
#include "mainwindow/mainwindow.h"
#include "cputime.h"
#include "dialoganswer.h"
#include "userfolders.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

constexpr int pointsPerChannel = 1000000;

// Peak resident memory (0 where not available).
double peakMiB()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
#else
    return 0;
#endif
}

struct Timing
{
    double wall;
    double cpu;
};

// Seconds the command takes, dialog included.
Timing timeCommand(MainWindow &window, const char *action, const QString &fileName)
{
    DialogAnswer answer(fileName);
    QElapsedTimer clock;
    const double cpu = cpuSeconds();
    clock.start();
    window.findChild<QAction *>(action)->trigger();
    return {clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu};
}

void report(const char *what, Timing t, double numbers, double goal)
{
    std::printf("%-34s wall %6.3f s  cpu %6.3f s  %5.1f M numbers/s (cpu)  goal <= %.2f s: %s"
                "  peak %.0f MiB\n",
                what, t.wall, t.cpu, numbers / t.cpu / 1e6, goal,
                t.wall <= goal ? "met" : (t.cpu <= goal ? "met in cpu time" : "MISSED"), peakMiB());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    keepOutOfUserFolders();
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString dataName = dir.filePath("bench.txt");
    const QString csvName = dir.filePath("bench.csv");
    const double numbers = 2.0 * ChannelCount * pointsPerChannel;

    std::printf("Data files: %d points per channel, 4 channels, times 2.5 ms apart, values with "
                "17 significant digits\n",
                pointsPerChannel);

    // The recording as the graphs hold it.
    QRandomGenerator rng(1);
    std::array<PointList, ChannelCount> points;
    QVector<QCPGraphData> graphData[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) {
        points[c].resize(pointsPerChannel);
        graphData[c].resize(pointsPerChannel);
        for (int i = 0; i < pointsPerChannel; ++i) {
            const double key = i * 0.0025;
            const double value = rng.bounded(1000.0) - 500.0;
            points[c][i] = {key, value};
            graphData[c][i] = QCPGraphData(key, value);
        }
    }
    const ChannelSet views = {points[0], points[1], points[2], points[3]};

    // The bare functions, in memory.
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        buffer.buffer().reserve(128 << 20);
        double cpu = cpuSeconds();
        writeDataFile(buffer, views);
        double took = cpuSeconds() - cpu;
        std::printf("writeDataFile into memory   cpu %6.3f s  %5.1f M numbers/s  (%.0f MiB)\n",
                    took, numbers / took / 1e6, buffer.size() / 1048576.0);

        // Calibration: bare std::from_chars over the same numbers, to compare
        // this run's machine load with the reference of about 25 M numbers/s.
        {
            const char *p = buffer.data().constData();
            const char *const end = p + buffer.data().size();
            double sum = 0;
            qint64 count = 0;
            cpu = cpuSeconds();
            while (p < end) {
                if (*p >= 'A' && *p <= 'Z') { // section header
                    p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p))) + 1;
                    continue;
                }
                double v = 0;
                p = std::from_chars(p, end, v).ptr + 1; // past the space, CR or LF
                if (*p == '\n')
                    ++p;
                sum += v;
                ++count;
            }
            took = cpuSeconds() - cpu;
            std::printf("calibration: std::from_chars   cpu %6.3f s  %5.1f M numbers/s  (%lld "
                        "numbers, sum %g)\n",
                        took, count / took / 1e6, static_cast<long long>(count), sum);
        }
        buffer.close();
        buffer.open(QIODevice::ReadOnly);
        cpu = cpuSeconds();
        const DataFileContents contents = readDataFile(buffer);
        took = cpuSeconds() - cpu;
        std::printf("readDataFile from memory    cpu %6.3f s  %5.1f M numbers/s\n", took,
                    numbers / took / 1e6);
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        csv.buffer().reserve(96 << 20);
        cpu = cpuSeconds();
        writeCsvFile(csv, views);
        took = cpuSeconds() - cpu;
        std::printf("writeCsvFile into memory    cpu %6.3f s  %5.1f M numbers/s  (%.0f MiB)\n",
                    took, numbers / took / 1e6, csv.size() / 1048576.0);
        if (contents.points[3].size() != size_t(pointsPerChannel))
            std::printf("read back %zu points of U2, expected %d\n", contents.points[3].size(),
                        pointsPerChannel);
    }
    std::printf("peak memory after the in-memory runs: %.0f MiB\n\n", peakMiB());

    MainWindow window;
    window.show();
    QApplication::processEvents();
    const Timing dialog = timeCommand(window, "menu_save", QString(dir.filePath("warmup.txt")));
    std::printf("save with empty graphs (the dialog alone): wall %.3f s, cpu %.3f s\n", dialog.wall,
                dialog.cpu);

    for (int c = 0; c < ChannelCount; ++c)
        mergePoints(window.channelStore(), graphData[c], {c});
    const Timing save = timeCommand(window, "menu_save", dataName);
    report("save (QSaveFile, committed)", save, numbers, 1.0);
    std::printf("  file size %.0f MiB\n", QFileInfo(dataName).size() / 1048576.0);

    const Timing exportTime = timeCommand(window, "menu_export", csvName);
    report("CSV export (QSaveFile, committed)", exportTime, numbers, 1.0);
    std::printf("  file size %.0f MiB\n", QFileInfo(csvName).size() / 1048576.0);

    window.channelStore().clear();
    const Timing openEmpty = timeCommand(window, "menu_open_data", dataName);
    report("open into empty graphs", openEmpty, numbers, 1.0);

    // The graphs now hold the same points: the file's are merged between them.
    const Timing openFull = timeCommand(window, "menu_open_data", dataName);
    report("open into full graphs", openFull, numbers, 1.5 * openEmpty.wall);
    std::printf("  full / empty = %.2f wall, %.2f cpu (goal <= 1.50); each graph now holds %d "
                "points\n",
                openFull.wall / openEmpty.wall, openFull.cpu / openEmpty.cpu,
                window.channelGraph(0)->dataCount());
    return 0;
}
