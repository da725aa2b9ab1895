// Draws the README's screenshot: the real main window, in the language of
// the system locale, during a recording of a few seconds on the stand-in card,
// with the status bar's figures of the last redraw and the pointer over the
// plot, showing the values under it.
//
//   korvel_screenshot <output.png> [milliseconds of acquisition]
//
// scripts/screenshots runs it under Xvfb once per language.

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <qcustomplot.h>

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
        // The pointer onto the plot a little before: the X server moves it, so
        // the window sees a real move; where none came (offscreen, or the
        // pointer was there already) the move is sent just before the grab.
        const int grabAt = (ms / 600) * 600 + 100;
        QCustomPlot *plot = window.form()->customPlot_VIT;
        auto pointerAt = [plot] {
            const QRect area = plot->axisRect()->rect();
            return QPoint(area.left() + area.width() * 55 / 100, area.top() + area.height() / 2);
        };
        QTimer::singleShot(grabAt - 400, &window,
                           [plot, pointerAt] { QCursor::setPos(plot->mapToGlobal(pointerAt())); });
        // Just after a redraw tick (600 ms apart): plot and figures agree.
        QTimer::singleShot(grabAt, &window, [&] {
            if (!window.findChild<QLabel *>(QStringLiteral("plotReadout"))->isVisible()) {
                const QPoint at = pointerAt();
                QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(plot, &move);
            }
            status = window.grab().save(output) ? 0 : 1;
            window.form()->btn_stop_collect->click();
            app.quit();
        });
        app.exec();
    }
    resetInterfaceLanguage();
    return status;
}
