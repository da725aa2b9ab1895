#include "mainwindow/mainwindow.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPixmap>
#include <cmath>
#include <qcustomplot.h>

#include "ui_mainwindow.h"

void MainWindow::setupPlot(QCustomPlot *customPlot)
{
    graphU1->setPen(QPen(QBrush(QColor(50, 153, 213)), 3));
    graphI->setPen(QPen(QBrush(QColor(102, 205, 170)), 3));
    graphT->setPen(QPen(QBrush(QColor(255, 153, 51)), 3));
    graphU2->setPen(QPen(QBrush(QColor(153, 102, 255)), 3));

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

    // Translated once: a later language switch leaves the axis labels as they are.
    customPlot->xAxis->setLabel(tr("时间(s)"));
    customPlot->yAxis->setLabel(tr("电压(V)         电流(A)          温度(℃)/10"));

    // Draws each line segment on its own instead of stroking one long path:
    // the same picture, drawn several times faster.
    customPlot->setPlottingHint(QCP::phFastPolylines, true);

    connect(customPlot, &QCustomPlot::mousePress, this, &MainWindow::onPlotMousePress);
}

void MainWindow::on_btn_zoom_display_clicked(bool)
{
    if (zoomMode) {
        setCursor(Qt::ArrowCursor);
        zoomMode = false;
    } else {
        const QPixmap pixmap(QStringLiteral(":/img/Zoom_In.png"));
        setCursor(QCursor(pixmap, -1, -1)); // hot spot at the centre
        zoomMode = true;
    }
}

// Runs before the plot's own press handling, so a drag or a selection still
// follows the same press.
void MainWindow::onPlotMousePress(QMouseEvent *event)
{
    if (!zoomMode)
        return;
    if (event->buttons() & Qt::RightButton) {
        setCursor(Qt::ArrowCursor);
        zoomMode = false;
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
