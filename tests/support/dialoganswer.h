#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class QFileDialog;

// Answers the window's next file dialog while alive, as a user would: a null
// fileName cancels it; otherwise the file type `filter` is chosen in the list
// (if given), fileName is typed in full and replacing an existing file is
// confirmed. What the dialog showed is kept; any other modal box is refused
// and counted, as the window must say its own messages without one.
class DialogAnswer : public QObject
{
public:
    explicit DialogAnswer(QString fileName, QString filter = QString());

    QString caption;
    QStringList filters;
    QString directory;
    int dialogs = 0;
    int otherBoxes = 0;

private:
    void poll();

    QString fileName;
    QString filter;
    QTimer timer;
    QPointer<QFileDialog> answered;
};

class MainWindow;

// Waits until the window's file work (open, save, export, picture) has ended
// and its result is shown. False if it still runs after a minute.
bool waitForFileWork(MainWindow &window);
