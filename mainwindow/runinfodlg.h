#pragma once

#include <QDialog>
#include <QString>

#include "datafiles/runnotes.h"

class QLineEdit;
class Ui_RunInfoDlg;

// What the recording is: operator, sample, the capacitor's rated figures
// and free notes. A figure may stay empty; otherwise it is a number above
// zero as typed in the interface's locale. OK only when every figure is
// accepted. GUI thread.
class RunInfoDlg : public QDialog
{
    Q_OBJECT

public:
    explicit RunInfoDlg(const RunInfo &current, QWidget *parent = nullptr);
    ~RunInfoDlg() override;

    // As accepted by OK.
    RunInfo info() const { return accepted; }
    // Tries the fields as typed: accepts the dialog, or marks the first
    // refused figure and says why.
    void tryAccept();
    QString refusalText() const;

private:
    Ui_RunInfoDlg *ui;
    RunInfo accepted;
};
