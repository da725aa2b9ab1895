// The limits as the window shows them: the dialog that sets them (kept in
// the settings file), the alarm window that lists the alarms until the user
// acknowledges them, the status message and the sound. The run itself marks
// the plot and stops acquisition where a limit says so.

#include "mainwindow/mainwindow.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>

#include "acquisition/liverun.h"
#include "mainwindow/limitalarmwindow.h"
#include "mainwindow/limitsdlg.h"
#include "ui_mainwindow.h"

namespace {

// While an alarm with sound is unacknowledged and still past its limit (a
// clear or new limits end that without a change back to normal).
constexpr int soundRepeatMs = 4000;

} // namespace

void MainWindow::setUpLimits()
{
    run->setLimits(savedLimits());
    alarmWindow = new LimitAlarmWindow(this);
    connect(alarmWindow, &LimitAlarmWindow::acknowledged, this, &MainWindow::acknowledgeAlarms);
    connect(run.get(), &LiveRun::limitChanged, this, &MainWindow::limitChanged);
    alarmSound = new QTimer(this);
    alarmSound->setInterval(soundRepeatMs);
    connect(alarmSound, &QTimer::timeout, this, [this] {
        const LimitSettings &limits = run->limits().limits();
        for (int c : alarmWindow->channels())
            if (alarmWindow->inAlarm(c) && run->limits().state(c) != LimitEvent::Normal &&
                (limits[std::size_t(c)].actions & Limit::Sound)) {
                QApplication::beep();
                return;
            }
    });
}

void MainWindow::on_menu_limits_triggered()
{
    LimitsDlg dialog(run->limits().limits(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const LimitSettings chosen = dialog.limits();
    saveLimits(chosen);
    // Unchanged limits keep each channel's state, so an alarm is not raised twice.
    if (!(chosen == run->limits().limits()))
        run->setLimits(chosen);
}

void MainWindow::limitChanged(const LimitEvent &e)
{
    const Limit &limit = run->limits().limits()[std::size_t(e.channel)];
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString unit = QLatin1Char(' ') + limitUnit(e.channel);
    const QString name = limitChannelName(e.channel);
    if (e.kind == LimitEvent::Normal) {
        if (!alarmWindow->inAlarm(e.channel))
            return;
        alarmWindow->backToNormal(e);
        ui->statusbar->showMessage(tr("%1 已恢复正常（%2 s 时为 %3）")
                                       .arg(name, locale.toString(e.time, 'f', 3),
                                            locale.toString(e.value, 'g', 7) + unit));
        return;
    }
    if (limit.actions & Limit::Sound)
        QApplication::beep();
    if (!(limit.actions & Limit::Show))
        return;
    const double crossed = e.kind == LimitEvent::High ? *limit.high : *limit.low;
    ui->statusbar->showMessage(
        tr("限值报警：%1 %2 %3（%4 s 时为 %5）")
            .arg(name, e.kind == LimitEvent::High ? QStringLiteral(">") : QStringLiteral("<"),
                 locale.toString(crossed, 'g', 7) + unit, locale.toString(e.time, 'f', 3),
                 locale.toString(e.value, 'g', 7) + unit));
    alarmWindow->alarm(e, crossed);
    if (!alarmWindow->isVisible()) {
        alarmWindow->show();
        alarmWindow->raise();
    }
    if ((limit.actions & Limit::Sound) && !alarmSound->isActive())
        alarmSound->start();
}

// Each listed channel's acknowledgement goes to the log and the run notes.
void MainWindow::acknowledgeAlarms()
{
    for (int c : alarmWindow->channels())
        run->acknowledgeLimit(c);
    alarmWindow->clear();
    alarmWindow->hide();
    alarmSound->stop();
}
