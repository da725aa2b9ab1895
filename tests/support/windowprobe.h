#pragma once

#include <qcustomplot.h>

#include "datafiles/recorder.h"
#include "mainwindow/lodgraph.h"
#include "mainwindow/mainwindow.h"

// The benchmarks' access to the window's private state.
class MainWindowProbe
{
public:
    // Empties the graphs and makes the next block start the time base at
    // zero, in a recording of its own, as clearing the data does.
    static void restartTimeBase(MainWindow &w)
    {
        for (int c = 0; c < 4; ++c)
            clearGraphData(w.channelGraph(c));
        requestTimeBaseReset(w);
    }
    // Makes the next block start the time base at zero, in a recording of its
    // own; the graphs keep their points.
    static void requestTimeBaseReset(MainWindow &w)
    {
        w.resetTimeBase = true;
        w.recorder->finish();
    }
    // What writes the window's live runs to disk.
    static Recorder &recorder(MainWindow &w) { return *w.recorder; }
};
