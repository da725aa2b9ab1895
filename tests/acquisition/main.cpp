#include <QApplication>

#include "acquisitiontests.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int failures = 0;
    failures += runBlockMathTests(argc, argv);
    failures += runLivePathTests(argc, argv);
    failures += runDaqTaskTests(argc, argv);
    failures += runThreadTests(argc, argv);
    failures += runCardCheckTests(argc, argv);
    return failures;
}
