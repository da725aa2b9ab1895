#pragma once

#include <QDialog>
#include <QString>

#include "acquisition/limitwatch.h"

class QCheckBox;
class QLineEdit;
class Ui_LimitsDlg;

// The fields of a row of the limits dialog, in its order.
enum LimitField : int { LimitLowField, LimitHighField, LimitDeadbandField, LimitDelayField };
constexpr int LimitFieldCount = 4;

// The first limit checkLimit() refuses: its row (the channel), the field to
// mark and why; row -1 when all are accepted. Pure logic, any thread.
struct LimitRefusal
{
    int row = -1;
    int field = LimitLowField;
    LimitProblem problem = LimitProblem::None;
};
LimitRefusal refusedLimit(const LimitSettings &limits);

// The limits in the program's settings file (group "limits"); a channel
// whose limit is missing or refused has none. Numbers without the locale.
LimitSettings savedLimits();
void saveLimits(const LimitSettings &limits);

// The channel as the limits name it ("U1" ... "功率") and its unit.
QString limitChannelName(int channel);
QString limitUnit(int channel);

// The limits of the five channels, one row each: low and high (empty for
// none), deadband and delay as typed in the interface's locale, and what an
// alarm does. OK only when every row is accepted. GUI thread.
class LimitsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit LimitsDlg(const LimitSettings &current, QWidget *parent = nullptr);
    ~LimitsDlg() override;

    // As accepted by OK.
    LimitSettings limits() const { return accepted; }
    // Tries the rows as typed: accepts the dialog, or marks the first refused
    // field and says why.
    void tryAccept();
    QString refusalText() const;
    QLineEdit *field(int row, int field) const { return edits[row][field]; }
    QCheckBox *action(int row, int bit) const { return boxes[row][bit]; }

private:
    void refuse(const LimitRefusal &refusal, const LimitSettings &typed);

    Ui_LimitsDlg *ui;
    LimitSettings accepted;
    QLineEdit *edits[LimitChannelCount][LimitFieldCount];
    QCheckBox *boxes[LimitChannelCount][4]; // Show, Sound, Mark, Stop
};
