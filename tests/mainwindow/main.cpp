#include <QApplication>

#include "userfolders.h"

int runLodGraphTests(int argc, char **argv);
int runPlotControlTests(int argc, char **argv);
int runMemoryGuardTests(int argc, char **argv);
int runMeasurementTests(int argc, char **argv);
int runFileCommandsTest(int argc, char **argv);
int runCycleWindowTests(int argc, char **argv);
int runEventListTests(int argc, char **argv);
int runLimitTests(int argc, char **argv);

int main(int argc, char **argv)
{
    keepOutOfUserFolders();
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); // the tests answer Qt's own
    QApplication app(argc, argv);
    int failures = 0;
    failures += runLodGraphTests(argc, argv);
    failures += runPlotControlTests(argc, argv);
    failures += runMemoryGuardTests(argc, argv);
    failures += runMeasurementTests(argc, argv);
    failures += runFileCommandsTest(argc, argv);
    failures += runCycleWindowTests(argc, argv);
    failures += runEventListTests(argc, argv);
    failures += runLimitTests(argc, argv);
    return failures;
}
