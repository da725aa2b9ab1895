#include <QApplication>

#include "userfolders.h"

int runLodGraphTests(int argc, char **argv);
int runPlotControlTests(int argc, char **argv);
int runMemoryGuardTests(int argc, char **argv);
int runMeasurementTests(int argc, char **argv);

int main(int argc, char **argv)
{
    keepOutOfUserFolders();
    QApplication app(argc, argv);
    int failures = 0;
    failures += runLodGraphTests(argc, argv);
    failures += runPlotControlTests(argc, argv);
    failures += runMemoryGuardTests(argc, argv);
    failures += runMeasurementTests(argc, argv);
    return failures;
}
