/* C interface of the analog-input card library.
 *
 * Written from the program's call contract only. The stand-in in this folder
 * implements it; on the rig the card's own library takes its place under the
 * same file name (Art_DAQ.dll). */
#pragma once

#include <stdint.h>

#ifdef _WIN32
#ifdef ARTDAQ_BUILDING_LIBRARY
#define ARTDAQ_API __declspec(dllexport)
#else
#define ARTDAQ_API __declspec(dllimport)
#endif
#else
#define ARTDAQ_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque, pointer-sized handle of one task. */
typedef void *ArtDaqTask;
/* Every function returns a status: negative means failure. */
typedef int32_t ArtDaqStatus;

typedef ArtDaqStatus (*ArtDaqEveryNSamplesCallback)(ArtDaqTask task, int32_t eventType,
                                                    uint32_t sampleCount, void *callbackData);
typedef ArtDaqStatus (*ArtDaqDoneCallback)(ArtDaqTask task, ArtDaqStatus status,
                                           void *callbackData);

/* Values of the contract. */
#define ARTDAQ_TERMINAL_DEFAULT (-1)
#define ARTDAQ_UNITS_VOLTS 10348
#define ARTDAQ_EDGE_RISING 10280
#define ARTDAQ_MODE_CONTINUOUS 10123
#define ARTDAQ_EVENT_ACQUIRED_INTO_BUFFER 1
#define ARTDAQ_LAYOUT_GROUP_BY_SCAN 1

ARTDAQ_API ArtDaqStatus ArtDAQ_CreateTask(const char *taskName, ArtDaqTask *task);
ARTDAQ_API ArtDaqStatus ArtDAQ_CreateAIVoltageChan(ArtDaqTask task, const char *physicalChannel,
                                                   const char *channelName, int32_t terminalConfig,
                                                   double minVolts, double maxVolts, int32_t units,
                                                   const char *customScaleName);
ARTDAQ_API ArtDaqStatus ArtDAQ_CfgSampClkTiming(ArtDaqTask task, const char *clockSource,
                                                double rate, int32_t activeEdge, int32_t sampleMode,
                                                uint32_t samplesPerChannel);
ARTDAQ_API ArtDaqStatus ArtDAQ_RegisterEveryNSamplesEvent(ArtDaqTask task, int32_t eventType,
                                                          uint32_t sampleCount, uint32_t options,
                                                          ArtDaqEveryNSamplesCallback callback,
                                                          void *callbackData);
ARTDAQ_API ArtDaqStatus ArtDAQ_RegisterDoneEvent(ArtDaqTask task, uint32_t options,
                                                 ArtDaqDoneCallback callback, void *callbackData);
ARTDAQ_API ArtDaqStatus ArtDAQ_StartTask(ArtDaqTask task);
/* Reads up to arraySize values, interleaved by scan; *valuesRead receives the
 * number of values written (four per scan of a four-channel task). */
ARTDAQ_API ArtDaqStatus ArtDAQ_ReadAnalogF64(ArtDaqTask task, int32_t samplesPerChannel,
                                             double timeoutSeconds, int32_t layout, double *values,
                                             uint32_t arraySize, int32_t *valuesRead,
                                             int32_t *reserved);
ARTDAQ_API ArtDaqStatus ArtDAQ_StopTask(ArtDaqTask task);
ARTDAQ_API ArtDaqStatus ArtDAQ_ClearTask(ArtDaqTask task);
/* Copies the last error's text, NUL-terminated, into buffer: UTF-8 from the
 * stand-in, possibly the system's code page from another library. */
ARTDAQ_API ArtDaqStatus ArtDAQ_GetExtendedErrorInfo(char *buffer, uint32_t bufferSize);

#ifdef __cplusplus
}
#endif
