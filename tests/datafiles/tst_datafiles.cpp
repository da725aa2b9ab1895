// The data-file tests: the format functions, then the commands in the window.
// A first argument "format" or "commands" runs only that half; the rest of
// the arguments go to QtTest (test function names, -v2 ...).

#include <QApplication>

#include "userfolders.h"

#include <cstring>
#include <vector>

int runDataFormatTest(int argc, char **argv);
int runFileCommandsTest(int argc, char **argv);

int main(int argc, char **argv)
{
    // Qt's own file dialogs, so the tests can find and answer them; the
    // dialogs' remembered folder and the recordings kept out of the user's.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    keepOutOfUserFolders();
    QApplication app(argc, argv);

    std::vector<char *> args(argv, argv + argc);
    bool format = true, commands = true;
    if (args.size() > 1 && (!std::strcmp(args[1], "format") || !std::strcmp(args[1], "commands"))) {
        format = !std::strcmp(args[1], "format");
        commands = !format;
        args.erase(args.begin() + 1);
    }
    int failures = 0;
    if (format)
        failures += runDataFormatTest(int(args.size()), args.data());
    if (commands)
        failures += runFileCommandsTest(int(args.size()), args.data());
    return failures;
}
