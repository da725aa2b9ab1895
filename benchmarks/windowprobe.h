#pragma once

#include <qcustomplot.h>

#include "mainwindow/mainwindow.h"

// The benchmarks' access to the window's private state.
class MainWindowProbe
{
public:
    // Empties the graphs and makes the next block start the time base at zero.
    static void restartTimeBase(MainWindow &w)
    {
        for (int c = 0; c < 4; ++c)
            w.channelGraph(c)->data()->clear();
        w.resetTimeBase = true;
    }
};
