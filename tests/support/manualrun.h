#pragma once

class MainWindow;

// The window acquiring on the stand-in's manual clock, so that no block comes
// unless a test processes one; stopped again when it goes.
class ManualRun
{
public:
    explicit ManualRun(MainWindow &window);
    ~ManualRun();
    ManualRun(const ManualRun &) = delete;
    ManualRun &operator=(const ManualRun &) = delete;

private:
    MainWindow &window;
};
