#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include "app/shell.h"
#include "mainwindow/mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    (void)translator.load(startupCatalogue(QLocale()));
    QCoreApplication::installTranslator(&translator);

    int status;
    {
        MainWindow window;
        QObject::connect(&window, &MainWindow::updateData, &window, &MainWindow::onUpdateData);
        window.show();
        status = app.exec();
    }
    return status;
}
