#include "mainwindow/mainwindow.h"

void MainWindow::on_checkBox_uv1_stateChanged(int) {}
void MainWindow::on_checkBox_ui_stateChanged(int) {}
void MainWindow::on_checkBox_temperature_stateChanged(int) {}
void MainWindow::on_checkBox_uv2_stateChanged(int) {}
void MainWindow::on_edit_maxtemp_textChanged(QString) {}
void MainWindow::on_edit_mintemp_textChanged(QString) {}
void MainWindow::on_btn_clear_data_clicked() {}
void MainWindow::on_menu_close_data_triggered() {}
void MainWindow::on_btn_show_all_clicked() {}
void MainWindow::on_btn_show_original_clicked() {}
