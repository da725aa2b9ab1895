#pragma once

#include <qcustomplot.h>

#include "datafiles/recorder.h"
#include "mainwindow/mainwindow.h"

// Access to the window's private state, for the tests and the benchmarks
// (MainWindow's friend).
class MainWindowProbe
{
public:
    static DaqTask &daq(MainWindow &w) { return w.daq; }
    static RecordingMemory recordingMemory(const MainWindow &w) { return w.recordingMemory(); }
    // What writes the window's live runs to disk.
    static Recorder &recorder(MainWindow &w) { return *w.recorder; }

    // Makes the next block start the time base at zero, in a recording of its
    // own, as clearing the data does; the graphs keep their points.
    static void requestTimeBaseReset(MainWindow &w) { w.startNewRecording(); }
    static bool timeBaseResetPending(const MainWindow &w) { return w.resetTimeBase; }
    // As requestTimeBaseReset, and empties the graphs as clearing the data does.
    static void restartTimeBase(MainWindow &w)
    {
        w.channelStore().clear();
        requestTimeBaseReset(w);
    }
};
