// The memory guard of long runs, as the window shows it: while acquiring, the
// status bar says how long memory lasts at the current rate; the run warns
// once before it runs out and stops before it would.

#include "mainwindow/mainwindow.h"

#include <QCoreApplication>

#include "acquisition/liverun.h"

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0);
}

// How long memory lasts, in whole minutes down.
QString durationText(double seconds)
{
    if (seconds < 60)
        return QCoreApplication::translate("MainWindow", "不到 1 分钟");
    const qint64 minutes = qint64(seconds / 60);
    if (minutes < 60)
        return QCoreApplication::translate("MainWindow", "约 %1 分钟").arg(minutes);
    return QCoreApplication::translate("MainWindow", "约 %1 小时 %2 分钟")
        .arg(minutes / 60)
        .arg(minutes % 60);
}

} // namespace

void MainWindow::memoryRunsOut(double secondsLeft)
{
    reportProblem(tr("内存即将用完：按当前速度，%1后采集将自动停止。\n已记录的数据会保留。")
                      .arg(durationText(secondsLeft)));
}

// The run has stopped itself, as the stop button does, and logged it.
void MainWindow::memoryStopped(qint64 budget)
{
    reportProblem(tr("内存已达上限（%1 MB），采集已停止。\n"
                     "已记录的数据仍保留，可以保存；再次开始采集前请先保存并清空数据。")
                      .arg(megabytes(budget)));
}

// Appended to the recording figures while acquiring.
QString MainWindow::memoryStatusText() const
{
    const double seconds = run->memorySecondsLeft();
    if (seconds < 0)
        return QString();
    return QStringLiteral("  ") + tr("内存可用%1").arg(durationText(seconds));
}
