#include <QtTest>

#include <QAction>
#include <QClipboard>
#include <QInputDialog>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>
#include <random>

#include "channelpoints.h"
#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "dialoganswer.h"
#include "mainwindow/channelstore.h"
#include "acquisition/liverun.h"
#include "datafiles/runnotes.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/measurement.h"
#include "mainwindow/measurewindow.h"
#include "mainwindow/memoryguard.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"

using Points = QVector<QCPGraphData>;
using Lists = std::array<Points, ChannelCount>;

namespace {

enum class Data {
    None,
    Random,
    EqualTimes,
    OnePoint,
    Waiting,
    OpenedFile,
    Opening,
    Infinite,
    Huge
};

// Plain Neumaier sum, point by point; plain from the first infinity on.
struct PlainSum
{
    double s = 0, c = 0;
    void add(double x)
    {
        const double t = s + x;
        if (!std::isfinite(t)) {
            s = t;
            return;
        }
        c += std::abs(s) >= std::abs(x) ? (s - t) + x : (x - t) + s;
        s = t;
    }
    double value() const { return s + c; }
};

Points randomPoints(std::mt19937_64 &random, int n, double start, double offset, bool repeatTimes)
{
    std::uniform_real_distribution<double> step(0.0005, 0.0015), noise(-1, 1);
    Points points;
    double t = start;
    for (int k = 0; k < n; ++k) {
        if (!repeatTimes || k % 3 == 0)
            t += step(random);
        points.append({t, offset + noise(random) + std::sin(t)});
    }
    return points;
}

// The store as the data says, and the same points in time order beside it.
Lists fill(ChannelStore &store, Data data)
{
    std::mt19937_64 random(19);
    const double offsets[ChannelCount] = {400, 2, 3, 12};
    Lists lists;
    auto live = [&](const Points &points, int c) {
        QVector<double> keys, values;
        for (const QCPGraphData &p : points)
            keys << p.key, values << p.value;
        store.append(c, keys, values);
    };
    for (int c = 0; c < ChannelCount; ++c) {
        Points &points = lists[std::size_t(c)];
        switch (data) {
        case Data::None: break;
        case Data::OnePoint: points = {{1.0, offsets[c]}}; break;
        case Data::Random:
        case Data::EqualTimes:
        case Data::Opening:
        case Data::Infinite:
        case Data::Huge: {
            random.seed(19); // the same times on every channel
            points = randomPoints(random, 200000, 0, 0, data == Data::EqualTimes);
            for (QCPGraphData &p : points)
                p.value += offsets[c] + 0.01 * c * p.key;
            // At 0.010 s: I infinite or huge, U2 both ways; U1 * I past the largest double.
            const double infinite[ChannelCount] = {400, INFINITY, 3, -INFINITY};
            const double huge[ChannelCount] = {1e200, 1e200, 1e300, -1.5e308};
            if (data == Data::Infinite || data == Data::Huge)
                points[10].value = (data == Data::Huge ? huge : infinite)[c];
            if (c == ChannelU2 && (data == Data::Infinite || data == Data::Huge))
                points[11].value = data == Data::Huge ? 1.7e308 : INFINITY;
            break;
        }
        case Data::Waiting: {
            random.seed(19);
            points = randomPoints(random, 100000, 0, offsets[c], false);
            // A late block from before the last time waits beside the points.
            Points late = randomPoints(random, 5000, 50.00025, offsets[c], false);
            live(points, c);
            live(late, c);
            points += late;
            std::stable_sort(points.begin(), points.end(),
                             [](const auto &x, const auto &y) { return x.key < y.key; });
            continue;
        }
        case Data::OpenedFile:
            // U1 at its own times, I at others, and a different count.
            points =
                randomPoints(random, c == ChannelI ? 90000 : 120000, 0.0003 * c, offsets[c], false);
            break;
        }
        if (data == Data::Opening) {
            continue;
        } else if (data == Data::OpenedFile) {
            std::array<PointList, ChannelCount> file;
            for (const QCPGraphData &p : points)
                file[std::size_t(c)].push_back({p.key, p.value});
            store.merge(file);
        } else {
            live(points, c);
        }
    }
    if (data == Data::Random) { // a point merged far back: the sums hold up to it
        const QCPGraphData p(lists[0][100000].key, 401);
        store.settle(ChannelStore::Settle::Summaries); // as a redraw does
        mergePoints(store, {p}, {ChannelU1, ChannelI});
        lists[0].insert(100001, p), lists[1].insert(100001, p);
    }
    if (data == Data::Opening) { // as the window opens a file, summarised on its worker
        OpenedPoints opened;
        store.beginOpen(opened);
        for (int c = 0; c < ChannelCount; ++c)
            for (const QCPGraphData &p : lists[std::size_t(c)])
                opened.append(c, {p.key, p.value});
        ChannelStore::prepare(opened);
        store.endOpen(&opened);
    }
    return lists;
}

// Linear between the points around key, the nearest end's value outside.
double plainValueAt(const Points &points, double key)
{
    if (points.isEmpty())
        return NAN;
    int k = 0;
    while (k < points.size() && points[k].key < key)
        ++k;
    if (k == points.size())
        return points.last().value;
    if (k == 0 || points[k].key == key)
        return points[k].value;
    const QCPGraphData &p = points[k - 1], &q = points[k];
    return p.value + (q.value - p.value) * ((key - p.key) / (q.key - p.key));
}

double orUndefined(double x)
{
    return std::isfinite(x) ? x : NAN;
}

// x / y: infinite only where x is.
double quotientOf(double x, double y)
{
    return std::isfinite(y) && (std::isinf(x) || std::isfinite(x / y)) && y != 0 ? x / y : NAN;
}

// The table computed point by point from the plain lists.
Measurement plainMeasurement(const Lists &lists, double a, double b)
{
    Measurement m{};
    m.a = a, m.b = b, m.dt = b - a, m.rate = orUndefined(1 / m.dt);
    const double low = std::min(a, b), high = std::max(a, b), sign = a <= b ? 1 : -1;
    Lists inside;
    int offset = 0; // I's first point inside
    for (int c = 0; c < ChannelCount; ++c) {
        const double scale = c == ChannelT ? 10 : 1;
        ChannelMeasurement &cm = m.channels[std::size_t(c)];
        PlainSum sum, squares;
        double lo = INFINITY, hi = -INFINITY;
        for (const QCPGraphData &p : lists[std::size_t(c)]) {
            if (p.key < low || p.key > high) {
                offset += c == ChannelI && p.key < low;
                continue;
            }
            inside[std::size_t(c)] << p;
            sum.add(p.value);
            lo = std::min(lo, p.value), hi = std::max(hi, p.value);
            cm.infinite += std::isinf(p.value);
        }
        const double largest = std::max(std::abs(lo), std::abs(hi)); // squares scaled by it
        for (const QCPGraphData &p : inside[std::size_t(c)])
            squares.add((p.value / largest) * (p.value / largest));
        const double n = inside[std::size_t(c)].size();
        cm.points = qint64(n);
        cm.atA = plainValueAt(lists[std::size_t(c)], a) * scale;
        cm.atB = plainValueAt(lists[std::size_t(c)], b) * scale;
        cm.delta = cm.atB - cm.atA;
        cm.low = n ? lo * scale : NAN, cm.high = n ? hi * scale : NAN;
        cm.peakToPeak = cm.high - cm.low;
        cm.mean = n ? sum.value() / n * scale : NAN;
        cm.rms = n ? std::sqrt(squares.value() / n) * largest * scale : NAN;
        if (std::isinf(largest))
            cm.rms = n ? INFINITY : NAN;
    }
    const Points &current = inside[ChannelI];
    const bool sameTimes = std::equal(lists[ChannelU1].begin(), lists[ChannelU1].end(),
                                      lists[ChannelI].begin(), lists[ChannelI].end(),
                                      [](const auto &x, const auto &y) { return x.key == y.key; });
    PlainSum charge, energy;
    auto power = [&](int k) {
        const double u = sameTimes ? lists[ChannelU1][offset + k].value
                                   : plainValueAt(lists[ChannelU1], current[k].key);
        return u * current[k].value;
    };
    for (int k = 1; k < current.size(); ++k) {
        const double dt = current[k].key - current[k - 1].key;
        charge.add(dt * (current[k - 1].value + current[k].value) / 2);
        energy.add(dt * (power(k - 1) + power(k)) / 2);
    }
    m.charge = current.isEmpty() ? NAN : sign * charge.value();
    m.energy = current.isEmpty() || lists[ChannelU1].isEmpty() ? NAN : sign * energy.value();
    m.power = quotientOf(m.energy, m.dt);
    m.capacitance = quotientOf(m.charge, m.channels[ChannelU1].delta);
    m.resistance = quotientOf(m.channels[ChannelU1].delta, m.channels[ChannelI].delta);
    return m;
}

void compare(double got, double want, const char *what, int c = -1)
{
    const QString where =
        QString::fromLatin1(what) + (c >= 0 ? QString::number(c) : QString()) +
        QStringLiteral(": %1 against %2").arg(got, 0, 'g', 17).arg(want, 0, 'g', 17);
    if (std::isinf(want)) {
        QVERIFY2(got == want, qPrintable(where));
        return;
    }
    QVERIFY2(!std::isinf(got), qPrintable(where));
    if (std::isnan(want)) {
        QVERIFY2(std::isnan(got), qPrintable(where));
        return;
    }
    QVERIFY2(std::abs(got - want) <= 1e-9 * std::abs(want) + 1e-300, qPrintable(where));
}

// The cursors' times: A, then B.
std::array<double, 2> cursorTimes(const MainWindow &w)
{
    return {w.plotPanel().cursorTime(PlotCursors::A), w.plotPanel().cursorTime(PlotCursors::B)};
}

void sendMouse(QCustomPlot *plot, QEvent::Type type, double x, Qt::MouseButtons held)
{
    const QPointF pos(x, plot->axisRect()->rect().center().y());
    QMouseEvent event(type, pos, plot->mapToGlobal(pos),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(plot, &event);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMeasurement : public QObject
{
    Q_OBJECT

private slots:
    void figures_data();
    void figures();
    void numbersReadBack();
    void inTheWindow();
};

void TestMeasurement::figures_data()
{
    QTest::addColumn<Data>("data");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::newRow("random") << Data::Random << 13.3701 << 171.9034;
    QTest::newRow("random, short range late") << Data::Random << 199.91 << 199.97;
    QTest::newRow("random, within a bucket") << Data::Random << 100.0101 << 100.0402;
    QTest::newRow("A after B") << Data::Random << 150.5 << 20.25;
    QTest::newRow("A on B") << Data::Random << 77.7 << 77.7;
    QTest::newRow("equal times") << Data::EqualTimes << 3.1 << 60.7;
    QTest::newRow("one point") << Data::OnePoint << 0.5 << 2.0;
    QTest::newRow("one point, outside") << Data::OnePoint << 2.0 << 3.0;
    QTest::newRow("no points") << Data::None << 0.0 << 1.0;
    QTest::newRow("cursors before the data") << Data::Random << -5.0 << -1.0;
    QTest::newRow("cursors around the data") << Data::Random << -5.0 << 1e6;
    QTest::newRow("side buffer waiting") << Data::Waiting << 40.0 << 60.0;
    QTest::newRow("opened file, other times") << Data::OpenedFile << 10.123 << 80.456;
    QTest::newRow("opened on the worker") << Data::Opening << 13.3701 << 171.9034;
    QTest::newRow("infinities, range after them") << Data::Infinite << 13.3701 << 171.9034;
    QTest::newRow("infinities, range with them") << Data::Infinite << 0.0 << 20.5;
    QTest::newRow("huge values, range after them") << Data::Huge << 13.3701 << 171.9034;
    QTest::newRow("huge values, range with them") << Data::Huge << 20.5 << 0.0;
}

// Every figure against the plain computation over the same points.
void TestMeasurement::figures()
{
    QFETCH(Data, data);
    QFETCH(double, a);
    QFETCH(double, b);
    ChannelStore store;
    const Lists lists = fill(store, data);
    // Read before the store settles, Q, E and I's maximum are those of the points held.
    const auto [iFirst, iEnd] = store.channel(ChannelI).span(std::min(a, b), std::max(a, b));
    const auto heldQE = [&store, f = iFirst, e = iEnd] {
        const ChannelData &i = store.channel(ChannelI);
        return std::array<double, 3>{i.totals(f, e).area.value(), store.energy(f, e),
                                     i.extremes(int(f), int(e)).high};
    };
    const std::array<double, 3> unsettled = heldQE();
    if (data == Data::Waiting)
        QVERIFY(store.channel(ChannelU1).waitingCount() > 0);
    // The sums are there before the first measurement, counted as memory held:
    // they follow the live points, an opened file's come from the worker.
    if (data != Data::OpenedFile) {
        RecordingMemory use;
        store.addMemoryUse(use);
        qint64 sums = qint64(store.channel(ChannelI).view().size() / 64 * sizeof(CompensatedSum));
        for (int c = 0; c < ChannelCount; ++c)
            sums += store.channel(c).view().size() / 64 * sizeof(ChannelData::OrdinaryTotals);
        QVERIFY2(use.otherBytes >= sums, qPrintable(QString::number(use.otherBytes)));
    }
    const Measurement got = measure(store, a, b);
    const Measurement want = plainMeasurement(lists, a, b);
    compare(got.dt, want.dt, "dt");
    compare(got.rate, want.rate, "1/dt");
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelMeasurement &g = got.channels[std::size_t(c)];
        const ChannelMeasurement &w = want.channels[std::size_t(c)];
        QCOMPARE(g.points, w.points);
        QCOMPARE(g.infinite, w.infinite);
        compare(g.atA, w.atA, "at A ", c);
        compare(g.atB, w.atB, "at B ", c);
        compare(g.delta, w.delta, "delta ", c);
        compare(g.low, w.low, "min ", c);
        compare(g.high, w.high, "max ", c);
        compare(g.peakToPeak, w.peakToPeak, "peak-to-peak ", c);
        compare(g.mean, w.mean, "mean ", c);
        compare(g.rms, w.rms, "rms ", c);
    }
    compare(got.charge, want.charge, "Q");
    compare(got.energy, want.energy, "E");
    compare(got.power, want.power, "P");
    compare(got.capacitance, want.capacitance, "C");
    compare(got.resistance, want.resistance, "R");
    for (int k = 0; k < 3 && data != Data::Waiting; ++k)
        compare(unsettled[std::size_t(k)], heldQE()[std::size_t(k)], "Q, E, max held ", k);

    // Asked again after more points: the sums follow the store.
    if (data == Data::Random && std::max(a, b) < 1000) {
        store.append(ChannelI, {1000.0}, {5.0});
        QCOMPARE(measure(store, a, b).charge, got.charge);
        QCOMPARE(measure(store, 999.0, 1001.0).channels[ChannelI].points, qint64(1));
    }
}

void TestMeasurement::numbersReadBack()
{
    for (double x : {0.1, -1.0 / 3, 6.02214076e23, 5e-324, 400.0, -0.0}) {
        const QString text = exactNumberText(x);
        QVERIFY2(!text.contains(QLatin1Char(',')), qPrintable(text));
        QCOMPARE(text.toDouble(), x);
    }
    QCOMPARE(exactNumberText(0.1), QStringLiteral("0.1"));
    QCOMPARE(exactNumberText(NAN), QStringLiteral("—"));
    QCOMPARE(exactNumberText(INFINITY), QStringLiteral("—"));
}

// One path through the window: switch on, drag A, step it with the arrow
// keys, copy, and save and export the range.
void TestMeasurement::inTheWindow()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCustomPlot *plot = w.form()->customPlot_VIT;
    QVector<QCPGraphData> points;
    for (int k = 0; k < 3000; ++k)
        points.append({k * 0.01, 100 + 50 * std::sin(k * 0.003)});
    mergePoints(w.channelStore(), points);
    w.form()->btn_show_all->click();
    const QCPRange view = plot->xAxis->range();

    w.form()->menu_cursors->trigger();
    auto *table = w.findChild<QWidget *>(QStringLiteral("measureWindow"));
    QVERIFY(table && table->isVisible() && !table->isModal());
    std::array<double, 2> times = cursorTimes(w);
    QCOMPARE(times[0], view.lower + view.size() / 3);
    QCOMPARE(times[1], view.lower + view.size() * 2 / 3);
    // A picture of the plot shows both lines.
    const QImage picture = plot->toPixmap().toImage();
    for (double t : times) {
        const int x = int(std::lround(plot->xAxis->coordToPixel(t)));
        int red = 0;
        for (int y = plot->axisRect()->top(); y < plot->axisRect()->bottom(); ++y) {
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = picture.pixelColor(x + dx, y);
                red += c.red() > 150 && c.green() < 120 && c.blue() < 120;
            }
        }
        QVERIFY2(red > plot->axisRect()->height() / 4, qPrintable(QString::number(red)));
    }

