#include "mainwindow/plotsetup.h"

#include <QCoreApplication>
#include <qcustomplot.h>

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
