// Data files at scale: 1 M points per channel, four channels, full-precision
// values, through the window's own save, open and export commands (dialogs
// answered programmatically), plus the bare format functions.
// Goals on the reference machine: save <= 1 s, open into empty graphs <= 1 s,
// open into graphs already holding the same points <= 1.5 x open into empty
// graphs, CSV export <= 1 s. Then an hour kept whole (14.4 M points per
// channel, generated here and deleted after; --quick leaves it out): open
// <= 4 s with memory growing by at most 1.2 x its points, and the window
// never paused over 100 ms during open, save or export.

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "datafiles/filejob.h"
#include "datafiles/safefile.h"
#include "channelpoints.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/memoryguard.h"
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
#include <QTimer>
#include <qcustomplot.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
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
    double longestGapMs; // between two ticks of a 10 ms timer on the GUI thread
    qint64 peakRss;      // resident bytes, sampled at each tick
};

// Seconds the command takes until its result is shown, dialog included,
// with the window's longest pause meanwhile.
Timing timeCommand(MainWindow &window, const char *action, const QString &fileName)
{
    DialogAnswer answer(fileName);
    QElapsedTimer clock, sinceTick;
    Timing t{0, 0, 0, processMemoryBytes()};
    QTimer ticks;
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        t.longestGapMs = std::max(t.longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.start();
        t.peakRss = std::max(t.peakRss, processMemoryBytes());
    });
    const double cpu = cpuSeconds();
    clock.start();
    sinceTick.start();
    ticks.start();
    window.findChild<QAction *>(action)->trigger();
    waitForFileWork(window);
    t.longestGapMs = std::max(t.longestGapMs, sinceTick.nsecsElapsed() / 1e6);
    t.wall = clock.nsecsElapsed() / 1e9;
    t.cpu = cpuSeconds() - cpu;
    return t;
}

// goal 0: no goal for the time, only for the pause.
void report(const char *what, Timing t, double numbers, double goal)
{
    std::printf("%-34s wall %6.3f s  cpu %6.3f s  %5.1f M numbers/s (cpu)", what, t.wall, t.cpu,
                numbers / t.cpu / 1e6);
    if (goal > 0)
        std::printf("  goal <= %.2f s: %s", goal, t.wall <= goal ? "met" : "MISSED");
    std::printf("  longest GUI pause %.0f ms (goal <= 100: %s)\n", t.longestGapMs,
                t.longestGapMs <= 100 ? "met" : "MISSED");
}

// An hour kept whole at 4000 scans/s: each channel's points written straight
// to the file, never all in memory, as a save would write them.
bool writeHourFile(const QString &fileName, qint64 points)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator rng(2);
    std::vector<char> block(1 << 20);
    std::size_t used = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        const QByteArray header = QByteArray(sectionName(Channel(c))) + "\r\n";
        std::memcpy(block.data() + used, header.constData(), std::size_t(header.size()));
        used += std::size_t(header.size());
        for (qint64 i = 0; i < points; ++i) {
            if (used + 2 * MaxDataNumberLength + 3 > block.size()) {
                if (file.write(block.data(), qint64(used)) != qint64(used))
                    return false;
                used = 0;
            }
            char *o = block.data() + used;
            o += formatDataNumber(double(i) * 0.00025, o);
            *o++ = ' ';
            o += formatDataNumber(rng.bounded(1000.0) - 500.0, o);
            *o++ = '\r';
            *o++ = '\n';
            used = std::size_t(o - block.data());
        }
    }
    // On the disk, as an hour-old recording is, not still being written back.
    return file.write(block.data(), qint64(used)) == qint64(used) && syncFile(file);
}