    // Dragging A moves A, not the view.
    const double from = plot->xAxis->coordToPixel(times[0]) + 2;
    const double to = from - 100;
    sendMouse(plot, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseMove, from - 50, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseMove, to, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseButtonRelease, to, Qt::NoButton);
    QCOMPARE(plot->xAxis->range(), view);
    times = cursorTimes(w);
    QCOMPARE(times[0], plot->xAxis->pixelToCoord(to));

    // A click moves the nearer cursor: B.
    const double click = plot->xAxis->coordToPixel(times[1]) + 30;
    sendMouse(plot, QEvent::MouseButtonPress, click, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseButtonRelease, click, Qt::NoButton);
    QCOMPARE(cursorTimes(w)[1], plot->xAxis->pixelToCoord(click));

    // The arrow keys step B, the last used, over U1's points.
    const double b = cursorTimes(w)[1];
    const double next = points[int(std::floor(b / 0.01)) + 1].key;
    QTest::keyClick(plot, Qt::Key_Right);
    QTest::keyClick(plot, Qt::Key_Right);
    QTest::keyClick(plot, Qt::Key_Left);
    QCOMPARE(cursorTimes(w)[1], next);
    times = cursorTimes(w);

    // A marker at cursor A while stopped, its text typed at once, shown as
    // plain text and cut short; dragged like the cursors.
    w.form()->menu_add_marker->trigger();
    auto *ask = w.findChild<QInputDialog *>();
    QVERIFY(ask && ask->isVisible());
    const QString text = "<b>开门</b>\t" + QString(50, 'x');
    ask->setTextValue(text);
    ask->accept();
    const LiveRun &live = w.liveRun();
    QCOMPARE(live.notes().markers.size(), 1u);
    QCOMPARE(live.notes().markers[0].time, times[0]);
    QCOMPARE(w.plotPanel().markers().labelText(0), "<b>开门</b> " + QString(30, 'x') + "…");
    w.liveRun().changeMarker(0, {(times[0] + times[1]) / 2, text});
    const double at = plot->xAxis->coordToPixel(live.notes().markers[0].time);
    sendMouse(plot, QEvent::MouseButtonPress, at + 1, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseMove, at + 20, Qt::LeftButton);
    sendMouse(plot, QEvent::MouseButtonRelease, at + 20, Qt::NoButton);
    QCOMPARE(live.notes().markers[0].time, plot->xAxis->pixelToCoord(at + 20));
    QCOMPARE(live.notes().markers[0].text, text);
    QCOMPARE(cursorTimes(w), times);
    // Five more within a pixel: one line, four labels staggered, the rest hidden.
    for (int k = 1; k <= 5; ++k)
        w.liveRun().addMarker(live.notes().markers[0].time + k * 1e-9, "m");
    plot->replot();
    const PlotMarkers &drawn = w.plotPanel().markers();
    QStringList shown;
    for (int k = 0; k < drawn.lineCount(); ++k)
        shown << QString("%1%2").arg(drawn.lineShown(k)).arg(drawn.labelShown(k));
    QCOMPARE(shown.join(' '), "11 01 01 01 00 00");
    for (int k = 5; k >= 1; --k)
        w.liveRun().removeMarker(k);

