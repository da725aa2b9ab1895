#include "manualrun.h"

#include <QPushButton>

#include "artsim.h"
#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

ManualRun::ManualRun(MainWindow &window) : window(window)
{
    ArtSim_SetManualClock(1);
    window.form()->btn_start_collect->click();
}

ManualRun::~ManualRun()
{
    window.form()->btn_stop_collect->click();
    ArtSim_SetManualClock(0);
}
