#include "mainwindow/plotpanel.h"

#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLineF>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

#include "acquisition/cycleanalysis.h"
#include "mainwindow/channelstore.h"
#include "mainwindow/cycledrawing.h"
#include "mainwindow/lodgraph.h"
#include "mainwindow/plotoverlay.h"
#include "mainwindow/plotsetup.h"

namespace {

// A press this near a line (pixels) drags it; a press that moves no farther
// than clickDistance before its release is a click.
constexpr double grabDistance = 6;
constexpr double clickDistance = 3;

// Fixed decimals, but exponent form for a value they would run off the box
// with or round to zero.
QString readoutNumber(const QLocale &locale, double value, int decimals)
{
    const double magnitude = std::abs(value);
    if (value != 0 && (magnitude >= 1e9 || magnitude < 0.5 * std::pow(10.0, -decimals)))
        return locale.toString(value, 'e', 3);
    return locale.toString(value, 'f', decimals);
}

} // namespace

PlotPanel::PlotPanel(QCustomPlot *plot, ChannelStore &store, QWidget *window)
    : QObject(window), plot(plot), channels(store), window(window),
      graphU1(LodGraph::addTo(plot, store, ChannelU1)),
      graphI(LodGraph::addTo(plot, store, ChannelI)),
      graphT(LodGraph::addTo(plot, store, ChannelT)),
      graphU2(LodGraph::addTo(plot, store, ChannelU2)), overlay(new PlotOverlay(plot)),
      cursors(std::make_unique<PlotCursors>(plot)),
      markerLines(std::make_unique<PlotMarkers>(plot)), draggable{cursors.get(), markerLines.get()},
      cycleItems(std::make_unique<CycleDrawing>(plot))
{
    for (int c = 0; c < ChannelCount; ++c)
        channelGraph(c)->setPen(channelPen(c));
    setUpPlotFrame(plot);
    retranslate();

    // Draws each line segment on its own instead of stroking one long path:
    // the same picture, drawn several times faster.
    plot->setPlottingHint(QCP::phFastPolylines, true);

    connect(plot, &QCustomPlot::mousePress, this, &PlotPanel::onPlotMousePress);
    // A fast second click arrives as a double click instead of a press.
    connect(plot, &QCustomPlot::mouseDoubleClick, this, &PlotPanel::onPlotMousePress);
    connect(plot, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *event) {
        pressHeld = false;
        lineRelease(event);
    });
    plot->setMouseTracking(true);   // moves without a button held, for the readout
    plot->installEventFilter(this); // the arrow keys move a line
    connect(plot, &QCustomPlot::mouseMove, this, &PlotPanel::onPlotMouseMove);
    connect(plot, &QCustomPlot::afterReplot, this, [this] {
        if (overlay->cursorShown())
            showReadout(); // the view or the data moved under the cursor
    });
    connect(plot->xAxis, qOverload<const QCPRange &, const QCPRange &>(&QCPAxis::rangeChanged),
            this, &PlotPanel::onTimeRangeChanged);
}

PlotPanel::~PlotPanel() = default; // the plot owns the graphs and items

QCPGraph *PlotPanel::channelGraph(int channel) const
{
    switch (channel) {
    case ChannelU1: return graphU1;
    case ChannelI: return graphI;
    case ChannelT: return graphT;
    case ChannelU2: return graphU2;
    default: return nullptr;
    }
}

void PlotPanel::retranslate()
{
    setPlotLabels(plot);
    setFollowing(followLive);
    if (overlay->cursorShown())
        showReadout();
}

void PlotPanel::toggleZoomMode()
{
    setZoomMode(!zooming, true);
}

