/* Test controls of the stand-in card library. Not part of the card's
 * interface: only tests and tools include this header. */
#pragma once

#include "Art_DAQ.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stops every task, forgets all handles, clears the call log, failure rules,
 * hold and scripted signal, and returns to the real-time clock and to the signal,
 * seed, rate, rules and options of ARTDAQ_SIM (the rig when it says nothing).
 *
 * Note: the stand-in keeps the text for ArtDAQ_GetExtendedErrorInfo per
 * thread (the last failed call of the calling thread). */
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

/* Every read of a task fails (ARTSIM_ERR_READ_FAILED) once it has had n
 * good reads since its start (-1: never). */
ARTDAQ_API void ArtSim_SetReadErrorAfter(int goodReads);
/* A task that has delivered n blocks since its start ends with
 * ARTSIM_ERR_OVERRUN through the done callback when block n+1 is due
 * (-1: only a real overrun ends it). */
ARTDAQ_API void ArtSim_SetOverrunAfter(int blocks);

/* Every-N callbacks come in bursts: the callback thread waits until this many
 * blocks are in, then calls the callback once per block, back to back (1:
 * each block as it comes). A burst of more blocks than the buffer holds
 * overruns before it is delivered, and one that fills it leaves the reader a
 * single scan period: leave a block of the buffer free (at most 9 blocks of
 * 100 in the program's 1000 scans at real speed). */
ARTDAQ_API void ArtSim_SetBurst(int blocks);

/* Reads store as count the number of scans instead of the number of values
 * (another library's convention; the values are written all the same). */
ARTDAQ_API void ArtSim_SetReadCountInScans(int on);
/* ArtDAQ_GetExtendedErrorInfo returns its texts in GBK (code page 936)
 * instead of UTF-8, as a library on a Chinese Windows may. */
ARTDAQ_API void ArtSim_SetErrorTextGbk(int on);

/* Holds a callback thread at a chosen point for tests of races: the next call
 * of the named ArtDAQ_ function made from inside a callback waits just before
 * the call (after = 0) or just after it, its effect done and its call-log line
 * written (after = 1), until ArtSim_Release. One hold at a time; a reset
 * releases it. */
ARTDAQ_API void ArtSim_HoldCallback(const char *functionName, int after);
/* Waits up to timeoutMs for a thread to be held; 1 when one is, else 0. */
ARTDAQ_API int ArtSim_WaitHeld(int timeoutMs);
/* Lets a held thread go on, and drops a hold not reached yet. */
ARTDAQ_API void ArtSim_Release(void);

/* Manual clock: started tasks produce no scans by themselves; each
 * ArtSim_Pump adds scans to every running task on the library's own callback
 * thread, fires the due callbacks there, and returns once they have returned.
 * Returns the number of every-N callbacks fired; -1 (and nothing happens)
 * when the clock is not manual or when called from a callback. Scans of a
 * pump that are not a whole block stay counted toward the next block. */
ARTDAQ_API void ArtSim_SetManualClock(int on);
ARTDAQ_API int ArtSim_Pump(int scans);

/* Clock speed factor for the real-time clock (1 = real time). The buffer of a
 * task started later holds at least a quarter of a second of the sped-up clock. */
ARTDAQ_API void ArtSim_SetRate(double factor);

