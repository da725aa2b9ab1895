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

std::string CcRigModel::problem(const CcSettings &c)
{
    if (!(c.ratedVoltage > 0 && c.ratedVoltage <= 500))
        return "ur is above 0 and at most 500 V (10 V at ai0)";
    if (!(c.chargeCurrent > 0 && c.chargeCurrent <= 1000 && c.dischargeCurrent > 0 &&
          c.dischargeCurrent <= 1000))
        return "ichg and idis are above 0 and at most 1000 A (10 V at ai1)";
    if (!(c.capacitance > 0 && c.capacitance <= 1e6))
        return "c is above 0 and at most 1e6 F";
    if (!(c.esr > 0 && c.esr <= 1000))
        return "esr is above 0 and at most 1000 ohm";
    if (!(c.lowVoltage >= 0 &&
          c.lowVoltage + (c.chargeCurrent + c.dischargeCurrent) * c.esr < c.ratedVoltage))
        return "umin is at least 0 and umin + (ichg + idis) * esr below ur";
    if (!(c.leakage == 0 || c.leakage * c.chargeCurrent > c.ratedVoltage))
        return "leak is 0 (none) or above ur / ichg";
    if (!(c.holdTime >= 0 && c.holdTime <= 3600 && c.restTime >= 0 && c.restTime <= 3600))
        return "hold and rest are 0 to 3600 s";
    if (!(c.noise >= 0 && c.noise <= 1))
        return "noise is 0 to 1 V";
    return std::string();
}

CcRigModel::CcRigModel(const CcSettings &settings, uint32_t seed) : s_(settings), rig_(seed)
{
    const double c = s_.capacitance, esr = s_.esr;
    leakRate_ = s_.leakage > 0 ? 1 / (s_.leakage * c) : 0;
    // The hold keeps U1 at UR: the capacitor approaches UR (less the leakage's
    // share across the ESR) with the time constant of ESR and C.
    holdFinal_ = s_.ratedVoltage / (1 + esr * leakRate_ * c);
    holdTau_ = c * esr / (1 + esr * leakRate_ * c);
    // Periodic from the first cycle on: the charge starts where the last rest ended.
    uDischarged_ = s_.lowVoltage + s_.dischargeCurrent * esr;
    uStart_ = uDischarged_ * std::exp(-leakRate_ * s_.restTime);
    uCharged_ = s_.ratedVoltage - s_.chargeCurrent * esr;
    chargeTime_ = timeToReach(uStart_, uCharged_, s_.chargeCurrent);
    uHeld_ = holdFinal_ + (uCharged_ - holdFinal_) * std::exp(-s_.holdTime / holdTau_);
    dischargeTime_ = timeToReach(uHeld_, uDischarged_, -s_.dischargeCurrent);
    period_ = chargeTime_ + s_.holdTime + dischargeTime_ + s_.restTime;
    offset_ = unit(mix(seed) * 64 + 13) * period_;
}

double CcRigModel::afterCurrent(double u, double current, double x) const
{
    if (leakRate_ == 0)
        return u + current * x / s_.capacitance;
    return u - (current * s_.leakage - u) * std::expm1(-leakRate_ * x);
}

double CcRigModel::timeToReach(double u, double v, double current) const
{
    if (leakRate_ == 0)
        return (v - u) * s_.capacitance / current;
    return std::log1p((v - u) / (current * s_.leakage - v)) / leakRate_;
}

double CcRigModel::value(int ai, uint64_t scan, double scanRate) const
{
    if (ai == 2 || ai == 3)
        return rig_.value(ai, scan, scanRate);
    if (ai != 0 && ai != 1)
        return 0.0;
    const double t = static_cast<double>(scan) / scanRate;
    double x = std::fmod(t + offset_, period_);
    double uc = 0, current = 0; // the capacitor's voltage; the current into it
    bool discharging = false;
    if (x < chargeTime_) {
        current = s_.chargeCurrent;
        uc = afterCurrent(uStart_, current, x);
    } else if ((x -= chargeTime_) < s_.holdTime) {
        uc = holdFinal_ + (uCharged_ - holdFinal_) * std::exp(-x / holdTau_);
        current = (s_.ratedVoltage - uc) / s_.esr;
    } else if ((x -= s_.holdTime) < dischargeTime_) {
        current = -s_.dischargeCurrent;
        uc = afterCurrent(uHeld_, current, x);
        discharging = true;
    } else {
        uc = uDischarged_ * std::exp(-leakRate_ * (x - dischargeTime_));
    }
    double v;
    if (ai == 0) {
        v = (uc + current * s_.esr) / 50;
    } else {
        double measured = current;
        if (discharging && s_.sign == DischargeSign::Positive)
            measured = -current;
        else if (discharging && s_.sign == DischargeSign::Unmeasured)
            measured = 0;
        v = measured / 100;
    }
    v += s_.noise * rig_.noise(scan, ai);
    return std::min(10.0, std::max(-10.0, v));
}

} // namespace artsim
