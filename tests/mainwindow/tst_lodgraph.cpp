#include <QtTest>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "mainwindow/channelstore.h"
#include "mainwindow/lodgraph.h"

namespace {

const double missing = std::numeric_limits<double>::quiet_NaN();

// Reaches QCPGraph's protected getLines, which draws through the (virtual)
// line-data reduction, so the pixel points below are exactly what is painted.
struct GraphAccess : QCPGraph
{
    static QVector<QPointF> lines(const QCPGraph *graph)
    {
        QVector<QPointF> result;
        auto getLines = &GraphAccess::getLines;
        (graph->*getLines)(&result, QCPDataRange(0, graph->dataCount()));
        return result;
    }
};

enum class Kind { RandomWalk, Spike, NanRuns, EqualKeys, NonUniform, Chirp };
enum class Steps { Whole, Blocks, ClearThenAppend, MergeMiddle, WaitInMiddle };

QVector<QCPGraphData> makeData(Kind kind, int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QVector<QCPGraphData> data;
    data.reserve(n);
    double key = 0, value = 0;
    for (int i = 0; i < n; ++i) {
        switch (kind) {
        case Kind::RandomWalk:
        case Kind::NanRuns:
            key = i * 0.0025;
            value += rng.generateDouble() - 0.5;
            break;
        case Kind::Spike:
            key = i * 0.0025;
            value = 1.0;
            break;
        case Kind::EqualKeys:
            key = (i / 97) * 0.25; // runs of 97 points on one key
            value = rng.bounded(1000) - 500.0;
            break;
        case Kind::Chirp: // ever denser towards the end
            key = std::sqrt(double(i));
            value += rng.generateDouble() - 0.5;
            break;
        case Kind::NonUniform:
            // Dense bursts separated by gaps spanning many pixels.
            key +=
                (i % 20000 == 0) ? 40.0 + rng.generateDouble() * 30 : rng.generateDouble() * 1e-3;
            value = std::sin(key) * 100 + rng.generateDouble();
            break;
        }
        data.append(QCPGraphData(key, value));
    }
    if (kind == Kind::Spike)
        data[int(n * 0.6180339)].value = 400.0;
    if (kind == Kind::NanRuns) {
        const int runs[][2] = {{0, 3},        {1000, 1},      {5000, 40},  {20000, 400},
                               {50000, 3000}, {90000, 20000}, {n - 50, 50}};
        for (const auto &run : runs)
            for (int i = run[0]; i < run[0] + run[1] && i < n; ++i)
                data[i].value = missing;
        for (int k = 0; k < 12; ++k) // short runs, some across column borders
            for (int i = 30000 + k * 1111; i < 30000 + k * 1111 + 150 + 10 * k && i < n; ++i)
                data[i].value = missing;
    }
    return data;
}

struct Column
{
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void add(double y)
    {
        low = std::min(low, y);
        high = std::max(high, y);
    }
    bool operator==(const Column &o) const { return low == o.low && high == o.high; }
};

// Compares, column by column, what the graph draws with the points that fall
// into the column, and checks that a NaN between the points of two columns,
// or a column of NaN points only, breaks the line.
void checkColumns(const QCPGraph *graph)
{
    const QVector<QPointF> lines = GraphAccess::lines(graph);
    QCPAxis *x = graph->keyAxis();
    QCPAxis *y = graph->valueAxis();
    const auto data = graph->data();
    // Columns left of the widget (the point before the view may start one
    // there) and far right of it are left out on both sides.
    const int columns = 2048;
    auto inside = [](double px) { return px >= 0 && px < columns; };
    struct Points
    {
        Column finite;
        bool any = false, startsNan = false, endsNan = false;
    };
    std::vector<Points> truth(columns);
    std::vector<Column> drawn(columns);
    for (auto it = data->findBegin(x->range().lower); it != data->findEnd(x->range().upper); ++it) {
        const double px = x->coordToPixel(it->key);
        if (!inside(px))
            continue;
        Points &column = truth[int(px)];
        const bool gap = std::isnan(it->value);
        if (!column.any)
            column.startsNan = gap;
        column.any = true;
        column.endsNan = gap;
        if (!gap)
            column.finite.add(y->coordToPixel(it->value));
    }
    for (const QPointF &p : lines) {
        if (inside(p.x()) && !std::isnan(p.y()))
            drawn[int(p.x())].add(p.y());
    }
    for (int c = 0; c < columns; ++c) {
        QVERIFY2(drawn[c] == truth[c].finite,
                 qPrintable(QStringLiteral("column %1: drawn %2..%3, points %4..%5")
                                .arg(c)
                                .arg(drawn[c].low)
                                .arg(drawn[c].high)
                                .arg(truth[c].finite.low)
                                .arg(truth[c].finite.high)));
    }
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (std::isnan(lines[i].y()) || std::isnan(lines[i + 1].y()) || !inside(lines[i].x()) ||
            !inside(lines[i + 1].x()))
            continue;
        const int from = int(lines[i].x());
        const int to = int(lines[i + 1].x());
        if (from == to)
            continue;
        QVERIFY2(
            !truth[from].endsNan && !truth[to].startsNan,
            qPrintable(
                QStringLiteral("line bridges NaN between columns %1 and %2").arg(from).arg(to)));
        for (int c = from + 1; c < to; ++c) {
            const bool nanOnly = truth[c].any && truth[c].finite.low > truth[c].finite.high;
            QVERIFY2(!nanOnly, qPrintable(QStringLiteral("line bridges NaN column %1").arg(c)));
        }
    }
}

