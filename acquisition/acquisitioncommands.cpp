#include "mainwindow/mainwindow.h"

#include <QDateTime>
#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "datafiles/recorder.h"
#include "mainwindow/plotpanel.h"
#include "ui_mainwindow.h"

namespace {

// Process-wide time base of the live plot, on the card's clock; GUI thread
// only. Restarted only through the window's resetTimeBase flag.
TimeBase timeBase(cardScanRate);

} // namespace

void MainWindow::on_btn_start_collect_clicked()
{
    ui->btn_start_collect->setEnabled(false);
    ui->statusbar->clearMessage(); // an earlier failure is over
    // No block is processed before this returns: they come as queued calls.
    if (!daq.start()) {
        ui->btn_start_collect->setEnabled(true);
        showProblem(tr("无法开始采集：%1").arg(daq.lastError));
        return;
    }
    acquisition.begin();
}

void MainWindow::on_btn_stop_collect_clicked()
{
    daq.stop();
    acquisition.end();
}

// What follows acquisition starting and stopping: the start button, the
// recorder, the memory guard, the card clock check, the follow mode and the
// status bar.
void MainWindow::acquisitionChanged(bool running)
{
    ui->btn_start_collect->setEnabled(!running);
    panel->setAcquiring(running);
    if (running) {
        beginMemoryWatch();
        clockCheck.restart();
        clockWall.start();
        runScans = 0;
        clockReported = false;
        recorder->begin(QDateTime::currentDateTime()); // or goes on with the current one
    } else {
        recorder->pause(); // the recording becomes a complete data file
    }
    updateRecordingStatus();
}

void MainWindow::redrawDue()
{
    ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
    watchMemory(); // may stop the run
    watchCardClock();
    updateRecordingStatus();
}

void MainWindow::blockArrived(const SampleBlock &lists, double elapsed, const CallbackRead &)
{
    if (acquiring()) {
        runScans += lists.u1.size();
        clockCheck.addBlock(runScans, double(clockWall.nsecsElapsed()) / 1e9);
    }
    processBlock(lists, elapsed);
}

// The card's clock against the computer's: a card off by more than 1 % is
// told once per run, in a message, error.txt and the status bar. The times
// stay on the card's clock.
void MainWindow::watchCardClock()
{
    if (clockReported || !clockCheck.off() || !clockCheck.measuredRate())
        return;
    clockReported = true;
    const double rate = *clockCheck.measuredRate();
    log.clockOff(rate, cardScanRate);
    const QLocale locale;
    showProblem(tr("采集卡的时钟偏差 %1%：每秒 %2 次扫描，而不是 %3 次。\n"
                   "时间轴仍按采集卡的时钟，数据不变；请用 daqcheck 检查采集卡。")
                    .arg(locale.toString((rate / cardScanRate - 1) * 100, 'f', 1),
                         locale.toString(rate, 'f', 0), locale.toString(cardScanRate, 'f', 0)));
}

QString MainWindow::clockStatusText() const
{
    if (!clockReported || !clockCheck.measuredRate())
        return {};
    const double off = (*clockCheck.measuredRate() / cardScanRate - 1) * 100;
    return QStringLiteral("  ") + tr("采集卡时钟偏差 %1%").arg(QLocale().toString(off, 'f', 1));
}

void MainWindow::processBlock(const QVector<double> &u1, const QVector<double> &i,
                              const QVector<double> &t, const QVector<double> &u2, double elapsed)
{
    // Shares the lists (implicitly shared), copies no values.
    processBlock(SampleBlock{u1, i, t, u2}, elapsed);
}

void MainWindow::processBlock(const SampleBlock &volts, double elapsed)
{
    // The wall-clock time of the block is not used: times come from counting
    // the card's scans, however late or bunched the blocks arrive.
    Q_UNUSED(elapsed);
    if (resetTimeBase) {
        resetTimeBase = false;
        timeBase.restart();
    }
    const int n = volts.u1.size();
    if (n == 0)
        return;

    const TemperatureScale tScale = temperatureScale(minTemp, maxTemp);

    // The lists come from one split and have equal length; the shortest decides.
    SampleBlock kept = keepSamples(timeBase, volts, keepEvery, tScale);
    livePointsKept += kept.keys.size();
    channels.append(kept);
    // The recording gets the lists themselves; its writer puts them on disk.
    recorder->add(std::move(kept));

    panel->followNewData();
    if (!acquiring()) {
        // The card's last blocks, on their way when Stop was pressed: no
        // redraw timer shows them, so they are shown here.
        ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
        updateRecordingStatus();
    }
    emit updateData();
}
