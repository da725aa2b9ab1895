#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

#include "datafiles/channeldata.h"

class FileJobControl;

// How cycles are found and measured. Kept in the settings file; a change
// analyses the points held again.
struct CycleSettings
{
    double ratedVoltage = 0;          // UR in V; 0: the highest hold plateau found
    double upperFraction = 0.8;       // U_a = upperFraction * UR
    double lowerFraction = 0.4;       // U_b = lowerFraction * UR
    double currentThreshold = 0;      // A: |I| from here on flows; 0: 5 % of the largest |I| seen
    double minPhaseSeconds = 0.2;     // shorter phases belong to their neighbours
    double fitDelay = 0.01;           // s from the current switch to the ESR fit window
    double fitLength = 0.1;           // s, the fit window's length
    double reboundDelay = 0.5;        // s after the discharge ends, for the rebound
    int referenceCycle = 0;           // cycle number (1-based); 0: the first full cycle
    double capacitanceFadeLimit = 30; // % below the reference's capacitance: end of life
    double esrRiseLimit = 4;          // times the reference's ESR: end of life
    // The sample's own figures, when given, are the reference instead of a
    // cycle's (F and ohm; 0: the reference cycle's). Not kept in the settings
    // file: they come with the run's information.
    double referenceCapacitance = 0;
    double referenceEsr = 0;
    bool startWithDischarge = false; // a cycle is a discharge and the charge after it

    bool operator==(const CycleSettings &o) const;
    bool operator!=(const CycleSettings &o) const { return !(*this == o); }
};

enum class PhaseKind { Charge, Hold, Discharge, Rest };

struct CyclePhase
{
    PhaseKind kind = PhaseKind::Rest;
    double start = 0; // s
    double end = 0;   // s
};

// Why a figure has no number: the data does not support its method.
enum class Missing {
    None,
    PartialCycle, // the data cuts the cycle (no duration, not in the fade)
    NoSuchPhase,  // the cycle has no hold (or rest, charge, discharge)
    NoCurrent,    // the current of that phase is not measured (reads 0)
    NotReached,   // the discharge never reaches U_b (or starts below U_a)
    TooFewPoints, // the phase or window holds too few points for the method
    NotANumber,   // NaN values inside the window
    NoReference,  // no reference cycle (yet), or its figure is missing
    ZeroDivisor,  // a voltage or current difference of zero
};

// One figure of a cycle: a number, or why the method gives none.
struct Figure
{
    std::optional<double> value;
    Missing why = Missing::None;

    static Figure of(double v) { return {v, Missing::None}; }
    static Figure none(Missing reason) { return {std::nullopt, reason}; }
};

// What the methods used, for drawing them on the plot (times in s, volts).
struct CycleMethod
{
    // Constant-current capacitance: U1 crosses ua at t1 and ub at t2.
    std::optional<double> t1, t2;
    double ua = 0, ub = 0;
    // ESR by the IR drop: the line u(t) = fitAt + fitSlope * (t - switchTime)
    // fitted over [fitFrom, fitTo] and extrapolated back to switchTime, where
    // U1 stood at uBefore; the drop is uBefore - fitAt.
    std::optional<double> switchTime;
    double fitFrom = 0, fitTo = 0, fitAt = 0, fitSlope = 0, uBefore = 0;
};

struct CycleResult
{
    int number = 0; // 1-based, in time order
    bool partial = false;
    double start = 0; // s, the time of the cycle's first point
    double end = 0;
    std::vector<CyclePhase> phases;

    Figure chargeTime, holdTime, dischargeTime, restTime; // s
    Figure u1EndCharge, u1EndDischarge;                   // V
    Figure chargeIn, chargeOut;                           // A*s, both positive
    Figure energyIn, energyOut;                           // J, both positive
    Figure coulombicEfficiency, energyEfficiency;         // %
    Figure capacitance;            // F, constant-current discharge between U_a and U_b
    Figure capacitanceEnergy;      // F, 2 E / (U_a^2 - U_b^2) over the same window
    Figure capacitanceCharge;      // F, Q / dU over the charge
    Figure esr;                    // ohm, the IR drop at the start of the discharge
    Figure esrRebound;             // ohm, the rebound after the discharge
    Figure tMin, tMax, tMean;      // degrees C
    Figure u2Mean;                 // V
    Figure capacitanceChange;      // % against the reference cycle
    Figure esrChange;              // %
    std::optional<bool> endOfLife; // past a limit; none without a reference
    bool reference = false;        // this is the reference cycle

    CycleMethod method;
};

// Finds charge, hold, discharge and rest in the stream of U1 and I and
// measures each cycle. Follows the stream: each point is looked at once, and
// what it keeps is bounded per cycle (the fit window, the sums), never the
// points. A value: the worker analyses a whole recording into one, the GUI
// thread takes it over and feeds it the points that came since.
class CycleAnalyzer
{
public:
    explicit CycleAnalyzer(const CycleSettings &settings = {});

    const CycleSettings &settings() const;

    // Kept points in time order, the four channels on one time grid, values as
    // the store holds them (T in tenths of a degree: stored x 10 is degrees C).
    void feed(const SampleBlock &kept);
    void feed(const double *keys, const double *u1, const double *i, const double *t,
              const double *u2, qsizetype count);
    // A whole recording (the channels' times need not agree: I, T and U2 are
    // taken at U1's times, linearly between their points). Counts progress on
    // control and stops (false) when it says so.
    bool feed(const ChannelSet &channels, FileJobControl *control = nullptr);

    // The cycles measured so far: every complete one, then the one in
    // progress as partial (its figures so far), then none.
    std::vector<CycleResult> cycles() const;
    // How many cycles are complete; grows as the stream goes on.
    int completeCount() const;
    // Whether a cycle has begun that is not complete yet.
    bool cycleInProgress() const;
    // The rated voltage in force (set, or the highest plateau so far; 0 none).
    // A cycle's U_a and U_b come from the rated voltage in force when its
    // discharge begins, so with 0 set, early cycles may use a lower one.
    double ratedVoltage() const;
    // The current threshold in force (set, or 5 % of the largest |I| so far).
    double currentThreshold() const;
    // The latest time fed, or none.
    std::optional<double> lastKey() const;
    // Memory the analysis holds: its cycles and its window of recent points.
    qint64 heldBytes() const;

private:
    struct State;
    std::shared_ptr<State> state;
};
