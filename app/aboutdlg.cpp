#include "app/aboutdlg.h"

#include "ui_aboutdlg.h"

AboutDlg::AboutDlg(QWidget *parent) : QDialog(parent), ui(new Ui_AboutDlg)
{
    ui->setupUi(this);
}

AboutDlg::~AboutDlg()
{
    delete ui;
}
