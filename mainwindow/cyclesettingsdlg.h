#pragma once

#include <QDialog>
#include <QString>

#include "acquisition/cycleanalysis.h"

class QLineEdit;
class Ui_CycleSettingsDlg;

// Why a setting of the cycle analysis is refused, field by field.
enum class CycleSettingRefusal {
    None,
    NotANumber,    // not a finite number (or not a whole one for the cycle)
    Negative,      // below zero
    NotPositive,   // zero or below
    FractionOrder, // not 0 < lower < upper < 1
    FadeRange,     // not within 0 .. 100 %
    RiseRange,     // not above 1
};

// The first refused field of settings: its index in the dialog's order and why;
// {-1, None} when all are accepted. Pure logic, any thread.
std::pair<int, CycleSettingRefusal> refusedCycleSetting(const CycleSettings &settings);

// The settings in the program's settings file (group "cycles"), the defaults
// where a value is missing or refused; numbers without the locale.
CycleSettings savedCycleSettings();
void saveCycleSettings(const CycleSettings &settings);

// The settings of the cycle analysis, each field as the user types it in the
// interface's locale; OK only when every field is accepted. The rated voltage
// and the current threshold in force show beside their fields. GUI thread.
class CycleSettingsDlg : public QDialog
{
    Q_OBJECT

public:
    CycleSettingsDlg(const CycleSettings &current, double ratedInForce, double thresholdInForce,
                     QWidget *parent = nullptr);
    ~CycleSettingsDlg() override;

    // As accepted by OK.
    CycleSettings settings() const { return accepted; }
    // Tries the fields as typed: accepts the dialog, or marks the first
    // refused field and says why.
    void tryAccept();
    QString refusalText() const;

private:
    QLineEdit *field(int index) const;

    Ui_CycleSettingsDlg *ui;
    CycleSettings accepted;
};
