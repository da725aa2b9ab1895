#pragma once

#include <QString>

#include <array>

#include "datafiles/channeldata.h"

class ChannelStore;

// One channel between the cursors, in the readout's units (T in °C). NaN
// where a figure is undefined, +-inf where the values make it so.
struct ChannelMeasurement
{
    double atA;
    double atB;
    double delta;
    double low;
    double high;
    double peakToPeak;
    double mean;
    double rms;
    qint64 points;
    qint64 infinite; // of them with an infinite value
};

// The measurement table for cursors at times a and b. The statistics cover
// the points with a time between the two; the integrals run from A to B, so
// they change sign with the cursors' order, as Δt does. NaN: undefined;
// +-inf where that is the answer (an infinite value between the cursors).
struct Measurement
{
    double a;
    double b;
    double dt;
    double rate; // 1/Δt
    std::array<ChannelMeasurement, ChannelCount> channels;
    double charge;      // ∫ I dt, C
    double energy;      // ∫ U1·I dt, J
    double power;       // E/Δt, W
    double capacitance; // Q/ΔU1, F
    double resistance;  // ΔU1/ΔI, Ω
};

// From every point held and waiting (merged first, unless file work holds
// them), by the store's prefix sums, brought up to date first: a few hundred
// reads whatever the length, except E where U1 and I have different times.
Measurement measure(ChannelStore &store, double a, double b);

// What a stored value is multiplied by to show it: T is kept in °C/10.
double channelScale(int channel);

// The shortest text that reads back as the same double, with a full stop as
// the decimal point whatever the locale; "—" for an undefined figure.
QString exactNumberText(double value);
