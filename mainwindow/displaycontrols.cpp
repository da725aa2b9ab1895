#include "mainwindow/mainwindow.h"

#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "ui_mainwindow.h"

namespace {

void showGraph(QCPGraph *graph, int state, QCustomPlot *plot)
{
    graph->setVisible(state > 0); // partly checked shows too
    plot->replot();
}

} // namespace

void MainWindow::on_checkBox_uv1_stateChanged(int arg1)
{
    showGraph(graphU1, arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_ui_stateChanged(int arg1)
{
    showGraph(graphI, arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_temperature_stateChanged(int arg1)
{
    showGraph(graphT, arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_uv2_stateChanged(int arg1)
{
    showGraph(graphU2, arg1, ui->customPlot_VIT);
}

void MainWindow::on_btn_clear_data_clicked()
{
    ui->menu_cursors->setChecked(false); // the cursors go with the points
    run->clear();

    QCustomPlot *plot = ui->customPlot_VIT;
    plot->xAxis->setRange(0, 0.1, Qt::AlignLeft);
    plot->yAxis->setRange(-50, 500);
    setFollowing(true);
    plot->replot();
    updateRecordingStatus();
}

void MainWindow::on_menu_close_data_triggered()
{
    on_btn_clear_data_clicked();
}

// Fitting counts only the graphs whose channel is shown; an axis with no
// visible point keeps its range. While recording, the view follows the
// recording again.
void MainWindow::on_btn_show_all_clicked()
{
    QCustomPlot *plot = ui->customPlot_VIT;
    plot->xAxis->rescale(true);
    plot->yAxis->rescale(true);
    setFollowing(true);
    plot->replot();
}

void MainWindow::on_btn_show_original_clicked()
{
    QCustomPlot *plot = ui->customPlot_VIT;
    plot->xAxis->rescale(true);
    plot->yAxis->setRange(-50, 500);
    setFollowing(true);
    plot->replot();
}