bool hasNan(const QCPGraph *graph)
{
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        if (std::isnan(it->value))
            return true;
    return false;
}

// Live points for channel 0 of the store, and the same for a plain graph.
void addBoth(ChannelStore &store, QCPGraph *plain, const QVector<QCPGraphData> &points, int from,
             int to)
{
    QVector<double> keys, values;
    for (int i = from; i < to; ++i) {
        keys.append(points[i].key);
        values.append(points[i].value);
    }
    store.append(0, keys, values);
    if (plain)
        plain->addData(keys, values, true);
}

// Points of an opened file for channel c.
void mergeInto(ChannelStore &store, int c, const QVector<QCPGraphData> &points)
{
    std::array<PointList, ChannelCount> lists;
    for (const QCPGraphData &p : points)
        lists[std::size_t(c)].push_back({p.key, p.value});
    store.merge(lists);
}

} // namespace

class TestLodGraph : public QObject
{
    Q_OBJECT

private slots:
    void addChannelGraphLikeAddGraph();
    void columns_data();
    void columns();
    void nanAtColumnEdges();
    void imageMatchesPlainGraph_data();
    void imageMatchesPlainGraph();
    void selectTestMatchesPlainGraph();
    void valueRange_data();
    void valueRange();
    void sideBuffer_data();
    void sideBuffer();
    void indexIsSmall();
};

// The graphs draw the store's points themselves, not a copy.
void TestLodGraph::addChannelGraphLikeAddGraph()
{
    QCustomPlot ours, plain;
    ChannelStore store;
    for (int i = 0; i < 4; ++i) {
        QCPGraph *a = LodGraph::addTo(&ours, store, i);
        QCPGraph *b = plain.addGraph();
        QCOMPARE(a->name(), b->name());
        QCOMPARE(a->keyAxis(), ours.xAxis);
        QCOMPARE(a->valueAxis(), ours.yAxis);
        QCOMPARE(ours.graph(i), a);
        QCOMPARE(a->adaptiveSampling(), true);
    }
    QCOMPARE(ours.graphCount(), 4);
    store.append(2, {1.0, 2.0}, {3.0, 4.0}); // seen by the graph without being handed over
    QCOMPARE(ours.graph(2)->dataCount(), 2);
    QCOMPARE(ours.graph(1)->dataCount(), 0);
}

