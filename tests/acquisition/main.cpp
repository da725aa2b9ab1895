#include <QApplication>

#include "userfolders.h"

int runBlockMathTests(int argc, char **argv);
int runLivePathTests(int argc, char **argv);
int runDaqTaskTests(int argc, char **argv);
int runThreadTests(int argc, char **argv);
int runCardCheckTests(int argc, char **argv);
int runClockCheckTests(int argc, char **argv);
int runCycleTests(int argc, char **argv);

int main(int argc, char **argv)
{
    keepOutOfUserFolders();
    QApplication app(argc, argv);
    int failures = 0;
    failures += runBlockMathTests(argc, argv);
    failures += runLivePathTests(argc, argv);
    failures += runDaqTaskTests(argc, argv);
    failures += runThreadTests(argc, argv);
    failures += runCardCheckTests(argc, argv);
    failures += runClockCheckTests(argc, argv);
    failures += runCycleTests(argc, argv);
    return failures;
}
