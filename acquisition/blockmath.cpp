#include "acquisition/blockmath.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

SampleBlock splitScans(const double *values, int count, int capacity)
{
    SampleBlock lists;
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

bool temperatureScaleFinite(double minTemp, double maxTemp)
{
    const TemperatureScale scale = temperatureScale(minTemp, maxTemp);
    // The mapping is linear: its ends bound every value between.
    return std::isfinite(scale.gain) && std::isfinite(scale.offset) &&
           std::isfinite(10 * scaleT(-10, scale)) && std::isfinite(10 * scaleT(10, scale));
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

SampleBlock keepSamples(TimeBase &timeBase, const SampleBlock &volts, int interval,
                        const TemperatureScale &tScale)
{
    const QVector<double> &u1 = volts.u1, &i = volts.i, &t = volts.t, &u2 = volts.u2;
    SampleBlock kept;
    const qsizetype samples = std::min({u1.size(), i.size(), t.size(), u2.size()});
    if (samples <= 0)
        return kept;
    const qsizetype expected = samples / std::max(1, interval) + 1;
    for (QVector<double> *list : {&kept.keys, &kept.u1, &kept.i, &kept.t, &kept.u2})
        list->reserve(expected);
    for (qsizetype j = 0; j < samples; ++j) {
        double key = 0;
        if (!timeBase.countScan(interval, key))
            continue;
        kept.keys.append(key);
        kept.u1.append(clampBelowZero(scaleU(u1[j])));
        kept.i.append(clampBelowZero(scaleI(i[j])));
        kept.t.append(clampBelowZero(scaleT(t[j], tScale)));
        kept.u2.append(clampBelowZero(scaleU(u2[j])));
    }
    return kept;
}

std::optional<double> parseTemperatureLimit(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    for (QLocale reading : {QLocale::c(), locale}) {
        reading.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double value = reading.toDouble(trimmed, &ok);
        if (ok)
            return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    }
    return std::nullopt;
}

int acceptedSampleRate(const QString &text)
{
    bool ok = false;
    const int rate = text.trimmed().toInt(&ok, 10);
    return ok && (rate == 1 || rate == 10 || rate == 100 || rate == 1000) ? rate : 0;
}