void TestLodGraph::columns_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<double>("viewFrom"); // share of the key span
    QTest::addColumn<double>("viewTo");

    const int n = 200000;
    QTest::newRow("random, full") << Kind::RandomWalk << n << Steps::Whole << 0.0 << 1.0;
    QTest::newRow("random, 10 %") << Kind::RandomWalk << n << Steps::Whole << 0.4123 << 0.5123;
    QTest::newRow("random, sparse") << Kind::RandomWalk << n << Steps::Whole << 0.3012 << 0.3021;
    QTest::newRow("random, beyond") << Kind::RandomWalk << n << Steps::Whole << -0.31 << 0.27;
    QTest::newRow("spike, full") << Kind::Spike << 400003 << Steps::Whole << 0.0 << 1.0;
    QTest::newRow("spike, appended") << Kind::Spike << n << Steps::Blocks << -0.01 << 1.01;
    QTest::newRow("NaN runs, full") << Kind::NanRuns << n << Steps::Whole << -0.002 << 1.0;
    QTest::newRow("NaN runs, 10 %") << Kind::NanRuns << n << Steps::Whole << 0.2317 << 0.3317;
    QTest::newRow("NaN runs, sparse") << Kind::NanRuns << n << Steps::Whole << 0.0241 << 0.0262;
    QTest::newRow("NaN runs, appended") << Kind::NanRuns << n << Steps::Blocks << 0.0 << 1.0;
    QTest::newRow("equal keys") << Kind::EqualKeys << n << Steps::Whole << -0.0013 << 1.0;
    QTest::newRow("non-uniform, full") << Kind::NonUniform << n << Steps::Whole << 0.0 << 1.0;
    QTest::newRow("non-uniform, 10 %") << Kind::NonUniform << n << Steps::Whole << 0.3 << 0.4;
    QTest::newRow("chirp, full") << Kind::Chirp << n << Steps::Whole << 0.0 << 1.0;
    QTest::newRow("chirp, 10 %") << Kind::Chirp << n << Steps::Whole << 0.2 << 0.3;
    QTest::newRow("random, appended") << Kind::RandomWalk << n << Steps::Blocks << 0.0 << 1.0;
    QTest::newRow("appends after clear")
        << Kind::RandomWalk << n << Steps::ClearThenAppend << 0.0 << 1.0;
    QTest::newRow("merge in the middle")
        << Kind::RandomWalk << n << Steps::MergeMiddle << 0.0 << 1.0;
    QTest::newRow("side buffer in the middle")
        << Kind::RandomWalk << n << Steps::WaitInMiddle << 0.0 << 1.0;
    QTest::newRow("side buffer, 10 %")
        << Kind::RandomWalk << n << Steps::WaitInMiddle << 0.3 << 0.4;
}

