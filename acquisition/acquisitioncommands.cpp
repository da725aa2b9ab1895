#include "mainwindow/mainwindow.h"

void MainWindow::on_btn_start_collect_clicked() {}

void MainWindow::on_btn_stop_collect_clicked() {}

void MainWindow::processBlock(const QVector<double> &, const QVector<double> &,
                              const QVector<double> &, const QVector<double> &, double)
{
}
