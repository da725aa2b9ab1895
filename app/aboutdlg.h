#pragma once

#include <QDialog>

class Ui_AboutDlg;

// Product title and version; no buttons, closed by its title bar or Escape.
class AboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDlg(QWidget *parent = nullptr);
    ~AboutDlg() override;

private:
    Ui_AboutDlg *ui;
};