// Zoom clicks select no graph: selection is off while the mode is on, and
// after a press on the plot ended it, until the next press (the ending
// press's release would select otherwise).
void PlotPanel::setZoomMode(bool on, bool selectAgain)
{
    if (on) {
        const QPixmap pixmap(QStringLiteral(":/img/Zoom_In.png"));
        window->setCursor(QCursor(pixmap, -1, -1)); // hot spot at the centre
    } else {
        window->setCursor(Qt::ArrowCursor);
    }
    zooming = on;
    if (on || selectAgain)
        plot->setInteraction(QCP::iSelectPlottables, !on);
    emit zoomModeChanged(on);
}

// Runs before the plot's own press handling, so a drag or a selection still
// follows the same press. Also gets the second press of a double click.
void PlotPanel::onPlotMousePress(QMouseEvent *event)
{
    if (!zooming) {
        plot->setInteraction(QCP::iSelectPlottables, true);
        linePress(event);
        return;
    }
    // Where a platform sends both a press and a double click for one press,
    // it counts once: a double click before the press's release is that press.
    const bool sameAsPress = event->type() == QEvent::MouseButtonDblClick && pressHeld;
    pressHeld = event->type() == QEvent::MouseButtonPress;
    if (sameAsPress)
        return;
    if (event->buttons() & Qt::RightButton) {
        setZoomMode(false, false);
        return;
    }
    QCPAxis *axis = plot->xAxis;
    const QPointF pos = event->position();
    // 5/12 of a wheel step (50 of 120 units).
    const double factor =
        std::pow(plot->axisRect(0)->rangeZoomFactor(axis->orientation()), 5.0 / 12.0);
    const double centre =
        axis->pixelToCoord(axis->orientation() == Qt::Horizontal ? pos.x() : pos.y());
    axis->scaleRange(factor, centre);
    plot->replot();
}

void PlotPanel::onPlotMouseMove(QMouseEvent *event)
{
    cursorPos = event->position();
    lineMove(event);
    showReadout();
}

// The line and the values at the last cursor position; nothing outside the
// plot area.
void PlotPanel::showReadout()
{
    if (!plot->axisRect()->rect().contains(cursorPos.toPoint())) {
        overlay->hideCursor();
        return;
    }
    const double key = plot->xAxis->pixelToCoord(cursorPos.x());
    overlay->showCursor(int(cursorPos.x()), readoutText(key));
}

// The time under the cursor and, for each shown channel, the value of its
// point nearest to that time (the temperature in °C, not divided by 10).
QString PlotPanel::readoutText(double key) const
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // As many decimals as tell one pixel column from the next.
    const double perPixel = plot->xAxis->range().size() / std::max(1, plot->axisRect()->width());
    const int decimals = perPixel > 0 && std::isfinite(perPixel)
                             ? std::clamp(int(std::ceil(-std::log10(perPixel))), 0, 6)
                             : 3;
    QStringList lines{QCoreApplication::translate("MainWindow", "时间 %1 s")
                          .arg(locale.toString(key, 'f', decimals))};
    struct Channel
    {
        QString name;
        int channel;
        double scale;
        int decimals;
        QString unit;
    };
    const Channel readouts[] = {
        {QStringLiteral("U1"), ChannelU1, 1, 2, QStringLiteral("V")},
        {QStringLiteral("I"), ChannelI, 1, 2, QStringLiteral("A")},
        {QStringLiteral("T"), ChannelT, 10, 1, QStringLiteral("°C")},
        {QStringLiteral("U2"), ChannelU2, 1, 2, QStringLiteral("V")},
    };
    for (const Channel &c : readouts) {
        if (!channelGraph(c.channel)->visible())
            continue;
        const std::optional<DataPoint> point = channels.channel(c.channel).nearestPoint(key);
        const QString value = point && !std::isnan(point->value)
                                  ? readoutNumber(locale, point->value * c.scale, c.decimals) +
                                        QLatin1Char(' ') + c.unit
                                  : QStringLiteral("–");
        lines << c.name + QStringLiteral("  ") + value;
    }
    return lines.join(QLatin1Char('\n'));
}

void PlotPanel::setAcquiring(bool running)
{
    acquiring = running;
    // On a stop the view stays as the user left it, also for the card's last
    // blocks; the next start follows the recording again.
    setFollowing(running || followLive);
    if (!running)
        plot->replot();
}

