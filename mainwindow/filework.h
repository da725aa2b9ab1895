#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <thread>

#include "app/guiinbox.h"
#include "datafiles/filejob.h"

class QProgressDialog;
class QWidget;

// The window's file work, one piece at a time, each on a thread of its own
// so that the window keeps drawing and acquisition keeps running. After
// showDelayMs a progress dialog beside the window tells what is done and
// offers Cancel. Created and used on the GUI thread.
class FileWork : public QObject
{
    Q_OBJECT

public:
    static constexpr int showDelayMs = 300;

    explicit FileWork(QWidget *window);
    // Cancels the work and waits for its thread.
    ~FileWork() override;

    bool busy() const { return running; }
    // Starts work(control) on its thread; done(cancelled) runs on the GUI
    // thread when it has ended. what() names the work for the dialog
    // ("reading run.txt"), asked anew at each update so that it follows the
    // language. Only while not busy().
    void start(std::function<QString()> what, std::function<void(FileJobControl &)> work,
               std::function<void(bool cancelled)> done);
    void cancel();
    // Memory the work holds so far, for the memory guard.
    qint64 heldBytes() const { return control ? control->heldBytes() : 0; }
    // The progress dialog, once shown; for the tests.
    QProgressDialog *progressDialog() const { return dialog; }

signals:
    // After done() of each piece of work.
    void finished();

private:
    void showProgress();
    void updateProgress();
    void end();

    QWidget *window;
    GuiInbox inbox;
    std::thread thread;
    std::shared_ptr<FileJobControl> control;
    std::function<QString()> what;
    std::function<void(bool)> done;
    bool running = false;
    QTimer showTimer;
    QTimer updateTimer;
    QPointer<QProgressDialog> dialog;
};
