// The Measure menu of MainWindow: the cursors A and B on the plot, moved by
// the mouse and the arrow keys, and the table of what lies between them.

#include "mainwindow/mainwindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QScreen>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

#include "mainwindow/measurewindow.h"
#include "mainwindow/plotcursors.h"
#include "ui_mainwindow.h"

namespace {

// A press this near a cursor line (pixels) drags it; a press that moves no
// farther than clickDistance before its release is a click.
constexpr double grabDistance = 6;
constexpr double clickDistance = 3;

} // namespace

void MainWindow::on_menu_cursors_toggled(bool on)
{
    QCustomPlot *plot = ui->customPlot_VIT;
    for (QAction *action : {ui->menu_copy_measurements, ui->menu_zoom_to_cursors,
                            ui->menu_save_range, ui->menu_export_range})
        action->setEnabled(on);
    draggedCursor = -1;
    clickPending = false;
    plot->setInteraction(QCP::iRangeDrag, true);
    // Focus on a click only while the arrow keys have cursors to move.
    plot->setFocusPolicy(on ? Qt::ClickFocus : Qt::NoFocus);
    if (!on) {
        dropCopiedNotice();
        cursors->hide();
        measureWindow->hide();
        plot->unsetCursor();
        plot->replot();
        return;
    }
    const QCPRange range = plot->xAxis->range();
    cursors->show(range.lower + range.size() / 3, range.lower + range.size() * 2 / 3);
    steppedCursor = PlotCursors::B;
    updateMeasurements();
    placeMeasureWindow();
    measureWindow->show();
    plot->setFocus();
    plot->replot();
}

void MainWindow::on_menu_copy_measurements_triggered()
{
    updateMeasurements();
    QGuiApplication::clipboard()->setText(measureWindow->tabSeparated());
    copiedNotice = tr("测量结果已复制");
    ui->statusbar->showMessage(copiedNotice);
}

// The copy's message goes with the measurement it refers to: when the cursors
// go (a clear too) or the table is closed.
void MainWindow::dropCopiedNotice()
{
    if (!copiedNotice.isEmpty() && ui->statusbar->currentMessage() == copiedNotice)
        ui->statusbar->clearMessage();
    copiedNotice.clear();
}

void MainWindow::on_menu_zoom_to_cursors_triggered()
{
    const double a = cursors->time(PlotCursors::A), b = cursors->time(PlotCursors::B);
    if (!(a != b))
        return;
    // A margin keeps the two lines and their labels in sight.
    const double margin = std::abs(b - a) * 0.03;
    ui->customPlot_VIT->xAxis->setRange(std::min(a, b) - margin, std::max(a, b) + margin);
    ui->customPlot_VIT->replot();
}

void MainWindow::on_menu_save_range_triggered()
{
    saveData(true);
}

void MainWindow::on_menu_export_range_triggered()
{
    exportData(true);
}

// The table for the cursors' times and the channels shown; follows every
// redraw, and so the blocks arriving.
void MainWindow::updateMeasurements()
{
    if (!cursors || !cursors->shown())
        return;
    std::array<bool, ChannelCount> shown;
    for (int c = 0; c < ChannelCount; ++c)
        shown[std::size_t(c)] = channelGraph(c)->visible();
    measureWindow->setMeasurement(
        measure(channels, cursors->time(PlotCursors::A), cursors->time(PlotCursors::B)), shown);
}

// Beside the window where the screen has room for it, so that it covers no
// curve; where the user moved it, it stays.
void MainWindow::placeMeasureWindow()
{
    if (measurePlaced)
        return;
    measurePlaced = true;
    const QRect frame = frameGeometry();
    const QRect room = screen() ? screen()->availableGeometry() : frame;
    const QSize size = measureWindow->size();
    QPoint at(frame.right() + 1, frame.top());
    if (at.x() + size.width() > room.right() + 1)
        at.setX(frame.left() - size.width());
    if (at.x() < room.left())
        at.setX(room.right() + 1 - size.width());
    measureWindow->move(at);
}

// Called first on a left press without zoom mode: a press on a cursor line
// drags that cursor instead of the plot and selects no curve; another press
// may still become a click that moves the nearer cursor.
bool MainWindow::cursorPress(QMouseEvent *event)
{
    clickPending = false;
    QCustomPlot *plot = ui->customPlot_VIT;
    if (!cursors->shown() || zoomMode || event->button() != Qt::LeftButton ||
        !plot->axisRect()->rect().contains(event->position().toPoint()))
        return false;
    const PlotCursors::Which which = cursors->at(event->position().x(), grabDistance);
    if (which == PlotCursors::None) {
        clickPending = true;
        clickPos = event->position();
        return false;
    }
    draggedCursor = steppedCursor = which;
    plot->setInteraction(QCP::iRangeDrag, false);
    plot->setInteraction(QCP::iSelectPlottables, false); // until the next press
    return true;
}

bool MainWindow::cursorMove(QMouseEvent *event)
{
    if (clickPending && QLineF(clickPos, event->position()).length() > clickDistance)
        clickPending = false;
    QCustomPlot *plot = ui->customPlot_VIT;
    if (draggedCursor < 0) {
        const bool grab = cursors->shown() && !zoomMode && !(event->buttons() & Qt::LeftButton) &&
                          cursors->at(event->position().x(), grabDistance) != PlotCursors::None;
        if (grab)
            plot->setCursor(Qt::SizeHorCursor);
        else
            plot->unsetCursor();
        return false;
    }
    cursors->setTime(PlotCursors::Which(draggedCursor),
                     plot->xAxis->pixelToCoord(event->position().x()));
    plot->replot(QCustomPlot::rpQueuedReplot);
    return true;
}

void MainWindow::cursorRelease(QMouseEvent *event)
{
    QCustomPlot *plot = ui->customPlot_VIT;
    if (draggedCursor >= 0) {
        draggedCursor = -1;
        plot->setInteraction(QCP::iRangeDrag, true);
        return;
    }
    if (!clickPending || zoomMode || !cursors->shown())
        return;
    clickPending = false;
    const PlotCursors::Which which = cursors->nearer(event->position().x());
    steppedCursor = which;
    cursors->setTime(which, plot->xAxis->pixelToCoord(event->position().x()));
    plot->replot();
}

// The last cursor used goes to the previous or next point of the first
// channel shown.
void MainWindow::stepCursor(int direction)
{
    int c = 0;
    while (c < ChannelCount && !channelGraph(c)->visible())
        ++c;
    if (c == ChannelCount)
        return;
    channels.settle();
    const ChannelData &data = channels.channel(c);
    const auto which = PlotCursors::Which(steppedCursor);
    const double time = cursors->time(which);
    const double inf = std::numeric_limits<double>::infinity();
    const auto [first, end] = direction > 0 ? data.span(std::nextafter(time, inf), inf)
                                            : data.span(-inf, std::nextafter(time, -inf));
    if (first == end)
        return;
    cursors->setTime(which, data.view().at(direction > 0 ? first : end - 1).key);
    ui->customPlot_VIT->replot();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->customPlot_VIT && event->type() == QEvent::KeyPress && cursors &&
        cursors->shown()) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            stepCursor(key == Qt::Key_Right ? 1 : -1);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