// The drawn extremes equal the brute-force extremes, and without NaNs the
// drawn points are exactly those of a plain graph with adaptive sampling.
void TestLodGraph::columns()
{
    QFETCH(Kind, kind);
    QFETCH(int, count);
    QFETCH(Steps, steps);
    QFETCH(double, viewFrom);
    QFETCH(double, viewTo);

    QCustomPlot plot;
    plot.resize(727, 536);
    ChannelStore store;
    QCPGraph *lod = LodGraph::addTo(&plot, store, 0);
    QCPGraph *plain = plot.addGraph();
    const QVector<QCPGraphData> points = makeData(kind, count, 7);
    const double span = points.last().key - points.first().key;
    plot.xAxis->setRange(points.first().key + viewFrom * span, points.first().key + viewTo * span);
    plot.yAxis->setRange(-600, 600);
    plot.replot();

    auto check = [&] {
        plot.replot(); // merges the waiting points, as before each redraw
        checkColumns(lod);
        if (QTest::currentTestFailed())
            return;
        if (!hasNan(lod))
            QCOMPARE(GraphAccess::lines(lod), GraphAccess::lines(plain));
    };

    switch (steps) {
    case Steps::Whole: addBoth(store, plain, points, 0, count); break;
    case Steps::Blocks:
        // Redrawn while it grows, as during acquisition.
        for (int from = 0; from < count; from += 250) {
            addBoth(store, plain, points, from, std::min(count, from + 250));
            if ((from / 250) % 197 == 0) {
                check();
                if (QTest::currentTestFailed())
                    return;
            }
        }
        break;
    case Steps::ClearThenAppend: {
        addBoth(store, plain, points, 0, count / 2);
        check();
        store.clear();
        plain->data()->clear();
        const QVector<QCPGraphData> other = makeData(kind, count, 99);
        addBoth(store, plain, other, 0, count);
        break;
    }
    case Steps::MergeMiddle: {
        addBoth(store, plain, points, 0, count);
        check();
        QVector<QCPGraphData> inserted;
        for (int i = 0; i < 5000; ++i)
            inserted.append(QCPGraphData(points[count / 3 + i].key + 0.001, i % 700 ? 0.0 : 550.0));
        mergeInto(store, 0, inserted);
        plain->data()->add(inserted, false);
        break;
    }
    case Steps::WaitInMiddle:
        // Blocks acquired into an opened recording, drawn while they come.
        addBoth(store, plain, points, 0, count);
        check();
        for (int b = 0; b < 50 && !QTest::currentTestFailed(); ++b) {
            QVector<double> keys, values;
            for (int i = 0; i < 100; ++i) {
                const QCPGraphData &p = points[count / 3 + b * 100 + i];
                keys << p.key + 0.001;
                values << (i % 70 ? p.value : 550.0);
                plain->addData(keys.last(), values.last());
            }
            store.append(0, keys, values);
            if (b % 10 == 9)
                check();
        }
        break;
    }
    check();
    if (kind == Kind::Spike && viewTo >= 1.0 && viewFrom <= 0.0) {
        // The one high point shows at its own column.
        const QVector<QPointF> lines = GraphAccess::lines(lod);
        double top = 1e9;
        for (const QPointF &p : lines)
            top = std::min(top, p.y());
        QCOMPARE(top, plot.yAxis->coordToPixel(400.0));
    }
}

// A NaN run that ends with one column or starts with the next still breaks
// the line between them.
void TestLodGraph::nanAtColumnEdges()
{
    QCustomPlot plot;
    plot.resize(727, 536);
    ChannelStore store;
    QCPGraph *lod = LodGraph::addTo(&plot, store, 0);
    plot.xAxis->setRange(0, 1000);
    plot.yAxis->setRange(-10, 10);
    plot.replot();
    const int left = plot.axisRect()->left() + 1;
    const int right = plot.axisRect()->right() - 1;
    QVector<double> keys, values;
    for (int column = left; column < right; ++column) {
        for (int i = 0; i < 10; ++i) {
            const bool gap = (column == left + 100 && i >= 7) || (column == left + 300 && i < 3);
            keys << plot.xAxis->pixelToCoord(column + 0.05 + i * 0.1);
            values << (gap ? missing : std::sin(column * 0.1 + i));
        }
    }
    store.append(0, keys, values);
    checkColumns(lod);
}

void TestLodGraph::imageMatchesPlainGraph_data()
{
    QTest::addColumn<bool>("fastPolylines");
    QTest::newRow("polyline") << false;
    QTest::newRow("fast polylines") << true;
}

// Four channels drawn with 3 px pens look the same with and without the
// index, which draws a view this dense without smoothing the edges.
void TestLodGraph::imageMatchesPlainGraph()
{
    QFETCH(bool, fastPolylines);
    const QColor colours[] = {{50, 153, 213}, {102, 205, 170}, {255, 153, 51}, {153, 102, 255}};
    QImage images[2];
    for (int variant = 0; variant < 2; ++variant) {
        QCustomPlot plot;
        plot.resize(727, 536);
        plot.setPlottingHint(QCP::phFastPolylines, fastPolylines);
        ChannelStore store;
        for (int c = 0; c < 4; ++c) {
            QCPGraph *graph = variant == 0 ? LodGraph::addTo(&plot, store, c) : plot.addGraph();
            graph->setPen(QPen(QBrush(colours[c]), 3));
            QVector<QCPGraphData> points = makeData(Kind::RandomWalk, 150000, 11 + c);
            points[1000 + 7919 * c].value += 300;
            for (auto &p : points)
                p.value = p.value * 0.5 + 100 * c;
            if (variant == 0)
                mergeInto(store, c, points);
            else
                graph->data()->set(points, true);
            graph->setAntialiased(variant == 0); // dense views are drawn unsmoothed
        }
        plot.xAxis->setRange(-10, 380);
        plot.yAxis->setRange(-50, 500);
        images[variant] = plot.toPixmap(727, 536).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QCOMPARE(images[0].size(), images[1].size());
    int inked = 0, different = 0;
    const QRgb background = images[1].pixel(images[1].width() / 2, 2);
    for (int yy = 0; yy < images[0].height(); ++yy) {
        for (int xx = 0; xx < images[0].width(); ++xx) {
            const QRgb a = images[0].pixel(xx, yy), b = images[1].pixel(xx, yy);
            if (b != background)
                ++inked;
            const int diff = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                       std::abs(qBlue(a) - qBlue(b))});
            if (diff > 48)
                ++different;
        }
    }
    QVERIFY2(inked > 15000, "the curves were not drawn");
    QVERIFY2(different <= images[0].width() * images[0].height() / 2000,
             qPrintable(QStringLiteral("%1 pixels differ").arg(different)));
}