// The hour-long recording: open into empty graphs, then save and export it,
// each through the window; memory while it opens against what its points
// take, and its CPU time against the calibration's for as many numbers.
void hourLong(const QString &folder, double calibrationPerNumber)
{
    constexpr qint64 points = 14400000;
    const QString name = folder + "/hour.txt";
    std::printf("\nOne hour kept whole: %lld points per channel, written by the benchmark ...\n",
                static_cast<long long>(points));
    if (!writeHourFile(name, points)) {
        std::printf("could not write %s\n", qPrintable(name));
        return;
    }
    std::printf("  file size %.0f MiB\n", QFileInfo(name).size() / 1048576.0);
    const double numbers = 2.0 * ChannelCount * points;
    MainWindow window;
    window.show();
    QApplication::processEvents();
    const qint64 before = processMemoryBytes();
    const Timing open = timeCommand(window, "menu_open_data", name);
    report("open one hour into empty graphs", open, numbers, 4.0);
    const double ratio = open.cpu / (calibrationPerNumber * numbers);
    std::printf("  cpu / calibration's std::from_chars for as many numbers = %.2f (goal <= 2.00: "
                "%s); longest GUI pause %.0f ms\n",
                ratio, ratio <= 2 ? "met" : "MISSED", open.longestGapMs);
    const qint64 after = processMemoryBytes();
    const double pointBytes = double(ChannelCount) * points * sizeof(QCPGraphData);
    std::printf("  resident before %.0f MiB, peak %.0f MiB, after %.0f MiB; points %.0f MiB; "
                "peak growth / points = %.2f (goal <= 1.20: %s)\n",
                before / 1048576.0, open.peakRss / 1048576.0, after / 1048576.0,
                pointBytes / 1048576.0, (open.peakRss - before) / pointBytes,
                (open.peakRss - before) <= 1.2 * pointBytes ? "met" : "MISSED");
    QFile::remove(name);
    const Timing save = timeCommand(window, "menu_save", folder + "/hour-saved.txt");
    report("save one hour", save, numbers, 0);
    QFile::remove(folder + "/hour-saved.txt");
    const Timing exported = timeCommand(window, "menu_export", folder + "/hour.csv");
    report("CSV export of one hour", exported, numbers, 0);
    QFile::remove(folder + "/hour.csv");
}

// Files with a long stretch without LF (CR line ends only; zeros where a
// write was cut short), in memory: both readers in turn, as an open reads
// them, at two sizes (the time should grow with the size, not its square),
// and how long after a cancel halfway through the reading stops.
void longStretches()
{
    for (const bool zeros : {false, true}) {
        for (const int mib : {32, 128}) {
            QByteArray bytes;
            if (zeros)
                bytes = "U1_DATA\r\n0 1.5\r\n0.00025 1" + QByteArray(qsizetype(mib) << 20, '\0') +
                        "\r\n0.0005 2\r\n";
            else
                bytes =
                    "U1_DATA\r" + QByteArray("0.00025 1.5\r").repeated((qsizetype(mib) << 20) / 12);
            qint64 uncancelled = 0; // ns
            for (const bool cancel : {false, true}) {
                FileJobControl control;
                QElapsedTimer clock;
                clock.start();
                std::atomic<qint64> cancelledAt{-1};
                std::thread canceller;
                if (cancel)
                    canceller = std::thread([&] {
                        std::this_thread::sleep_for(std::chrono::nanoseconds(uncancelled / 2));
                        cancelledAt = clock.nsecsElapsed();
                        control.cancel();
                    });
                std::array<std::vector<char>, ChannelCount> rooms;
                std::array<qsizetype, ChannelCount> counts{};
                const PlainRead plain = readPlainDataFile(
                    [&bytes]() -> std::unique_ptr<QIODevice> {
                        auto buffer = std::make_unique<QBuffer>();
                        buffer->setData(bytes);
                        buffer->open(QIODevice::ReadOnly);
                        return buffer;
                    },
                    bytes.size(), 2,
                    [&rooms](int c, qsizetype count) -> void * {
                        rooms[std::size_t(c)].resize(std::size_t(count) * sizeof(DataPoint));
                        return rooms[std::size_t(c)].data();
                    },
                    counts, &control);
                if (plain == PlainRead::NotPlain) {
                    QBuffer buffer(&bytes);
                    buffer.open(QIODevice::ReadOnly);
                    control.setTotal(bytes.size());
                    readDataFile(buffer, &control);
                }
                const qint64 ended = clock.nsecsElapsed();
                if (canceller.joinable())
                    canceller.join();
                uncancelled = ended;
                if (cancel)
                    std::printf("  cancelled halfway: stopped %.1f ms later\n",
                                (ended - cancelledAt) / 1e6);
                else
                    std::printf("%-34s %4d MiB: %6.3f s\n",
                                zeros ? "a line cut short, then zeros" : "CR line ends only", mib,
                                ended / 1e9);
            }
        }
    }
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
    double calibrationPerNumber = 0; // CPU seconds

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
            calibrationPerNumber = took / double(count);
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
    longStretches();
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
    if (!app.arguments().contains(QStringLiteral("--quick")))
        hourLong(dir.path(), calibrationPerNumber);
    return 0;
}
