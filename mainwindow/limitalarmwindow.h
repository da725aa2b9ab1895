#pragma once

#include <QDialog>

#include <vector>

#include "acquisition/limitwatch.h"

class QLabel;
class QPushButton;
class QTableWidget;

// The limit alarms the user has not acknowledged, one row per channel:
// which limit, the value and the time that crossed it, the wall time, and
// whether the value is back to normal. Not modal, reused for every alarm;
// latched: only the acknowledge button closes it. GUI thread.
class LimitAlarmWindow : public QDialog
{
    Q_OBJECT

public:
    explicit LimitAlarmWindow(QWidget *parent);

    // The channel went past limit (e.kind High or Low): its row, new or renewed.
    void alarm(const LimitEvent &e, double limit);
    // The channel is back to normal: its row says so, if it has one.
    void backToNormal(const LimitEvent &e);
    // The channels listed, in the order of their first alarm.
    std::vector<int> channels() const;
    // Whether the channel is listed and still past its limit.
    bool inAlarm(int channel) const;
    void clear();
    void retranslate();

    QTableWidget *table() const { return grid; }
    QPushButton *acknowledgeButton() const { return acknowledge; }

signals:
    // The user pressed the acknowledge button.
    void acknowledged();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override {} // Esc: the alarm stays until acknowledged

private:
    struct Row
    {
        LimitEvent alarm;
        double limit = 0;
        qint64 wallMs = 0;
        int count = 0;
        bool normal = false;
    };
    void fill();

    std::vector<Row> rows;
    QLabel *heading;
    QTableWidget *grid;
    QPushButton *acknowledge;
};
