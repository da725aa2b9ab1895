// The memory guard of long runs: while acquiring, the status bar says how
// long memory lasts at the current rate; the window warns once before it runs
// out and stops the run, as the stop button does, before it would.

#include "mainwindow/mainwindow.h"

#include <QCoreApplication>
#include <qcustomplot.h>

#include <climits>
#include <cmath>

#include "datafiles/recorder.h"
#include "mainwindow/filework.h"

namespace {

// What a channel's summary grows by per point: per 64 points 16 bytes of
// extremes and 56 of prefix sums (kept as the points come), the
// extremes' upper levels, a quarter of the 16 bytes of U1·I sums, and the
// vectors' room to grow.
constexpr double kIndexBytesPerPoint = 2.5;
// The plot counts a graph's points in an int.
constexpr qint64 kMaxGraphPoints = INT_MAX - (1 << 20);

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

RecordingMemory MainWindow::recordingMemory() const
{
    RecordingMemory use;
    use.pointBytes = sizeof(DataPoint);
    use.otherBytesPerPoint = kIndexBytesPerPoint;
    use.maxPoints = kMaxGraphPoints;
    channels.addMemoryUse(use);
    use.otherBytes += recorder->queuedBytes(); // points the disk has not taken yet
    use.otherBytes += files->heldBytes();      // a file being opened
    use.livePoints = livePointsKept;
    return use;
}

void MainWindow::beginMemoryWatch()
{
    const RecordingMemory use = recordingMemory();
    qint64 budget = 0;
    if (const std::optional<qint64> limit = memoryLimitFromEnvironment()) {
        budget = *limit;
    } else if (const qint64 physical = physicalMemoryBytes(); physical > 0) {
        budget = defaultMemoryBudget(physical, processMemoryBytes(), use.heldBytes());
    } else {
        memoryGuard.end(); // the system does not say how much there is
        return;
    }
    if (!memoryClock.isValid())
        memoryClock.start();
    memoryGuard.begin(budget, use, memoryClock.elapsed(), cardScanRate / keepEvery);
}

void MainWindow::watchMemory()
{
    if (!memoryGuard.active())
        return;
    const RecordingMemory use = recordingMemory();
    switch (memoryGuard.update(use, memoryClock.elapsed())) {
    case MemoryGuard::Action::None: break;
    case MemoryGuard::Action::Warn:
        showProblem(tr("内存即将用完：按当前速度，%1后采集将自动停止。\n已记录的数据会保留。")
                        .arg(durationText(memoryGuard.secondsLeft())));
        break;
    case MemoryGuard::Action::Stop:
        memoryGuard.end();
        log.memoryLimitReached(use.heldBytes(), memoryGuard.budget());
        on_btn_stop_collect_clicked(); // the stop button's own way, with all it does
        showProblem(tr("内存已达上限（%1 MB），采集已停止。\n"
                       "已记录的数据仍保留，可以保存；再次开始采集前请先保存并清空数据。")
                        .arg(megabytes(memoryGuard.budget())));
        break;
    }
}

// Appended to the recording figures while acquiring.
QString MainWindow::memoryStatusText() const
{
    const double seconds = memoryGuard.active() ? memoryGuard.secondsLeft() : -1;
    if (seconds < 0)
        return QString();
    return QStringLiteral("  ") + tr("内存可用%1").arg(durationText(seconds));
}
