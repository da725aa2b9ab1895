// The window's side of the recordings: every live run goes to disk as it is
// recorded (datafiles/recorder.h, driven by the run), a run that a crash
// ended is recovered at start-up, and the File menu opens the folder. The run
// logs the problems; the window shows them.

#include "mainwindow/mainwindow.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>

#include "acquisition/liverun.h"
#include "datafiles/recorder.h"
#include "datafiles/recordings.h"
#include "ui_mainwindow.h"

void MainWindow::setUpRecording()
{
    Recorder *recorder = &run->recorder();
    connect(run.get(), &LiveRun::recordingChanged, this, &MainWindow::updateRecordingStatus);
    connect(recorder, &Recorder::recordingFailed, this, &MainWindow::recordingFailed);
    connect(recorder, &Recorder::recordingRecovered, this, &MainWindow::recordingRecovered);
    connect(recorder, &Recorder::recoveryFailed, this, &MainWindow::recoveryFailed);
    connect(recorder, &Recorder::journalKept, this, &MainWindow::journalKept);
    run->recoverLeftovers();
}

// The recording's part of the status bar: where it goes, or that it stopped.
QString MainWindow::recordingStatusText() const
{
    const QString file = run->recorder().currentFile();
    if (file.isEmpty())
        return {};
    if (run->recorder().currentFailed())
        return tr("  录制文件已停止写入");
    return tr("  录制文件：%1").arg(QFileInfo(file).fileName());
}

void MainWindow::recordingFailed(const QString &dataFile, const QString &reason)
{
    const QString text = acquiring()
                             ? tr("录制 %1 已停止写入：%2\n采集继续进行，内存中的数据不受影响。")
                             : tr("录制 %1 已停止写入：%2\n内存中的数据不受影响。");
    reportProblem(text.arg(QDir::toNativeSeparators(dataFile), reason));
    updateRecordingStatus();
}

void MainWindow::recordingRecovered(const QString &dataFile, qint64, bool endedAtExit,
                                    const QString &exitReason)
{
    const QString shown = QDir::toNativeSeparators(dataFile);
    // A journal the last Exit left because the disk refused its data file
    // was no crash.
    const QString text =
        !endedAtExit ? tr("上次运行没有正常结束，它的录制已恢复到：\n%1").arg(shown)
        : exitReason.isEmpty()
            ? tr("上次退出时磁盘拒绝写入录制的数据文件。录制现已恢复到：\n%1").arg(shown)
            : tr("上次退出时磁盘拒绝写入录制的数据文件（%1）。录制现已恢复到：\n%2")
                  .arg(exitReason, shown);
    QMessageBox *box = showNotice(text);
    QPushButton *open = box->addButton(tr("打开"), QMessageBox::ActionRole);
    connect(open, &QPushButton::clicked, this, [this, dataFile] { openDataFile(dataFile); });
}

// The last recordings, newest first; each opens as File > Open opens it.
void MainWindow::on_menu_recent_aboutToShow()
{
    QMenu *menu = ui->menu_recent;
    menu->clear();
    menu->setToolTipsVisible(true); // the path
    const std::vector<RecordingEntry> entries = recentRecordings(run->recorder().folder());
    if (entries.empty())
        menu->addAction(tr("（无）"))->setEnabled(false);
    const QLocale locale;
    for (const RecordingEntry &e : entries) {
        const QString length =
            e.seconds < 0 ? QStringLiteral("–") : locale.toString(e.seconds, 'f', 1) + " s";
        QString text = QStringLiteral("%1    %2    %3")
                           .arg(locale.toString(e.start, QLocale::ShortFormat), length,
                                locale.formattedDataSize(e.bytes, 1));
        if (!e.sample.isEmpty()) {
            // Shown as typed: no mnemonic, one line, not wider than a marker's label.
            QString sample = e.sample.simplified();
            if (sample.size() > 40)
                sample = sample.left(39) + QChar(0x2026);
            text += QStringLiteral("    ") + sample.replace('&', QStringLiteral("&&"));
        }
        QAction *item = menu->addAction(text);
        item->setToolTip(QDir::toNativeSeparators(e.dataPath));
        const QString path = e.dataPath;
        connect(item, &QAction::triggered, this, [this, path] { openDataFile(path); });
    }
}

void MainWindow::recoveryFailed(const QString &dataFile, const QString &reason)
{
    reportProblem(tr("上次运行留下的录制无法恢复到 %1：%2\n下次启动时会再试一次。")
                      .arg(QDir::toNativeSeparators(dataFile), reason));
}

void MainWindow::journalKept(const QString &keptPath)
{
    reportProblem(tr("上次运行留下的录制日志中没有可读的数据点，它没有被删除，已保留为：\n%1")
                      .arg(QDir::toNativeSeparators(keptPath)));
}

void MainWindow::on_menu_open_recordings_triggered()
{
    const QString folder = run->recorder().folder();
    QDir().mkpath(folder); // nothing recorded yet: the folder opens all the same
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        showProblem(tr("无法打开录制文件夹 %1").arg(QDir::toNativeSeparators(folder)));
}
