#include "acquisition/daqtask.h"

#include <cstring>

DaqTask::DaqTask() : owner(nullptr), taskHandle(nullptr), lastBlockMs(0)
{
    const char *names[4] = {"Dev1/ai0", "Dev1/ai1", "Dev1/ai2", "Dev1/ai3"};
    for (int i = 0; i < 4; ++i)
        std::strcpy(channelNames[i], names[i]);
}

DaqTask::~DaqTask()
{
    stop();
}

void DaqTask::start() {}

void DaqTask::stop() {}
