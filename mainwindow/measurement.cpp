#include "mainwindow/measurement.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "mainwindow/channelstore.h"

namespace {

constexpr double undefined = std::numeric_limits<double>::quiet_NaN();

// x / y, undefined where y is zero or not finite, or the quotient of finite
// numbers overflows; infinite where x is.
double quotient(double x, double y)
{
    const double q = x / y;
    return y == 0 || !std::isfinite(y) || (std::isinf(q) && std::isfinite(x)) ? undefined : q;
}

} // namespace

double channelScale(int channel)
{
    return channel == ChannelT ? 10.0 : 1.0;
}

Measurement measure(ChannelStore &store, double a, double b)
{
    store.settle(ChannelStore::Settle::Sums);
    Measurement m{};
    m.a = a;
    m.b = b;
    m.dt = b - a;
    m.rate = quotient(1.0, m.dt);
    const double low = std::min(a, b), high = std::max(a, b);
    const double direction = a <= b ? 1.0 : -1.0;
    std::array<std::pair<qsizetype, qsizetype>, ChannelCount> spans;
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelData &data = store.channel(c);
        const double scale = channelScale(c);
        const auto [first, end] = spans[std::size_t(c)] = data.span(low, high);
        ChannelMeasurement &cm = m.channels[std::size_t(c)];
        cm.atA = data.valueAt(a) * scale;
        cm.atB = data.valueAt(b) * scale;
        cm.delta = cm.atB - cm.atA;
        cm.points = end - first;
        const ChannelData::Totals totals = data.totals(first, end);
        cm.infinite = totals.values.excess.above + totals.values.excess.below;
        if (totals.counted == 0) {
            cm.low = cm.high = cm.peakToPeak = cm.mean = cm.rms = undefined;
            continue;
        }
        const ChannelData::Extremes e = data.extremes(int(first), int(end));
        cm.low = e.low * scale;
        cm.high = e.high * scale;
        cm.peakToPeak = cm.high - cm.low;
        const double n = double(totals.counted);
        cm.mean = totals.values.value(n) * scale;
        cm.rms = totals.squares.root(n) * scale;
    }

    const auto [iFirst, iEnd] = spans[ChannelI];
    const bool current = m.channels[ChannelI].points > 0 && !std::isnan(m.channels[ChannelI].mean);
    m.charge =
        current ? direction * store.channel(ChannelI).totals(iFirst, iEnd).area.value() : undefined;
    m.energy =
        current && store.count(ChannelU1) > 0 ? direction * store.energy(iFirst, iEnd) : undefined;
    m.power = quotient(m.energy, m.dt);
    const double du1 = m.channels[ChannelU1].delta, di = m.channels[ChannelI].delta;
    m.capacitance = quotient(m.charge, du1);
    m.resistance = quotient(du1, di);
    return m;
}

QString exactNumberText(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("—");
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, int(r.ptr - text));
}