// Clicks near and away from a dense curve find it as a plain graph does.
void TestLodGraph::selectTestMatchesPlainGraph()
{
    QCustomPlot plot;
    plot.resize(727, 536);
    ChannelStore store;
    QCPGraph *lod = LodGraph::addTo(&plot, store, 0);
    QCPGraph *plain = plot.addGraph();
    const QVector<QCPGraphData> points = makeData(Kind::RandomWalk, 400000, 5);
    mergeInto(store, 0, points);
    plain->data()->set(points, true);
    plot.xAxis->setRange(-1, 1001);
    plot.yAxis->setRange(-600, 600);
    plot.replot();

    QRandomGenerator rng(3);
    const QRect rect = plot.axisRect()->rect();
    int hits = 0;
    for (int i = 0; i < 300; ++i) {
        QPointF pos(rect.left() + rng.bounded(rect.width()),
                    rect.top() + rng.bounded(rect.height()));
        if (i % 2) // half of them right next to the curve
            pos.setY(plot.yAxis->coordToPixel(points[rng.bounded(points.size())].value) + 3);
        QVariant details;
        const double ours = lod->selectTest(pos, false, &details);
        const double theirs = plain->selectTest(pos, false);
        QVERIFY(std::abs(ours - theirs) <= 1.0 || (ours > 20 && theirs > 20));
        if (ours < plot.selectionTolerance()) {
            ++hits;
            QVERIFY(!details.value<QCPDataSelection>().isEmpty());
        }
    }
    QVERIFY(hits > 50);
    QCOMPARE(lod->selectTest(QPointF(rect.left() - 5, rect.top() - 5), false), -1.0);
}

void TestLodGraph::valueRange_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("allNan");
    QTest::newRow("empty") << Kind::RandomWalk << 0 << false;
    QTest::newRow("short") << Kind::RandomWalk << 50 << false;
    QTest::newRow("random") << Kind::RandomWalk << 300001 << false;
    QTest::newRow("NaN runs") << Kind::NanRuns << 100000 << false;
    QTest::newRow("all NaN") << Kind::RandomWalk << 1000 << true;
}

// Fitting the value axis reads the index and gives what the container gives.
void TestLodGraph::valueRange()
{
    QFETCH(Kind, kind);
    QFETCH(int, count);
    QFETCH(bool, allNan);
    QCustomPlot plot;
    ChannelStore store;
    QCPGraph *lod = LodGraph::addTo(&plot, store, 0);
    QVector<QCPGraphData> points = makeData(kind, count, 1);
    if (allNan)
        for (auto &p : points)
            p.value = missing;
    mergeInto(store, 0, points);
    bool ourFound = true, theirFound = true;
    const QCPRange ours = lod->getValueRange(ourFound);
    const QCPRange theirs = lod->data()->valueRange(theirFound);
    QCOMPARE(ourFound, theirFound);
    if (theirFound)
        QCOMPARE(ours, theirs);
    if (count > 0) {
        store.append(0, {points.last().key + 1}, {12345.0});
        QCOMPARE(lod->getValueRange(ourFound).upper, 12345.0);
    }
}

