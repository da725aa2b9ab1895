#include <QApplication>
#include <QLocale>

#include "app/language.h"
#include "mainwindow/mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Before the window: its construction translates its texts.
    setInterfaceLanguage(languageForLocale(QLocale()));

    int status;
    {
        MainWindow window;
        QObject::connect(&window, &MainWindow::updateData, &window, &MainWindow::onUpdateData);
        window.show();
        status = app.exec();
    }
    resetInterfaceLanguage();
    return status;
}
