#include "simsignal.h"

#include <algorithm>
#include <cmath>

namespace artsim {

namespace {

const double twoPi = 6.283185307179586;

uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

double unit(uint64_t x)
{
    return static_cast<double>(mix(x) >> 11) * (1.0 / 9007199254740992.0); // [0, 1)
}

} // namespace

RigModel::RigModel(uint32_t seed) : seed_(seed)
{
    const uint64_t base = mix(seed) * 64;
    const auto u = [base](int k) { return unit(base + static_cast<uint64_t>(k)); };
    // Capacitor: RC of about half a second, 5-6 s per charge/discharge cycle.
    tau_ = 0.45 + 0.15 * u(0);
    chargeTime_ = 2.5 + 0.5 * u(1);
    dischargeTime_ = 2.5 + 0.5 * u(2);
    supply_ = 8.0 + 0.4 * u(3);
    // Periodic steady state: the charge starts where the discharge ended.
    const double a = std::exp(-chargeTime_ / tau_), b = std::exp(-dischargeTime_ / tau_);
    top_ = supply_ * (1 - a) / (1 - a * b);
    low_ = top_ * b;
    offset_ = u(4) * (chargeTime_ + dischargeTime_);
    currentPeak_ = 3.0 + u(5);
    // Heat sink: a few minutes' drift around a few volts.
    tempBase_ = 3.5 + u(6);
    tempPeriod1_ = 150 + 60 * u(7);
    tempPhase1_ = twoPi * u(8);
    tempPeriod2_ = 35 + 10 * u(9);
    tempPhase2_ = twoPi * u(10);
    // DC bus with 100 Hz rectifier ripple.
    busLevel_ = 6.8 + 0.4 * u(11);
    ripplePhase_ = twoPi * u(12);
}

double RigModel::noise(uint64_t scan, int ai) const
{
    const uint64_t key =
        mix(seed_ ^ (static_cast<uint64_t>(ai) << 40)) ^ scan * 0x2545F4914F6CDD1DULL;
    return unit(key) + unit(key ^ 0x5851F42D4C957F2DULL) - 1.0;
}

double RigModel::value(int ai, uint64_t scan, double scanRate) const
{
    const double t = static_cast<double>(scan) / scanRate;
    double v = 0;
    switch (ai) {
    case 0:
    case 1: {
        const double inCycle = std::fmod(t + offset_, chargeTime_ + dischargeTime_);
        const bool charging = inCycle < chargeTime_;
        const double u1 = charging ? supply_ + (low_ - supply_) * std::exp(-inCycle / tau_)
                                   : top_ * std::exp(-(inCycle - chargeTime_) / tau_);
        if (ai == 0)
            v = u1 + 0.004 * noise(scan, ai);
        else // the charge current flows only while the supply is switched on
            v = (charging ? currentPeak_ * (supply_ - u1) / (supply_ - low_) : 0.0) +
                0.003 * noise(scan, ai);
        break;
    }
    case 2:
        v = tempBase_ + 0.6 * std::sin(twoPi * t / tempPeriod1_ + tempPhase1_) +
            0.2 * std::sin(twoPi * t / tempPeriod2_ + tempPhase2_) + 0.01 * noise(scan, ai);
        break;
    case 3:
        v = busLevel_ + 0.03 * std::sin(twoPi * 100.0 * t + ripplePhase_) + 0.003 * noise(scan, ai);
        break;
    default: return 0.0;
    }
    return std::min(10.0, std::max(0.0, v));
}

} // namespace artsim
