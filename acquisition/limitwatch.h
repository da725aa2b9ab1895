#pragma once

#include <array>
#include <optional>
#include <vector>

#include "datafiles/channeldata.h"

// What the limits watch: the four channels and the power U1 * I.
enum LimitChannel : int { LimitU1, LimitI, LimitT, LimitU2, LimitPower };
constexpr int LimitChannelCount = 5;

// A low and a high limit on one channel, both optional, in the units shown
// (T in degrees C, the power in W). Past a limit for delay seconds is an
// alarm; it ends once the value is back inside by deadband.
struct Limit
{
    enum Action : unsigned { Show = 1, Sound = 2, Mark = 4, Stop = 8 };

    std::optional<double> low;
    std::optional<double> high;
    double deadband = 0;
    double delay = 0;
    unsigned actions = Show;

    bool set() const { return low || high; }
    bool operator==(const Limit &o) const
    {
        return low == o.low && high == o.high && deadband == o.deadband && delay == o.delay &&
               actions == o.actions;
    }
};
using LimitSettings = std::array<Limit, LimitChannelCount>;

// Why a limit cannot be used.
enum class LimitProblem { None, NotFinite, LowNotBelowHigh, DeadbandTooLarge, NegativeDelay };
LimitProblem checkLimit(const Limit &limit);

// A limit's state changed.
struct LimitEvent
{
    enum Kind { High, Low, Normal };
    Kind kind = Normal;
    int channel = LimitU1;
    double time = 0;  // s, the point that made the change
    double value = 0; // in the limit's units
};

// Checks the kept points against the limits, point by point in time order,
// and reports transitions only: into an alarm, back to normal. Blocks whose
// values stay on one side of every limit cost a pass over each watched
// channel. GUI thread.
class LimitWatch
{
public:
    // Limits a checkLimit() refuses are not watched. Every channel starts normal.
    void setLimits(const LimitSettings &limits);
    const LimitSettings &limits() const { return settings; }
    bool active() const { return watched != 0; }
    // All normal again (the data was cleared).
    void reset();
    LimitEvent::Kind state(int channel) const { return channels[std::size_t(channel)].state; }

    // Values as the store holds them (T in tenths of a degree).
    void check(const SampleBlock &kept, std::vector<LimitEvent> &events);

private:
    struct Watch
    {
        LimitEvent::Kind state = LimitEvent::Normal;
        LimitEvent::Kind pending = LimitEvent::Normal; // past a limit, waiting for the delay
        double since = 0;
    };
    void walk(int c, const double *keys, const double *values, const double *factor,
              qsizetype count, double scale, std::vector<LimitEvent> &events);

    LimitSettings settings;
    std::array<Watch, LimitChannelCount> channels;
    unsigned watched = 0; // bit per channel with a usable limit
};
