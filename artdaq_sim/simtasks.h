#pragma once

#include "Art_DAQ.h"

namespace artsim {

struct Sim;

// The checks and effects of the ten ArtDAQ_ functions (simtasks.cpp). Each
// takes the library's mutex itself; none logs the call.
ArtDaqStatus createTask(Sim &s, const char *name, ArtDaqTask *task);
ArtDaqStatus createChannel(Sim &s, ArtDaqTask task, const char *physical, int32_t terminal,
                           double minV, double maxV, int32_t units, const char *scale);
ArtDaqStatus configureClock(Sim &s, ArtDaqTask task, const char *source, double rate, int32_t edge,
                            int32_t mode, uint32_t scans);
ArtDaqStatus registerEveryN(Sim &s, ArtDaqTask task, int32_t type, uint32_t n, uint32_t options,
                            ArtDaqEveryNSamplesCallback callback, void *data);
ArtDaqStatus registerDone(Sim &s, ArtDaqTask task, uint32_t options, ArtDaqDoneCallback callback,
                          void *data);
ArtDaqStatus startTask(Sim &s, ArtDaqTask task);
ArtDaqStatus readAnalog(Sim &s, ArtDaqTask task, int32_t perChannel, double timeout, int32_t layout,
                        double *values, uint32_t arraySize, int32_t *valuesRead,
                        const int32_t *reserved);
ArtDaqStatus stopTask(Sim &s, ArtDaqTask task);
ArtDaqStatus clearTask(Sim &s, ArtDaqTask task);
ArtDaqStatus errorInfo(Sim &s, char *buffer, uint32_t size);

} // namespace artsim
