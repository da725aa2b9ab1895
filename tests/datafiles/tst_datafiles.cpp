// The data-file format tests (the window's file commands are tested with the
// window); the arguments go to QtTest (test function names, -v2 ...).

#include <QCoreApplication>

#include "userfolders.h"

int runDataFormatTest(int argc, char **argv);

int main(int argc, char **argv)
{
    keepOutOfUserFolders();
    QCoreApplication app(argc, argv);
    return runDataFormatTest(argc, argv);
}
