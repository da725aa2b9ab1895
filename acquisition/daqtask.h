#pragma once

#include <cstdint>
#include <fstream>

#include "Art_DAQ.h"

class MainWindow;

// The acquisition task on the card library: four voltage inputs, continuous
// clock, every-N and done callbacks. start()/stop() run on the GUI thread.
class DaqTask
{
public:
    DaqTask();
    ~DaqTask();
    DaqTask(const DaqTask &) = delete;
    DaqTask &operator=(const DaqTask &) = delete;

    void start();
    void stop();

    char channelNames[4][10];
    MainWindow *owner;
    ArtDaqTask taskHandle;
    int64_t lastBlockMs;
    std::ofstream errorLog;
};
