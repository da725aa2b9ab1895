// Draws the README's screenshot: the real main window, in the language of
// the system locale, during a recording of a few seconds on the stand-in card,
// with the status bar's figures of the last redraw.
//
//   korvel_screenshot <output.png> [milliseconds of acquisition]
//
// scripts/screenshots runs it under Xvfb once per language.

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "app/language.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"
#include "userfolders.h"

int main(int argc, char *argv[])
{
    keepOutOfUserFolders(); // the recording it makes is not the developer's
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: korvel_screenshot <output.png> [milliseconds]");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int ms = argc > 2 ? QByteArray(argv[2]).toInt() : 6000;
    setInterfaceLanguage(languageForLocale(QLocale()));

    int status = 1;
    {
        MainWindow window;
        window.show();
        window.form()->btn_start_collect->click();
        // Just after a redraw tick (600 ms apart): plot and figures agree.
        QTimer::singleShot((ms / 600) * 600 + 100, &window, [&] {
            status = window.grab().save(output) ? 0 : 1;
            window.form()->btn_stop_collect->click();
            app.quit();
        });
        app.exec();
    }
    resetInterfaceLanguage();
    return status;
}
