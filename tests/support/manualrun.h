#pragma once

#include "artsim.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include <QPushButton>

// The window acquiring on the stand-in's manual clock, so that no block comes
// unless a test processes one; stopped again when it goes.
class ManualRun
{
public:
    explicit ManualRun(MainWindow &window) : window(window)
    {
        ArtSim_SetManualClock(1);
        window.form()->btn_start_collect->click();
    }
    ~ManualRun()
    {
        window.form()->btn_stop_collect->click();
        ArtSim_SetManualClock(0);
    }
    ManualRun(const ManualRun &) = delete;
    ManualRun &operator=(const ManualRun &) = delete;

private:
    MainWindow &window;
};
