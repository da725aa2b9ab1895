/* Test controls of the stand-in card library. Not part of the card's
 * interface: only tests and tools include this header. */
#pragma once

#include "Art_DAQ.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stops every task, forgets all handles, clears the call log, failure rules
 * and scripted signal, and returns to the real-time clock and the rig signal
 * with the configuration from ARTDAQ_SIM. */
ARTDAQ_API void ArtSim_Reset(void);

/* The k-th call (1-based, counted from now) of the named ArtDAQ_ function
 * fails with a negative status and an error text. */
ARTDAQ_API void ArtSim_FailCall(const char *functionName, int k);

/* Every input holds the given volts (four values: ai0..ai3; ai4..ai7 read 0). */
ARTDAQ_API void ArtSim_SetConstantSignal(const double volts[4]);
/* Scans are taken from the script (scanCount scans of four values) in turn,
 * wrapping around at its end. The data is copied. */
ARTDAQ_API void ArtSim_SetScript(const double *values, int scanCount);
/* Back to the simulated rig with the given seed. */
ARTDAQ_API void ArtSim_SetRigSignal(uint32_t seed);

/* Read failures after n good reads (-1: never). */
ARTDAQ_API void ArtSim_SetReadErrorAfter(int goodReads);
/* The task ends with an overrun status through the done callback after n
 * blocks (-1: only a real overrun ends it). */
ARTDAQ_API void ArtSim_SetOverrunAfter(int blocks);

/* Manual clock: started tasks produce no scans by themselves; each
 * ArtSim_Pump adds scans to every running task on the library's own sampling
 * thread, fires the due callbacks there, and returns once they have returned.
 * Returns the number of every-N callbacks fired. */
ARTDAQ_API void ArtSim_SetManualClock(int on);
ARTDAQ_API int ArtSim_Pump(int scans);

/* Clock speed factor for the real-time clock (1 = real time). */
ARTDAQ_API void ArtSim_SetRate(double factor);

/* Call log: one line per ArtDAQ_ call since the last reset, e.g.
 *   ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai0", "", -1, -10, 10, 10348, NULL) = 0
 * Handles are written as T<n> in order of creation, (null) for a null
 * handle; strings quoted; doubles in %g. Copies at most bufferSize-1 bytes,
 * NUL-terminated, and returns the full length. */
ARTDAQ_API int ArtSim_CallLog(char *buffer, int bufferSize);

/* Number of tasks created and not yet cleared. */
ARTDAQ_API int ArtSim_LiveTasks(void);

#ifdef __cplusplus
}
#endif
