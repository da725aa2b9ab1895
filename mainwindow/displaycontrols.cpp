#include "mainwindow/mainwindow.h"

#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "mainwindow/plotpanel.h"
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
    showGraph(channelGraph(ChannelU1), arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_ui_stateChanged(int arg1)
{
    showGraph(channelGraph(ChannelI), arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_temperature_stateChanged(int arg1)
{
    showGraph(channelGraph(ChannelT), arg1, ui->customPlot_VIT);
}

void MainWindow::on_checkBox_uv2_stateChanged(int arg1)
{
    showGraph(channelGraph(ChannelU2), arg1, ui->customPlot_VIT);
}

void MainWindow::on_btn_clear_data_clicked()
{
    ui->menu_cursors->setChecked(false); // the cursors go with the points
    clearCycles();                       // before the run's own, which the table then shows
    run->clear();
    panel->resetView();
    updateRecordingStatus();
}

void MainWindow::on_menu_close_data_triggered()
{
    on_btn_clear_data_clicked();
}

void MainWindow::on_btn_show_all_clicked()
{
    panel->showAll();
}

void MainWindow::on_btn_show_original_clicked()
{
    panel->showOriginal();
}
