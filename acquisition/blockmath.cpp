#include "acquisition/blockmath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

ChannelLists splitScans(const double *values, int count, int capacity)
{
    ChannelLists lists;
    const int usable = std::min(count, capacity);
    if (usable <= 0 || !values)
        return lists;
    // A partial last scan counts as a whole one, but never reaches past the array.
    const int scans = std::min((usable + 3) / 4, capacity / 4);
    lists.u1.resize(scans);
    lists.i.resize(scans);
    lists.t.resize(scans);
    lists.u2.resize(scans);
    for (int k = 0; k < scans; ++k) {
        const double *scan = values + 4 * k;
        lists.u1[k] = scan[0];
        lists.i[k] = scan[1];
        lists.t[k] = scan[2];
        lists.u2[k] = scan[3];
    }
    return lists;
}

double sampleStepMs(double elapsedMs, int n)
{
    if (n <= 0)
        return 0.0;
    uint32_t wholeMs = 0;
    if (elapsedMs >= 4294967295.0)
        wholeMs = UINT32_MAX;
    else if (elapsedMs >= 1.0)
        wholeMs = static_cast<uint32_t>(elapsedMs);
    if (wholeMs == 0)
        wholeMs = static_cast<uint32_t>(n);
    return static_cast<double>(static_cast<float>(wholeMs) / static_cast<float>(n));
}

double scaleU(double volts)
{
    return volts * 50.0;
}

double scaleI(double volts)
{
    return volts * 100.0;
}

TemperatureScale temperatureScale(double minTemp, double maxTemp)
{
    return {(maxTemp - minTemp) / 100.0, minTemp / 10.0};
}

double scaleT(double volts, const TemperatureScale &scale)
{
    return scale.gain * volts + scale.offset;
}

double clampBelowZero(double value)
{
    return value < 0.0 ? 0.0 : value;
}

double editNumber(const QString &text)
{
    // QString::toDouble reads the C locale's format whatever the system locale.
    return text.toDouble();
}

int keepInterval(const QString &sampleText)
{
    bool ok = false;
    const int r = sampleText.toInt(&ok, 10);
    if (!ok || r == 0 || r > 1000 || r < -1000)
        return 1;
    return std::abs(1000 / r);
}
