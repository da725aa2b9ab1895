// The window's side of acquisition: the start and stop buttons, and what the
// run reports while it runs (the points added, the card's clock, the card
// ending the run). The run itself is the LiveRun the window owns.

#include "mainwindow/mainwindow.h"

#include <QLocale>
#include <qcustomplot.h>

#include "acquisition/liverun.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"

void MainWindow::on_btn_start_collect_clicked()
{
    ui->btn_start_collect->setEnabled(false);
    ui->statusbar->clearMessage(); // an earlier failure is over
    if (!run->start()) {
        ui->btn_start_collect->setEnabled(true);
        showProblem(tr("无法开始采集：%1").arg(run->lastError()));
    }
}

void MainWindow::on_btn_stop_collect_clicked()
{
    run->stop();
}

// What follows acquisition starting and stopping on the window: the start
// button, the follow mode and the status bar.
void MainWindow::acquisitionChanged(bool running)
{
    ui->btn_start_collect->setEnabled(!running);
    panel->setAcquiring(running);
    updateRecordingStatus();
    if (!running)
        cyclesAtStop();
}

void MainWindow::redrawDue()
{
    ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
    updateRecordingStatus();
}

// Told once per run, in a message and the status bar; the run logs it.
void MainWindow::cardClockOff(double rate)
{
    const QLocale locale;
    reportProblem(tr("采集卡的时钟偏差 %1%：每秒 %2 次扫描，而不是 %3 次。\n"
                     "时间轴仍按采集卡的时钟，数据不变；请用 daqcheck 检查采集卡。")
                      .arg(locale.toString((rate / cardScanRate - 1) * 100, 'f', 1),
                           locale.toString(rate, 'f', 0), locale.toString(cardScanRate, 'f', 0)));
}

QString MainWindow::clockStatusText() const
{
    const std::optional<double> rate = run->clockOffRate();
    if (!rate)
        return {};
    const double off = (*rate / cardScanRate - 1) * 100;
    return QStringLiteral("  ") + tr("采集卡时钟偏差 %1%").arg(QLocale().toString(off, 'f', 1));
}

void MainWindow::processBlock(const QVector<double> &u1, const QVector<double> &i,
                              const QVector<double> &t, const QVector<double> &u2, double elapsed)
{
    // Shares the lists (implicitly shared), copies no values.
    run->processBlock(SampleBlock{u1, i, t, u2}, elapsed);
}

void MainWindow::processBlock(const SampleBlock &volts, double elapsed)
{
    run->processBlock(volts, elapsed);
}

void MainWindow::pointsAdded()
{
    panel->followNewData(); // unless the user has moved the time axis since the start
    if (!acquiring()) {
        // The card's last blocks, on their way when Stop was pressed: no
        // redraw timer shows them, so they are shown here.
        ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
        updateRecordingStatus();
    }
    emit updateData();
}

void MainWindow::taskEndedByCard(const QString &reason)
{
    reportProblem(tr("采集已停止：%1\n已记录的数据仍保留。").arg(reason));
}
