#include "mainwindow/mainwindow.h"

void MainWindow::setupPlot(QCustomPlot *) {}

void MainWindow::onPlotMousePress(QMouseEvent *) {}

void MainWindow::on_btn_zoom_display_clicked(bool) {}
