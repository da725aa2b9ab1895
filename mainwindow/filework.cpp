#include "mainwindow/filework.h"

#include <QProgressBar>
#include <QProgressDialog>
#include <QWidget>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

// File work yields to the window and to acquisition: its thread runs at a
// lower priority, which on Linux the threads it starts take over.
void lowerThreadPriority()
{
#if defined(Q_OS_LINUX)
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
#elif defined(Q_OS_WIN)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
}

} // namespace

FileWork::FileWork(QWidget *window) : window(window)
{
    showTimer.setSingleShot(true);
    showTimer.setInterval(showDelayMs);
    connect(&showTimer, &QTimer::timeout, this, &FileWork::showProgress);
    updateTimer.setInterval(100);
    connect(&updateTimer, &QTimer::timeout, this, &FileWork::updateProgress);
}

FileWork::~FileWork()
{
    inbox.detach(); // the thread's last post reaches nobody
    if (control)
        control->cancel();
    if (thread.joinable())
        thread.join();
    delete dialog;
}

void FileWork::start(std::function<QString()> whatText, std::function<void(FileJobControl &)> work,
                     std::function<void(bool)> whenDone)
{
    Q_ASSERT(!running);
    running = true;
    what = std::move(whatText);
    done = std::move(whenDone);
    control = std::make_shared<FileJobControl>();
    thread = std::thread([this, work = std::move(work), control = control]() mutable {
        lowerThreadPriority();
        work(*control);
        work = nullptr; // what it held goes here, not on the GUI thread
        inbox.post([this] { end(); });
    });
    showTimer.start();
}

void FileWork::cancel()
{
    if (!control)
        return;
    control->cancel();
    if (dialog)
        dialog->setLabelText(tr("正在取消……"));
}

void FileWork::showProgress()
{
    if (!dialog) {
        dialog = new QProgressDialog(window);
        // The label says the share done; the bar shows it without a number.
        auto *bar = new QProgressBar(dialog);
        bar->setTextVisible(false);
        dialog->setBar(bar);
        dialog->setWindowModality(Qt::NonModal); // the window stays usable
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setRange(0, 100);
        dialog->setMinimumWidth(360);
        connect(dialog, &QProgressDialog::canceled, this, &FileWork::cancel);
    }
    updateProgress();
    dialog->show();
    updateTimer.start();
}

void FileWork::updateProgress()
{
    if (!dialog || !control || control->cancelled())
        return;
    // Texts follow the language, which may switch meanwhile.
    if (dialog->windowTitle() != tr("文件操作")) {
        dialog->setWindowTitle(tr("文件操作"));
        dialog->setCancelButtonText(tr("取消"));
    }
    const int percent = control->percent();
    dialog->setValue(percent);
    dialog->setLabelText(tr("%1：%2 %").arg(what()).arg(percent));
}

// GUI thread, posted by the work's thread as its last act.
void FileWork::end()
{
    thread.join();
    showTimer.stop();
    updateTimer.stop();
    // A new dialog for each piece of work: a hidden one would show itself
    // again when its own timer runs out.
    if (dialog) {
        dialog->hide();
        dialog->deleteLater();
        dialog = nullptr;
    }
    const bool cancelled = control->cancelled();
    const std::function<void(bool)> whenDone = std::move(done);
    done = nullptr;
    what = nullptr;
    running = false;
    control.reset();
    if (whenDone)
        whenDone(cancelled);
    emit finished();
}
