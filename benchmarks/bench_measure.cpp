// What a move of a measurement cursor costs as the recording grows: the
// figures between the cursors (every point, exact) and the table's update,
// at 1 M and 14.4 M points per curve, offscreen. Before each move a live
// block arrives from before the last time, so that its points wait in the
// side buffers and the move's figures merge them first.
//
//   bench_measure [largest points per curve]   (default 14400000: one hour at 4000/s)
//
// Columns: the first query with its table (the sums follow the live points),
// a move's median, 99th percentile and maximum with the merge and the table,
// the figures alone (median), a move with nothing waiting (median), and the
// summary's bytes per point and curve. Then the same points opened as a
// file: the file worker's summary and the first query after the open.
//
// Goals: a cursor move with its table update under 1 ms at 14.4 M points per
// curve, the merge included (median; p99 and max show the outliers: the
// scheduler, and a merge that has to grow the container of points); the
// first query under 100 ms, live and after an open, whatever the length.

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "mainwindow/channelstore.h"
#include "mainwindow/measurement.h"
#include "mainwindow/measurewindow.h"

namespace {

constexpr double step = 1.0 / 4000; // seconds between points, as the card keeps them
constexpr int blockPoints = 40;

// Appends n points from the time `from` on, the same times on every channel.
void appendLive(ChannelStore &store, qsizetype n, double from, std::mt19937_64 &random)
{
    std::normal_distribution<double> noise(0, 0.05);
    const double offsets[ChannelCount] = {400, 2, 3, 12};
    QVector<double> keys(n), values(n);
    for (qsizetype k = 0; k < n; ++k)
        keys[k] = from + double(k) * step;
    for (int c = 0; c < ChannelCount; ++c) {
        for (qsizetype k = 0; k < n; ++k)
            values[k] = offsets[c] + std::sin(keys[k] * 0.01) + noise(random);
        store.append(c, keys, values);
    }
}

// The same points as an opened file, through the file worker's path.
void openPoints(ChannelStore &store, qsizetype n, double &workerMs, std::mt19937_64 &random)
{
    ChannelStore live;
    for (qsizetype done = 0; done < n; done += 100000)
        appendLive(live, std::min<qsizetype>(100000, n - done), double(done) * step, random);
    OpenedPoints opened;
    store.beginOpen(opened);
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelView points = live.channel(c).view();
        opened.reserve(c, points.size());
        for (qsizetype k = 0; k < points.size(); ++k)
            opened.append(c, points.at(k));
    }
    live.clear();
    QElapsedTimer clock;
    clock.start();
    ChannelStore::prepare(opened);
    workerMs = double(clock.nsecsElapsed()) / 1e6;
    store.endOpen(&opened);
}

double percentile(std::vector<double> times, double p)
{
    std::sort(times.begin(), times.end());
    return times[std::size_t(p * double(times.size() - 1))];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype largest = argc > 1 ? std::atoll(argv[1]) : 14400000;
    std::printf("bench_measure: a cursor move's figures and table update; times in ms\n");
    std::printf("    %12s %12s %10s %10s %10s %10s %10s %12s\n", "points/curve", "first query",
                "median", "p99", "max", "figures", "no merge", "summary B/pt");
    bool met = true, firstMet = true;
    for (const qsizetype n : {qsizetype(1000000), largest}) {
        std::mt19937_64 random(7);
        ChannelStore store;
        for (qsizetype done = 0; done < n; done += 100000) {
            appendLive(store, std::min<qsizetype>(100000, n - done), double(done) * step, random);
            store.settle(ChannelStore::Settle::Summaries); // as the redraws do
        }
        const double end = double(n) * step;
        MeasureWindow table(nullptr);
        const std::array<bool, ChannelCount> shown{true, true, true, true};
        QElapsedTimer clock;
        clock.start();
        table.setMeasurement(measure(store, end * 0.1, end * 0.9), shown);
        const double first = double(clock.nsecsElapsed()) / 1e6;
        firstMet = firstMet && first < 100;

        std::uniform_real_distribution<double> at(0, end);
        std::vector<double> moves, figures, settled;
        double last = end;
        for (int k = 0; k < 400; ++k) {
            // A late block: its first time lies before the last, so all of it waits.
            appendLive(store, blockPoints, last - 10 * step, random);
            last += (blockPoints - 10) * step;
            if (store.channel(ChannelU1).waitingCount() == 0) {
                std::printf("the late block was not left waiting\n");
                return 1;
            }
            const double a = at(random), b = at(random);
            clock.restart();
            const Measurement m = measure(store, a, b);
            figures.push_back(double(clock.nsecsElapsed()) / 1e6);
            table.setMeasurement(m, shown);
            moves.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            table.setMeasurement(measure(store, b, a), shown);
            settled.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        double summary = 0;
        for (int c = 0; c < ChannelCount; ++c)
            summary += double(store.channel(c).sideBytes()) / double(store.count(c));
        const double median = percentile(moves, 0.5), p99 = percentile(moves, 0.99);
        std::printf("    %12lld %12.2f %10.3f %10.3f %10.3f %10.3f %10.3f %12.2f\n", (long long)n,
                    first, median, p99, *std::max_element(moves.begin(), moves.end()),
                    percentile(figures, 0.5), percentile(settled, 0.5), summary / ChannelCount);
        if (n == largest)
            met = median < 1.0;
    }
    for (const qsizetype n : {qsizetype(1000000), largest}) {
        std::mt19937_64 random(7);
        ChannelStore store;
        double worker = 0;
        openPoints(store, n, worker, random);
        const double end = double(n) * step;
        MeasureWindow table(nullptr);
        QElapsedTimer clock;
        clock.start();
        table.setMeasurement(measure(store, end * 0.1, end * 0.9), {true, true, true, true});
        const double first = double(clock.nsecsElapsed()) / 1e6;
        firstMet = firstMet && first < 100;
        std::printf("    opened, %lld points per curve: summary on the file worker %.0f ms, "
                    "first query %.2f ms\n",
                    (long long)n, worker, first);
    }
    std::printf("at %lld points per curve: cursor move with table update, side buffer merged, "
                "median under 1 ms: %s\n",
                (long long)largest, met ? "met" : "MISSED");
    std::printf("first query with its table, live and opened, under 100 ms at every length: %s\n",
                firstMet ? "met" : "MISSED");
    return 0;
}
