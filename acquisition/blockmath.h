#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

// Arithmetic of one sample block, free of widgets and threads.

// The four channel lists of one block (input volts), in channel order.
struct ChannelLists
{
    QVector<double> u1;
    QVector<double> i;
    QVector<double> t;
    QVector<double> u2;
};

// Splits values interleaved by scan (value 4k + c is channel c of scan k) into
// the four lists. A count that is not a multiple of four still yields a last
// scan; its missing values are read from the array, which the caller zero-fills
// before the read. The count is bounded by the array's capacity.
ChannelLists splitScans(const double *values, int count, int capacity);

// Milliseconds per sample of a block of n samples (n > 0) that spanned
// elapsedMs: whole milliseconds (0 counts as n, i.e. 1 ms per sample) divided by
// n in single precision. Negative or NaN elapsed times count as 0; times beyond
// the 32-bit range saturate.
double sampleStepMs(double elapsedMs, int n);

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

// Values below 0 become 0; NaN stays NaN.
double clampBelowZero(double value);

// A number typed into an edit; anything that is no number counts as 0.
double editNumber(const QString &text);

// Every how many samples one is kept, from the sampling-frequency edit
// (1000 / r, base 10). 0, no number and values beyond +-1000 keep every sample;
// the sign does not matter. Always 1 or more.
int keepInterval(const QString &sampleText);

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
