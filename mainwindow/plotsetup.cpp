#include "mainwindow/mainwindow.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPixmap>
#include <cmath>
#include <qcustomplot.h>

#include "mainwindow/measurewindow.h"
#include "mainwindow/plotcursors.h"
#include "mainwindow/plotoverlay.h"
#include "mainwindow/plotsetup.h"
#include "ui_mainwindow.h"

QPen channelPen(int c)
{
    static const QColor colours[] = {
        {50, 153, 213}, {102, 205, 170}, {255, 153, 51}, {153, 102, 255}};
    return QPen(QBrush(colours[c]), 3);
}

void setUpPlotFrame(QCustomPlot *customPlot)
{
    customPlot->yAxis->setRange(-50, 500);
    customPlot->xAxis->setRange(0, 0.1, Qt::AlignLeft);
    customPlot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables);

    customPlot->xAxis->setSubTicks(true);
    customPlot->yAxis->setSubTicks(true);
    customPlot->xAxis2->setSubTicks(true);
    customPlot->yAxis2->setSubTicks(true);
    customPlot->xAxis2->setTicks(false);
    customPlot->yAxis2->setTicks(false);
    // The top and right axes only close the plot area into a box.
    customPlot->xAxis2->setVisible(true);
    customPlot->xAxis2->setTickLabels(false);
    customPlot->yAxis2->setVisible(true);
    customPlot->yAxis2->setTickLabels(false);

    const QPen gridPen(QColor(64, 64, 64), 1, Qt::DashLine);
    const QPen subGridPen(QColor(128, 128, 128), 1, Qt::DotLine);
    customPlot->xAxis->grid()->setPen(gridPen);
    customPlot->yAxis->grid()->setPen(gridPen);
    customPlot->xAxis->grid()->setSubGridPen(subGridPen);
    customPlot->yAxis->grid()->setSubGridPen(subGridPen);
    customPlot->xAxis->grid()->setSubGridVisible(true);
    customPlot->yAxis->grid()->setSubGridVisible(true);
    customPlot->yAxis->grid()->setZeroLinePen(QPen(Qt::black));
}

void setPlotLabels(QCustomPlot *plot)
{
    plot->xAxis->setLabel(QCoreApplication::translate("MainWindow", "时间(s)"));
    plot->yAxis->setLabel(
        QCoreApplication::translate("MainWindow", "电压(V)         电流(A)          温度(℃)/10"));
}

void MainWindow::setupPlot(QCustomPlot *customPlot)
{
    for (int c = 0; c < ChannelCount; ++c)
        channelGraph(c)->setPen(channelPen(c));
    setUpPlotFrame(customPlot);
    translatePlotTexts();

    // Draws each line segment on its own instead of stroking one long path:
    // the same picture, drawn several times faster.
    customPlot->setPlottingHint(QCP::phFastPolylines, true);

    connect(customPlot, &QCustomPlot::mousePress, this, &MainWindow::onPlotMousePress);
    // A fast second click arrives as a double click instead of a press.
    connect(customPlot, &QCustomPlot::mouseDoubleClick, this, &MainWindow::onPlotMousePress);
    connect(customPlot, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *event) {
        pressHeld = false;
        cursorRelease(event);
    });
    customPlot->setMouseTracking(true); // moves without a button held, for the readout
    overlay = new PlotOverlay(customPlot);
    cursors = new PlotCursors(customPlot);
    measureWindow = new MeasureWindow(this);
    connect(measureWindow, &MeasureWindow::closed, this, &MainWindow::dropCopiedNotice);
    customPlot->installEventFilter(this); // the arrow keys move a measurement cursor
    connect(customPlot, &QCustomPlot::mouseMove, this, &MainWindow::onPlotMouseMove);
    connect(customPlot, &QCustomPlot::afterReplot, this, [this] {
        if (overlay->cursorShown())
            showReadout(); // the view or the data moved under the cursor
        updateMeasurements();
    });
    connect(customPlot->xAxis,
            qOverload<const QCPRange &, const QCPRange &>(&QCPAxis::rangeChanged), this,
            &MainWindow::onTimeRangeChanged);
}

// The axis labels and the texts over the plot, in the language in force.
void MainWindow::translatePlotTexts()
{
    setPlotLabels(ui->customPlot_VIT);
    if (overlay) {
        setFollowing(followLive);
        if (overlay->cursorShown())
            showReadout();
    }
}

void MainWindow::on_btn_zoom_display_clicked(bool)
{
    setZoomMode(!zoomMode, true);
}

// The button shows the mode. Zoom clicks select no graph: selection is off
// while the mode is on, and after a press on the plot ended it, until the
// next press (the ending press's release would select otherwise).
void MainWindow::setZoomMode(bool on, bool selectAgain)
{
    if (on) {
        const QPixmap pixmap(QStringLiteral(":/img/Zoom_In.png"));
        setCursor(QCursor(pixmap, -1, -1)); // hot spot at the centre
    } else {
        setCursor(Qt::ArrowCursor);
    }
    zoomMode = on;
    ui->btn_zoom_display->setChecked(on);
    if (on || selectAgain)
        ui->customPlot_VIT->setInteraction(QCP::iSelectPlottables, !on);
}

// Runs before the plot's own press handling, so a drag or a selection still
// follows the same press. Also gets the second press of a double click.
void MainWindow::onPlotMousePress(QMouseEvent *event)
{
    if (!zoomMode) {
        ui->customPlot_VIT->setInteraction(QCP::iSelectPlottables, true);
        cursorPress(event);
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
    QCustomPlot *plot = ui->customPlot_VIT;
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
