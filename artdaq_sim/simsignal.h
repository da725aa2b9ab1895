#pragma once

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

private:
    double noise(uint64_t scan, int ai) const; // -1..1, triangular

    uint32_t seed_;
    double tau_, chargeTime_, dischargeTime_, supply_, top_, low_, offset_, currentPeak_;
    double tempBase_, tempPeriod1_, tempPhase1_, tempPeriod2_, tempPhase2_;
    double busLevel_, ripplePhase_;
};

} // namespace artsim
