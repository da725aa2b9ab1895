#pragma once

#include "datafiles/channeldata.h"

#include <QLocale>
#include <QString>
#include <QVector>
#include <cstdint>
#include <optional>

// Arithmetic of one sample block, free of widgets and threads.

// The card's sample clock in scans per second. The task is configured with
// it, and the live time axis counts in its periods.
constexpr double cardScanRate = 4000.0;

// Splits values interleaved by scan (value 4k + c is channel c of scan k) into
// the four lists of a block without keys. A count that is not a multiple of
// four still yields a last scan; its missing values are read from the array,
// which the caller zero-fills before the read. The count is bounded by the
// array's capacity.
SampleBlock splitScans(const double *values, int count, int capacity);

// Physical values of the four channels.
double scaleU(double volts); // U1 and U2: V
double scaleI(double volts); // A

struct TemperatureScale
{
    double gain;   // (max - min) / 100
    double offset; // min / 10
};
TemperatureScale temperatureScale(double minTemp, double maxTemp);
double scaleT(double volts, const TemperatureScale &scale); // 10 °C
// Whether the mapping gives a finite temperature, also in °C, for every
// input from -10 V to +10 V.
bool temperatureScaleFinite(double minTemp, double maxTemp);

// Values below 0 become 0; NaN stays NaN.
double clampBelowZero(double value);

// A number typed into an edit; anything that is no number counts as 0.
double editNumber(const QString &text);

// Every how many samples one is kept, from the sampling-frequency edit
// (1000 / r, base 10). 0, no number and values beyond +-1000 keep every sample;
// the sign does not matter. Always 1 or more.
int keepInterval(const QString &sampleText);

// A temperature limit as typed: a finite number, written with a decimal
// point or with the decimal separator of `locale`, blanks around it ignored.
// Anything else (no number, digit grouping, infinity, NaN, overflow) is none.
std::optional<double> parseTemperatureLimit(const QString &text, const QLocale &locale);

// The values the sampling-frequency edit accepts: 1, 10, 100 and 1000 (keep
// every 1000th ... every sample). Anything else gives 0.
int acceptedSampleRate(const QString &text);

// Whether the sample with this running number goes to the graphs.
inline bool keepSample(int32_t sampleCounter, int interval)
{
    return sampleCounter % interval == 0;
}

// The running number after this one; wraps instead of overflowing.
inline int32_t nextSampleCounter(int32_t sampleCounter)
{
    return static_cast<int32_t>(static_cast<uint32_t>(sampleCounter) + 1u);
}

// The live time axis, counted on the card's clock: the k-th scan since the
// last restart has the key k / rate seconds, however late or bunched its
// block arrived. The count is 64-bit and every key is computed from it, so
// keys neither drift nor wrap on long runs. It also carries the running
// sample number of the keep rule, which stays 32-bit and wraps.
class TimeBase
{
public:
    explicit TimeBase(double scansPerSecond, uint64_t scans = 0, int32_t sampleCounter = 0)
        : rate(scansPerSecond), scanCount(scans), counter(sampleCounter)
    {
    }

    // After a clear: the next scan has the key of the first step, 1 / rate.
    void restart()
    {
        scanCount = 0;
        counter = 0;
    }

    double scansPerSecond() const { return rate; }
    uint64_t scans() const { return scanCount; }
    int32_t sampleCounter() const { return counter; }

    // Counts the next scan. Returns whether the keep rule keeps it; key gets
    // its time in seconds either way.
    bool countScan(int interval, double &key)
    {
        ++scanCount;
        key = static_cast<double>(scanCount) / rate;
        const bool kept = keepSample(counter, interval);
        counter = nextSampleCounter(counter);
        return kept;
    }

private:
    double rate;
    uint64_t scanCount;
    int32_t counter;
};

// Counts every scan of the block (its four lists of input volts; the shortest
// decides) on the time base and keeps every interval-th one: their keys and
// the values the four graphs store.
SampleBlock keepSamples(TimeBase &timeBase, const SampleBlock &volts, int interval,
                        const TemperatureScale &tScale);
