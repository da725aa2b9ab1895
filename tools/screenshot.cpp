// Draws the README's screenshot: the real main window, in the language of
// the system locale, after a few seconds of acquisition on the stand-in card.
//
//   korvel_screenshot <output.png> [milliseconds of acquisition]
//
// scripts/screenshots runs it under Xvfb once per language.

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include "app/shell.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: korvel_screenshot <output.png> [milliseconds]");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int ms = argc > 2 ? QByteArray(argv[2]).toInt() : 6000;

    QTranslator translator;
    (void)translator.load(startupCatalogue(QLocale()));
    QCoreApplication::installTranslator(&translator);

    int status = 1;
    {
        MainWindow window;
        window.show();
        window.form()->btn_start_collect->click();
        QTimer::singleShot(ms, &window, [&] {
            window.form()->btn_stop_collect->click();
            window.form()->customPlot_VIT->replot();
            status = window.grab().save(output) ? 0 : 1;
            app.quit();
        });
        app.exec();
    }
    return status;
}
