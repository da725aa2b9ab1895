#pragma once

#include "mainwindow/mainwindow.h"

// Access to the window's private state, for the tests (MainWindow's friend).
class MainWindowProbe
{
public:
    static bool zoomMode(const MainWindow &w) { return w.zoomMode; }
};