namespace {

enum class Arrival { Middle, EqualTimes, BeforeAll, Unsorted, NanValues, NanTimeHeld, NoReader };

bool keyBefore(double a, double b)
{
    return a < b || (!std::isnan(a) && std::isnan(b));
}

// Adding the points one by one: each goes after every point of the same or
// an earlier time.
QVector<QCPGraphData> addedOneByOne(QVector<QCPGraphData> held, const QVector<QCPGraphData> &added)
{
    for (const QCPGraphData &p : added) {
        auto at = std::upper_bound(held.begin(), held.end(), p, [](const auto &a, const auto &b) {
            return keyBefore(a.key, b.key);
        });
        held.insert(at, p);
    }
    return held;
}

bool samePoints(const QCPGraphDataContainer &a, const QVector<QCPGraphData> &b)
{
    return std::equal(a.constBegin(), a.constEnd(), b.begin(), b.end(),
                      [](const QCPGraphData &x, const QCPGraphData &y) {
                          return std::memcmp(&x, &y, sizeof x) == 0; // NaN equals NaN
                      });
}

} // namespace

void TestLodGraph::sideBuffer_data()
{
    QTest::addColumn<Arrival>("arrival");
    QTest::addColumn<bool>("distinctTimes"); // then a plain graph's addData gives the same
    QTest::newRow("inside the recording") << Arrival::Middle << true;
    QTest::newRow("equal times: held first, then in order") << Arrival::EqualTimes << false;
    QTest::newRow("before every point") << Arrival::BeforeAll << true;
    QTest::newRow("out of order") << Arrival::Unsorted << false;
    QTest::newRow("NaN values") << Arrival::NanValues << true;
    QTest::newRow("NaN time held stays last") << Arrival::NanTimeHeld << false;
    QTest::newRow("many points, nothing reads") << Arrival::NoReader << true;
}