void PlotPanel::followNewData()
{
    // Unless the user has moved the time axis since the start.
    if (!followLive)
        return;
    fittingTimeAxis = true;
    for (int c = 0; c < ChannelCount; ++c)
        channelGraph(c)->rescaleKeyAxis(false);
    fittingTimeAxis = false;
}

// Fitting counts only the graphs whose channel is shown; an axis with no
// visible point keeps its range.
void PlotPanel::showAll()
{
    fittingTimeAxis = true;
    plot->xAxis->rescale(true);
    fittingTimeAxis = false;
    plot->yAxis->rescale(true);
    setFollowing(true);
    plot->replot();
}

void PlotPanel::showOriginal()
{
    fittingTimeAxis = true;
    plot->xAxis->rescale(true);
    fittingTimeAxis = false;
    plot->yAxis->setRange(-50, 500);
    setFollowing(true);
    plot->replot();
}

void PlotPanel::resetView()
{
    fittingTimeAxis = true;
    plot->xAxis->setRange(0, 0.1, Qt::AlignLeft);
    fittingTimeAxis = false;
    plot->yAxis->setRange(-50, 500);
    setFollowing(true);
    plot->replot();
}

// A move of the time axis while acquiring that no fit of the panel's own
// made is the user's: the view stays where they put it.
void PlotPanel::onTimeRangeChanged(const QCPRange &newRange, const QCPRange &oldRange)
{
    if (fittingTimeAxis || !acquiring || !followLive)
        return;
    if (newRange.lower == oldRange.lower && newRange.upper == oldRange.upper)
        return;
    setFollowing(false);
    emit viewMovedByUser();
}

void PlotPanel::setFollowing(bool on)
{
    followLive = on;
    overlay->setNotice(on || !acquiring
                           ? QString()
                           : QCoreApplication::translate(
                                 "MainWindow", "不再跟随新数据：全部显示或复原显示恢复跟随"));
}

void PlotPanel::setCursorsShown(bool on)
{
    draggedLine = {};
    clickPending = false;
    plot->setInteraction(QCP::iRangeDrag, true);
    // Focus on a click only while the arrow keys have cursors to move.
    plot->setFocusPolicy(on ? Qt::ClickFocus : Qt::NoFocus);
    if (!on) {
        cursors->hide();
        plot->unsetCursor();
        plot->replot();
        return;
    }
    const QCPRange range = plot->xAxis->range();
    cursors->show(range.lower + range.size() / 3, range.lower + range.size() * 2 / 3);
    steppedLine = {cursors.get(), PlotCursors::B};
    emit cursorsMoved();
    plot->setFocus();
    plot->replot();
}

void PlotPanel::zoomToCursors()
{
    const double a = cursors->time(PlotCursors::A), b = cursors->time(PlotCursors::B);
    if (!(a != b))
        return;
    // A margin keeps the two lines and their labels in sight.
    const double margin = std::abs(b - a) * 0.03;
    plot->xAxis->setRange(std::min(a, b) - margin, std::max(a, b) + margin);
    plot->replot();
}

void PlotPanel::showCycle(const CycleResult *cycle, bool zoom)
{
    cycleItems->show(cycle);
    if (cycle && zoom && cycle->end > cycle->start) {
        const double margin = (cycle->end - cycle->start) * 0.03;
        plot->xAxis->setRange(cycle->start - margin, cycle->end + margin);
    }
    plot->replot();
}

void PlotPanel::centreOn(double time)
{
    plot->xAxis->setRange(time, plot->xAxis->range().size(), Qt::AlignCenter);
    plot->replot();
}

