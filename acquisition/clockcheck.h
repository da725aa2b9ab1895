#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>

// Watches, while acquiring, whether the card's sample clock keeps its nominal
// rate on the computer's clock. Passive: it sees only the scan counts and
// arrival times the caller hands in (from a monotonic clock) and changes
// nothing.
//
// Blocks arrive late, on a loaded machine many at once, but never before their
// scans were taken: a late block lies above the line of the card's clock,
// never below it. So arrival time is cut into short slices, and of each slice
// only the block earliest against the nominal clock is kept (the lower
// envelope). A burst lifts the blocks it held back, while its last block still
// arrives near the line; the fit through the kept blocks follows when the
// scans were taken, not when they were delivered.
//
// Cheap enough for every block on the GUI thread: a block costs a comparison;
// once per slice, a fit over the window's slices (about one a second).
class ClockCheck
{
public:
    // nominalScansPerSecond and windowSeconds above 0; tolerance relative.
    explicit ClockCheck(double nominalScansPerSecond, double windowSeconds = 10,
                        double tolerance = 0.01);

    // A new run: the count starts again, and the pause before it does not count.
    void restart();

    // A delivered block: the scans counted so far in this run, and when the
    // block arrived (seconds, monotonic).
    void addBlock(qint64 totalScans, double wallSeconds);

    // Scans per second over the last window; none until the run has lasted a
    // window and enough slices in it had blocks.
    std::optional<double> measuredRate() const { return rate; }

    // Whether the clock is off: every fit for a whole window put the rate
    // further from nominal than the tolerance plus three standard errors of
    // the fit. A faulty clock stays off; stalls that happen to mimic a drift
    // for a few seconds do not. Slices without blocks leave the verdict as it
    // was.
    bool off() const { return isOff; }

private:
    struct Point
    {
        qint64 scans;
        double wall;
        qint64 slice;
    };

    void fit(qint64 slice);

    double nominal;
    double tolerance;
    qint64 slicesPerWindow;
    double sliceSeconds;

    bool started = false;
    double runStart = 0;
    qint64 lastScans = 0;
    double lastWall = 0;
    qint64 currentSlice = 0;
    std::optional<Point> lowest; // the current slice's earliest block so far
    std::deque<Point> envelope;  // finished slices within the window

    std::optional<double> rate;
    std::optional<qint64> deviatingSince; // slice of the first fit of a deviating run
    bool isOff = false;
};