// Points added in blocks (live acquisition) land where one addData call per
// point would put them; the readers count the waiting points without merging
// them, the replot merges them, and the summary follows.
void TestLodGraph::sideBuffer()
{
    QFETCH(Arrival, arrival);
    QFETCH(bool, distinctTimes);
    QCustomPlot plot;
    ChannelStore store;
    QCPGraph *lod = LodGraph::addTo(&plot, store, 0);
    const ChannelData &channel = store.channel(0);
    QCPGraph *plain = plot.addGraph();
    QRandomGenerator rng(17);

    QVector<QCPGraphData> held = makeData(Kind::RandomWalk, 20000, 3); // 0 .. 50 s
    if (arrival == Arrival::EqualTimes)
        for (int k = 0; k < held.size(); ++k)
            held[k].key = (k + 1) / 4000.0;
    if (arrival == Arrival::BeforeAll)
        for (auto &p : held)
            p.key += 100;
    if (arrival == Arrival::NanTimeHeld)
        held.append(QCPGraphData(missing, 5.0));
    mergeInto(store, 0, held);
    plain->data()->set(held, true);
    plot.replot(); // the summary is built

    QVector<QVector<QCPGraphData>> blocks;
    const int blockCount = arrival == Arrival::NoReader ? 700 : 5;
    for (int b = 0; b < blockCount; ++b) {
        QVector<QCPGraphData> block;
        for (int j = 0; j < 100; ++j) {
            const int scan = b * 100 + j + 1;
            double key = 10.0001 + scan / 4000.0;
            if (arrival == Arrival::EqualTimes)
                key = (scan + scan / 50) / 4000.0; // every 50th time twice
            if (arrival == Arrival::BeforeAll || arrival == Arrival::NanTimeHeld)
                key = scan / 4000.0;
            if (arrival == Arrival::Unsorted)
                key = 10 + rng.bounded(400) / 4000.0;
            const double value =
                arrival == Arrival::NanValues && j % 3 ? missing : rng.bounded(1000.0) - 500;
            block.append(QCPGraphData(key, value));
        }
        blocks.append(block);
    }

    QVector<QCPGraphData> added;
    for (const auto &block : blocks) {
        QVector<double> keys, values;
        for (const QCPGraphData &p : block) {
            keys << p.key;
            values << p.value;
            plain->addData(p.key, p.value);
        }
        store.append(0, keys, values);
        added += block;
    }
    const QVector<QCPGraphData> expected = addedOneByOne(held, added);
    QCPGraphDataContainer model;
    model.set(expected, true);

    const int waiting = channel.waitingCount();
    QVERIFY(arrival == Arrival::NoReader ? waiting < (1 << 14) : waiting == added.size());
    bool ours = false, theirs = false;
    const QCPRange keyRange = lod->getKeyRange(ours);
    const QCPRange expectedRange = model.keyRange(theirs);
    QCOMPARE(ours, theirs);
    QVERIFY(std::memcmp(&keyRange, &expectedRange, sizeof keyRange) == 0); // NaN too
    QCOMPARE(channel.waitingCount(), waiting); // fitting the time axis does not merge

    // The point nearest in time, as a search of all points in order finds it
    // (nearer, or as near and earlier, or the first at that time), without
    // merging the waiting points.
    const int stillWaiting = channel.waitingCount();
    for (int k = 0; k < 60; ++k) {
        const double key = k < 10 ? expected[rng.bounded(expected.size())].key + (k % 3 - 1) * 1e-4
                                  : rng.generateDouble() * 70 - 5;
        const QCPGraphData *best = nullptr;
        for (const QCPGraphData &p : expected) {
            if (std::isnan(p.key))
                continue;
            const double d = std::abs(p.key - key);
            if (!best || d < std::abs(best->key - key) ||
                (d == std::abs(best->key - key) && p.key < best->key))
                best = &p;
        }
        const std::optional<DataPoint> found = channel.nearestPoint(key);
        QVERIFY(found && best);
        QVERIFY2(std::memcmp(&*found, best, sizeof *best) == 0,
                 qPrintable(QString("key %1: found %2 %3, expected %4 %5")
                                .arg(key)
                                .arg(found->key)
                                .arg(found->value)
                                .arg(best->key)
                                .arg(best->value)));
    }
    // The status bar's latest time, also without merging.
    double latest = -1e300;
    for (const QCPGraphData &p : expected)
        latest = std::isnan(p.key) ? latest : std::max(latest, p.key);
    QCOMPARE(channel.lastKey().value_or(missing), latest);
    // Nor do the value range, which counts them, and the point count.
    QCOMPARE(lod->getValueRange(ours), model.valueRange(theirs));
    QCOMPARE(lod->dataCount() + channel.waitingCount(), expected.size());
    QCOMPARE(channel.waitingCount(), stillWaiting);
    plot.replot();
    QCOMPARE(lod->dataCount(), expected.size());
    QCOMPARE(channel.waitingCount(), 0);
    QVERIFY(samePoints(*lod->data(), expected));
    if (distinctTimes)
        QVERIFY(samePoints(*plain->data(), expected));
}

// The summary costs a few percent of the points it covers, beside the
// measurement's sums that follow the live points (with room to grow).
void TestLodGraph::indexIsSmall()
{
    QCustomPlot plot;
    plot.resize(727, 536);
    ChannelStore store;
    LodGraph::addTo(&plot, store, 0);
    const ChannelData &channel = store.channel(0);
    const QVector<QCPGraphData> points = makeData(Kind::RandomWalk, 1000000, 2);
    for (int from = 0; from < points.size(); from += 100000) {
        addBoth(store, nullptr, points, from, from + 100000);
        plot.xAxis->setRange(0, points[from].key + 1);
        plot.replot();
    }
    QVERIFY(channel.sideBytes() > 0);
    const double sums = 2.0 * double(points.size() / 64 + 1) * sizeof(ChannelData::OrdinaryTotals);
    QVERIFY2(channel.sideBytes() <= 0.05 * points.size() * sizeof(QCPGraphData) + sums,
             qPrintable(QString::number(channel.sideBytes())));
    store.clear();
    QVERIFY(channel.sideBytes() < 1000);
}

int runLodGraphTests(int argc, char **argv)
{
    TestLodGraph tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_lodgraph.moc"