// The shown line of set nearest to x (plot pixels), the first of equals; -1
// if none is shown.
int PlotPanel::nearestLine(const VerticalLines &set, double x) const
{
    int nearest = -1;
    double best = std::numeric_limits<double>::infinity();
    for (int k = 0; k < set.lineCount(); ++k) {
        const double distance = std::abs(plot->xAxis->coordToPixel(set.lineTime(k)) - x);
        if (set.lineShown(k) && distance < best) {
            nearest = k;
            best = distance;
        }
    }
    return nearest;
}

// Of all draggable lines, the one nearest to x within tolerance pixels.
PlotPanel::LineRef PlotPanel::lineAt(double x, double tolerance) const
{
    LineRef found;
    double best = tolerance;
    for (VerticalLines *set : draggable) {
        const int k = nearestLine(*set, x);
        if (k < 0)
            continue;
        const double distance = std::abs(plot->xAxis->coordToPixel(set->lineTime(k)) - x);
        if (distance <= best && !(found.set && distance == best)) {
            found = {set, k};
            best = distance;
        }
    }
    return found;
}

// Called first on a press without zoom mode: a left press on a line drags
// it instead of the plot and selects no curve; another press may still
// become a click that moves the nearer cursor.
void PlotPanel::linePress(QMouseEvent *event)
{
    clickPending = false;
    if (zooming || event->button() != Qt::LeftButton ||
        !plot->axisRect()->rect().contains(event->position().toPoint()))
        return;
    const LineRef line = lineAt(event->position().x(), grabDistance);
    if (!line.set) {
        clickPending = cursors->shown();
        clickPos = event->position();
        return;
    }
    draggedLine = steppedLine = line;
    plot->setInteraction(QCP::iRangeDrag, false);
    plot->setInteraction(QCP::iSelectPlottables, false); // until the next press
}

void PlotPanel::lineMove(QMouseEvent *event)
{
    if (clickPending && QLineF(clickPos, event->position()).length() > clickDistance)
        clickPending = false;
    if (!draggedLine.set) {
        const bool grab = !zooming && !(event->buttons() & Qt::LeftButton) &&
                          lineAt(event->position().x(), grabDistance).set;
        if (grab)
            plot->setCursor(Qt::SizeHorCursor);
        else
            plot->unsetCursor();
        return;
    }
    draggedLine.set->setLineTime(draggedLine.line,
                                 plot->xAxis->pixelToCoord(event->position().x()));
    if (draggedLine.set == cursors.get())
        emit cursorsMoved();
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void PlotPanel::lineRelease(QMouseEvent *event)
{
    if (draggedLine.set) {
        draggedLine = {};
        plot->setInteraction(QCP::iRangeDrag, true);
        return;
    }
    if (!clickPending || zooming || !cursors->shown())
        return;
    clickPending = false;
    const int k = nearestLine(*cursors, event->position().x());
    steppedLine = {cursors.get(), k};
    cursors->setLineTime(k, plot->xAxis->pixelToCoord(event->position().x()));
    emit cursorsMoved();
    plot->replot();
}

// The last line used goes to the previous or next point of the first
// channel shown.
void PlotPanel::stepLine(int direction)
{
    int c = 0;
    while (c < ChannelCount && !channelGraph(c)->visible())
        ++c;
    if (c == ChannelCount || !steppedLine.set || !steppedLine.set->lineShown(steppedLine.line))
        return;
    channels.settle();
    const ChannelData &data = channels.channel(c);
    const double time = steppedLine.set->lineTime(steppedLine.line);
    const double inf = std::numeric_limits<double>::infinity();
    const auto [first, end] = direction > 0 ? data.span(std::nextafter(time, inf), inf)
                                            : data.span(-inf, std::nextafter(time, -inf));
    if (first == end)
        return;
    steppedLine.set->setLineTime(steppedLine.line,
                                 data.view().at(direction > 0 ? first : end - 1).key);
    emit cursorsMoved();
    plot->replot();
}

bool PlotPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == plot && event->type() == QEvent::KeyPress && steppedLine.set &&
        steppedLine.set->lineShown(steppedLine.line)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            stepLine(key == Qt::Key_Right ? 1 : -1);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