    // Copied as tab-separated exact numbers, whatever the locale.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    w.form()->menu_copy_measurements->trigger();
    QLocale::setDefault(before);
    const QStringList lines =
        QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const Measurement m = measure(w.channelStore(), times[0], times[1]);
    QCOMPARE(lines.size(), 1 + 4 + 4 + 5);
    QCOMPARE(lines[0].split(QLatin1Char('\t')).size(), 10);
    QCOMPARE(lines[1].split(QLatin1Char('\t')).value(1).toDouble(), times[0]);
    const QStringList u1 = lines[5].split(QLatin1Char('\t'));
    QCOMPARE(u1.value(0), QStringLiteral("U1 (V)"));
    QCOMPARE(u1.value(7).toDouble(), m.channels[ChannelU1].mean);
    QCOMPARE(u1.value(9).toLongLong(), m.channels[ChannelU1].points);
    QCOMPARE(lines[9].split(QLatin1Char('\t')).value(1).toDouble(), m.charge);
    // Its message goes with the table, and again with a clear.
    const QString copied = w.statusBar()->currentMessage();
    QVERIFY(!copied.isEmpty());
    table->close();
    QCOMPARE(w.statusBar()->currentMessage(), QString());
    // An infinite maximum shows as such, and its tool tip says why.
    Measurement infinite = m;
    infinite.channels[ChannelI].high = INFINITY;
    infinite.channels[ChannelI].infinite = 1;
    auto *figures = qobject_cast<MeasureWindow *>(table);
    figures->setMeasurement(infinite, {true, true, true, true});
    QCOMPARE(figures->table()->item(8, ChannelI)->text(), QStringLiteral("∞"));
    QVERIFY(!figures->table()->item(8, ChannelI)->toolTip().isEmpty());

