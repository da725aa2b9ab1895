#pragma once

#include "simconfig.h"

#include <cstdint>

namespace artsim {

// The rig behind the inputs: a capacitor charged through a resistor from a
// supply and discharged through a load (U1 on ai0), its charge current (I on
// ai1, through a current sense giving a few volts at the peak), the heat sink
// temperature (T on ai2, slow drift and noise) and the DC bus (U2 on ai3,
// with mains ripple). ai4..ai7 are left open and read 0 V. Every value is a
// pure function of the seed and the scan index, so a run repeats exactly.
class RigModel
{
public:
    explicit RigModel(uint32_t seed = 1);

    // Volts on input ai at scan index scan of a clock of scanRate scans/s;
    // always within 0..10 V.
    double value(int ai, uint64_t scan, double scanRate) const;

    uint32_t seed() const { return seed_; }
    double noise(uint64_t scan, int ai) const; // -1..1, triangular

private:
    uint32_t seed_;
    double tau_, chargeTime_, dischargeTime_, supply_, top_, low_, offset_, currentPeak_;
    double tempBase_, tempPeriod1_, tempPhase1_, tempPeriod2_, tempPhase2_;
    double busLevel_, ripplePhase_;
};

// A capacitor cycled with constant current: charged at I_c until U1 reaches
// UR, held at UR (the current falls to the leakage), discharged at I_d down
// to U_min, left at rest, and again. The capacitor C has a series resistance
// (ESR), so U1 steps by I * ESR whenever the current switches, and optionally
// a parallel one (leakage). I on ai1, T and U2 as on the rig of the same seed.
// Pure function of the settings, the seed and the scan index; the cycles are
// all alike, the seed picks where the first scan falls in the cycle.
class CcRigModel
{
public:
    explicit CcRigModel(const CcSettings &settings = {}, uint32_t seed = 1);

    // Volts on input ai at scan index scan of a clock of scanRate scans/s;
    // within -10..10 V.
    double value(int ai, uint64_t scan, double scanRate) const;

    // Why these settings give no cycle ("" when they do).
    static std::string problem(const CcSettings &settings);

private:
    // The capacitor's own voltage x s after it stood at u with `current` flowing in.
    double afterCurrent(double u, double current, double x) const;
    // Seconds for the current to take the capacitor's voltage from u to v.
    double timeToReach(double u, double v, double current) const;

    CcSettings s_;
    RigModel rig_;     // T, U2 and the noise
    double leakRate_;  // 1 / (R_leak C); 0 without leakage
    double holdFinal_; // where the hold tends to
    double holdTau_;
    // The capacitor's voltage where the charge starts and where the charge,
    // the hold and the discharge end.
    double uStart_, uCharged_, uHeld_, uDischarged_;
    double chargeTime_, dischargeTime_, period_;
    double offset_; // s into the cycle (from a charge start) at scan 0
};

} // namespace artsim
