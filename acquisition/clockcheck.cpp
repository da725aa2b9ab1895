#include "acquisition/clockcheck.h"

#include <algorithm>
#include <cmath>

namespace {

// Slices of about a second hold the last block of a burst (at most the
// card's buffer, a quarter second) even when it comes late;
// short windows still get eight of them, enough to fit and judge a line.
constexpr double longestSlice = 1.0;
constexpr qint64 fewestSlices = 8;
// Fewer points leave the fit's uncertainty meaningless.
constexpr std::size_t fewestPoints = 4;
// How many standard errors of the fit a deviation must clear: stalls on a
// loaded machine scatter the envelope, and a warning must not come of that.
constexpr double uncertainties = 3.0;

} // namespace

ClockCheck::ClockCheck(double nominalScansPerSecond, double windowSeconds, double tolerance)
    : nominal(nominalScansPerSecond), tolerance(tolerance)
{
    Q_ASSERT(nominalScansPerSecond > 0 && windowSeconds > 0 && tolerance >= 0);
    // Whole slices per window, so that "the run has lasted a window" is a
    // count of slices and not a comparison of rounded sums.
    slicesPerWindow =
        std::max(fewestSlices, static_cast<qint64>(std::ceil(windowSeconds / longestSlice)));
    sliceSeconds = windowSeconds / static_cast<double>(slicesPerWindow);
}

void ClockCheck::restart()
{
    started = false;
    lowest.reset();
    envelope.clear();
    rate.reset();
    deviatingSince.reset();
    isOff = false;
}

void ClockCheck::addBlock(qint64 totalScans, double wallSeconds)
{
    if (!std::isfinite(wallSeconds))
        return;
    // A count that went back belongs to a new run nobody announced; mixing
    // the two would fit a line through both.
    if (started && totalScans < lastScans)
        restart();
    if (!started) {
        started = true;
        runStart = wallSeconds;
        currentSlice = 0;
    } else if (wallSeconds < lastWall) {
        return; // not from a monotonic clock
    }
    lastScans = totalScans;
    lastWall = wallSeconds;

    const auto slice = static_cast<qint64>(std::floor((wallSeconds - runStart) / sliceSeconds));
    if (slice > currentSlice) {
        if (lowest)
            envelope.push_back(*lowest);
        lowest.reset();
        currentSlice = slice;
        fit(slice);
    }
    // Lateness against the nominal clock, up to a constant: the smallest one
    // is the block delivered closest to when its scans were taken.
    const auto lateness = [this](const Point &p) {
        return p.wall - static_cast<double>(p.scans) / nominal;
    };
    const Point point{totalScans, wallSeconds, slice};
    if (!lowest || lateness(point) < lateness(*lowest))
        lowest = point;
}

void ClockCheck::fit(qint64 slice)
{
    while (!envelope.empty() && envelope.front().slice < slice - slicesPerWindow)
        envelope.pop_front();
    rate.reset();
    const std::size_t n = envelope.size();
    if (slice < slicesPerWindow || n < fewestPoints)
        return; // a gap in the blocks neither confirms nor clears the verdict

    // Arrival time over scans: the delays are in the arrival times, so they
    // are the dependent variable, and the slope is not flattened by them.
    // Centred on the first point, since counts and times grow over a long run
    // while their spread in the window does not.
    const Point &origin = envelope.front();
    double meanScans = 0;
    double meanWall = 0;
    for (const Point &p : envelope) {
        meanScans += static_cast<double>(p.scans - origin.scans);
        meanWall += p.wall - origin.wall;
    }
    meanScans /= static_cast<double>(n);
    meanWall /= static_cast<double>(n);
    double sxx = 0;
    double sxy = 0;
    for (const Point &p : envelope) {
        const double dx = static_cast<double>(p.scans - origin.scans) - meanScans;
        sxx += dx * dx;
        sxy += dx * (p.wall - origin.wall - meanWall);
    }
    if (!(sxx > 0))
        return;
    const double secondsPerScan = sxy / sxx;
    if (!(secondsPerScan > 0) || !std::isfinite(secondsPerScan))
        return;
    double squares = 0;
    for (const Point &p : envelope) {
        const double dx = static_cast<double>(p.scans - origin.scans) - meanScans;
        const double e = p.wall - origin.wall - meanWall - secondsPerScan * dx;
        squares += e * e;
    }
    // Relative standard error of the slope, the same for the rate it inverts.
    const double uncertainty =
        std::sqrt(squares / static_cast<double>(n - 2) / sxx) / secondsPerScan;
    rate = 1.0 / secondsPerScan;

    if (std::abs(*rate / nominal - 1.0) <= tolerance + uncertainties * uncertainty) {
        deviatingSince.reset();
        isOff = false;
        return;
    }
    if (!deviatingSince)
        deviatingSince = slice;
    isOff = slice - *deviatingSince >= slicesPerWindow;
}
