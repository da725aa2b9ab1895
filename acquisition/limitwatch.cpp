#include "acquisition/limitwatch.h"

#include <cmath>

namespace {

bool finiteOrNone(const std::optional<double> &v)
{
    return !v || std::isfinite(*v);
}

} // namespace

LimitProblem checkLimit(const Limit &limit)
{
    if (!finiteOrNone(limit.low) || !finiteOrNone(limit.high) || !std::isfinite(limit.deadband) ||
        !std::isfinite(limit.delay))
        return LimitProblem::NotFinite;
    if (limit.low && limit.high && !(*limit.low < *limit.high))
        return LimitProblem::LowNotBelowHigh;
    if (limit.delay < 0)
        return LimitProblem::NegativeDelay;
    if (limit.deadband < 0 ||
        (limit.low && limit.high && limit.deadband > *limit.high - *limit.low))
        return LimitProblem::DeadbandTooLarge;
    return LimitProblem::None;
}

void LimitWatch::setLimits(const LimitSettings &limits)
{
    settings = limits;
    watched = 0;
    for (int c = 0; c < LimitChannelCount; ++c)
        if (settings[std::size_t(c)].set() &&
            checkLimit(settings[std::size_t(c)]) == LimitProblem::None)
            watched |= 1u << c;
    reset();
}

void LimitWatch::reset()
{
    channels = {};
}

void LimitWatch::check(const SampleBlock &kept, std::vector<LimitEvent> &events)
{
    if (!watched)
        return;
    const qsizetype n = kept.size();
    const double *keys = kept.keys.constData();
    const double *lists[4] = {kept.u1.constData(), kept.i.constData(), kept.t.constData(),
                              kept.u2.constData()};
    for (int c = 0; c < LimitChannelCount; ++c) {
        if (!(watched & (1u << c)))
            continue;
        const Limit &limit = settings[std::size_t(c)];
        const Watch &w = channels[std::size_t(c)];
        const double scale = c == LimitT ? 10.0 : 1.0;
        const double *values = c == LimitPower ? lists[ChannelU1] : lists[c];
        const double *factor = c == LimitPower ? lists[ChannelI] : nullptr;
        // Most blocks change nothing: a pass for the extremes decides.
        double lo = INFINITY, hi = -INFINITY;
        if (factor) {
            for (qsizetype k = 0; k < n; ++k) {
                const double v = values[k] * factor[k];
                lo = v < lo ? v : lo; // NaN never counts
                hi = v > hi ? v : hi;
            }
        } else {
            for (qsizetype k = 0; k < n; ++k) {
                lo = values[k] < lo ? values[k] : lo;
                hi = values[k] > hi ? values[k] : hi;
            }
            lo *= scale;
            hi *= scale;
        }
        bool quiet = false;
        if (w.state == LimitEvent::Normal)
            quiet = w.pending == LimitEvent::Normal && !(limit.high && hi > *limit.high) &&
                    !(limit.low && lo < *limit.low);
        else if (w.state == LimitEvent::High)
            quiet = lo > *limit.high - limit.deadband;
        else
            quiet = hi < *limit.low + limit.deadband;
        if (!quiet)
            walk(c, keys, values, factor, n, scale, events);
    }
}

void LimitWatch::walk(int c, const double *keys, const double *values, const double *factor,
                      qsizetype count, double scale, std::vector<LimitEvent> &events)
{
    const Limit &limit = settings[std::size_t(c)];
    Watch &w = channels[std::size_t(c)];
    for (qsizetype k = 0; k < count; ++k) {
        const double v = factor ? values[k] * factor[k] : values[k] * scale;
        const double t = keys[k];
        if (std::isnan(v) || std::isnan(t))
            continue;
        if (w.state == LimitEvent::High && v <= *limit.high - limit.deadband)
            w.state = LimitEvent::Normal, events.push_back({LimitEvent::Normal, c, t, v});
        else if (w.state == LimitEvent::Low && v >= *limit.low + limit.deadband)
            w.state = LimitEvent::Normal, events.push_back({LimitEvent::Normal, c, t, v});
        if (w.state != LimitEvent::Normal)
            continue;
        const LimitEvent::Kind past = limit.high && v > *limit.high ? LimitEvent::High
                                      : limit.low && v < *limit.low ? LimitEvent::Low
                                                                    : LimitEvent::Normal;
        if (past != w.pending) {
            w.pending = past;
            w.since = t;
        }
        if (past != LimitEvent::Normal && t - w.since >= limit.delay) {
            w.state = past;
            w.pending = LimitEvent::Normal;
            events.push_back({past, c, t, v});
        }
    }
}