    // Save and export of the range: the bytes of a file holding just those points.
    QTemporaryDir dir;
    ChannelStore range;
    QVector<QCPGraphData> inside;
    for (const QCPGraphData &p : points)
        if (p.key >= times[0] && p.key <= times[1])
            inside << p;
    QCOMPARE(qint64(inside.size()), m.channels[ChannelU1].points);
    mergePoints(range, inside);
    QBuffer saved, exported;
    saved.open(QIODevice::WriteOnly);
    exported.open(QIODevice::WriteOnly);
    QVERIFY(writeDataFile(saved, range.views()) && writeCsvFile(exported, range.views()));
    {
        DialogAnswer answer(dir.filePath(QStringLiteral("range.txt")));
        w.form()->menu_save_range->trigger();
        QVERIFY(waitForFileWork(w));
    }
    {
        DialogAnswer answer(dir.filePath(QStringLiteral("range.csv")));
        w.form()->menu_export_range->trigger();
        QVERIFY(waitForFileWork(w));
    }
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("range.txt"))), saved.data());
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("range.csv"))), exported.data());
    // The range's notes hold the marker inside it.
    const RunNotesRead rangeNotes = readRunNotes(fileBytes(dir.filePath("range.txt.notes")));
    QCOMPARE(rangeNotes.notes.markers, live.notes().markers);

    w.form()->menu_copy_measurements->trigger();
    QCOMPARE(w.statusBar()->currentMessage(), copied);
    w.form()->btn_clear_data->click();
    QVERIFY(!w.form()->menu_cursors->isChecked() && !table->isVisible());
    QVERIFY(w.statusBar()->currentMessage() != copied);
}

int runMeasurementTests(int argc, char **argv)
{
    TestMeasurement tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_measurement.moc"