/* Call log: one line per ArtDAQ_ call since the last reset, e.g.
 *   ArtDAQ_CreateAIVoltageChan(T1, "Dev1/ai0", "", -1, -10, 10, 10348, NULL) = 0
 * Handles are written as T<n> in order of creation, (null) for a null
 * handle; strings quoted; doubles in %g. Copies at most bufferSize-1 bytes,
 * NUL-terminated, and returns the full length.
 * Other pointers are written as ptr, or NULL when null. ArtDAQ_CreateTask
 * writes the handle it stored (T<n>, or (null) when it failed). A handle that
 * this library never issued, or issued before the last reset, is written as
 * (invalid). Each line ends with "\n"; a line is added when the call returns,
 * so a call made from inside a callback precedes the call that waited for it.
 * The log keeps about the last megabyte. Examples:
 *   ArtDAQ_CreateTask("", T1) = 0
 *   ArtDAQ_CfgSampClkTiming(T1, "", 4000, 10280, 10123, 1000) = 0
 *   ArtDAQ_RegisterEveryNSamplesEvent(T1, 1, 100, 0, ptr, ptr) = 0
 *   ArtDAQ_RegisterDoneEvent(T1, 0, ptr, ptr) = 0
 *   ArtDAQ_StartTask(T1) = 0
 *   ArtDAQ_ReadAnalogF64(T1, -1, 10, 1, ptr, 800, ptr, NULL) = 0
 *   ArtDAQ_GetExtendedErrorInfo(ptr, 2048) = 0
 *   ArtDAQ_StopTask(T1) = 0
 *   ArtDAQ_ClearTask(T1) = 0 */
ARTDAQ_API int ArtSim_CallLog(char *buffer, int bufferSize);

/* Number of tasks created and not yet cleared. */
ARTDAQ_API int ArtSim_LiveTasks(void);

/* Makes settings the configuration that ArtSim_Reset returns to, exactly as if
 * ARTDAQ_SIM held it, and resets. NULL restores the ARTDAQ_SIM of the
 * process. Returns the number of rejected items (each reported on stderr). */
ARTDAQ_API int ArtSim_Configure(const char *settings);
/* Writes the configuration in force, canonical form, e.g.
 *   signal=rig;seed=1;rate=1;readerror=never;overrun=never;burst=1;count=values;errortext=utf8
 * (fail=ArtDAQ_X#K items follow, one per pending rule). Same buffer rules as
 * ArtSim_CallLog. */
ARTDAQ_API int ArtSim_Describe(char *buffer, int bufferSize);

/* Statuses of the stand-in (all negative; the error text says more). */
enum {
    ARTSIM_ERR_INVALID_HANDLE = -1001,
    ARTSIM_ERR_NULL_ARGUMENT = -1002,
    ARTSIM_ERR_UNKNOWN_CHANNEL = -1003,
    ARTSIM_ERR_DUPLICATE_CHANNEL = -1004,
    ARTSIM_ERR_TERMINAL_CONFIG = -1005,
    ARTSIM_ERR_RANGE = -1006,
    ARTSIM_ERR_UNITS = -1007,
    ARTSIM_ERR_CUSTOM_SCALE = -1008,
    ARTSIM_ERR_CLOCK_SOURCE = -1009,
    ARTSIM_ERR_RATE = -1010,
    ARTSIM_ERR_EDGE = -1011,
    ARTSIM_ERR_SAMPLE_MODE = -1012,
    ARTSIM_ERR_BUFFER_SIZE = -1013,
    ARTSIM_ERR_EVENT_TYPE = -1014,
    ARTSIM_ERR_EVENT_COUNT = -1015,
    ARTSIM_ERR_OPTIONS = -1016,
    ARTSIM_ERR_ALREADY_REGISTERED = -1017,
    ARTSIM_ERR_TASK_RUNNING = -1018,
    ARTSIM_ERR_NO_CHANNELS = -1019,
    ARTSIM_ERR_NO_TIMING = -1020,
    ARTSIM_ERR_NOT_STARTED = -1021,
    ARTSIM_ERR_LAYOUT = -1022,
    ARTSIM_ERR_ARRAY_TOO_SMALL = -1023,
    ARTSIM_ERR_READ_COUNT = -1024,
    ARTSIM_ERR_TIMEOUT_VALUE = -1025,
    ARTSIM_ERR_READ_TIMEOUT = -1026,
    ARTSIM_ERR_RESERVED = -1027,
    ARTSIM_ERR_STOPPING = -1028,
    ARTSIM_ERR_RESOURCE_BUSY = -1029,
    ARTSIM_ERR_THREAD = -1030,
    ARTSIM_ERR_OVERRUN = -1040,
    ARTSIM_ERR_READ_FAILED = -1041,
    ARTSIM_ERR_INJECTED = -1042
};

#ifdef __cplusplus
}
#endif
