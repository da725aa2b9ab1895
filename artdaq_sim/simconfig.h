#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace artsim {

// The card interface's functions, in the order a task is set up and used.
enum Function {
    FnCreateTask,
    FnCreateAIVoltageChan,
    FnCfgSampClkTiming,
    FnRegisterEveryNSamplesEvent,
    FnRegisterDoneEvent,
    FnStartTask,
    FnReadAnalogF64,
    FnStopTask,
    FnClearTask,
    FnGetExtendedErrorInfo,
    FunctionCount
};

const char *functionName(int function);
// -1 when name is none of the interface's functions.
int functionIndex(const std::string &name);

struct FailRule
{
    int function;
    long long call; // 1-based call number of that function, counted from the reset
};

// Settings that ARTDAQ_SIM (or ArtSim_Configure) can give; the defaults are the rig.
// Blocks in one burst at the most.
constexpr int maxBurst = 10000;

enum class Signal { Rig, Constant, ConstantCurrent };

// Sign of the discharge current on ai1: as it flows into the capacitor
// (negative), as the current out of it (positive), or not measured (0 V).
enum class DischargeSign { Negative, Positive, Unmeasured };

// The constant-current rig, in the program's units (U1 = 50 x ai0 in V,
// I = 100 x ai1 in A) apart from the noise.
struct CcSettings
{
    double ratedVoltage = 250;                    // V: the charge ends here and the hold stays here
    double lowVoltage = 50;                       // V: the discharge ends here
    double chargeCurrent = 200;                   // A
    double dischargeCurrent = 200;                // A
    double capacitance = 5;                       // F
    double esr = 0.05;                            // ohm
    double leakage = 0;                           // ohm across the capacitor; 0: none
    double holdTime = 2;                          // s
    double restTime = 2;                          // s
    double noise = 0.002;                         // V at ai0 and ai1, peak
    DischargeSign sign = DischargeSign::Positive; // the program reads I below 0 as 0
};

struct Config
{
    Signal signal = Signal::Rig;
    double volts[4] = {0, 0, 0, 0};
    uint32_t seed = 1;
    CcSettings cc;
    double rate = 1.0;
    int readErrorAfter = -1; // -1: never
    int overrunAfter = -1;   // -1: never
    int burst = 1; // every-N callbacks come in groups of this many blocks (up to maxBurst)
    bool countScans = false; // reads store the number of scans instead of values
    bool gbkTexts = false;   // error texts in GBK (code page 936) instead of UTF-8
    std::vector<FailRule> fails;
};

// Applies the `key=value;...` items of settings to cfg. Each rejected item leaves
// cfg as it was and adds one line to messages. Returns the number rejected.
int parseConfig(const char *settings, Config &cfg, std::string &messages);

// Canonical text of the settings in force. Fail rules are written with K
// counted from now (callsSoFar: calls of each function since the reset).
std::string describeConfig(const Config &cfg, const long long *callsSoFar, std::size_t scriptScans,
                           bool manualClock);

// Locale-independent number reading and writing (the C locale's rules).
bool parseDouble(const std::string &text, double &value);
bool parseInteger(const std::string &text, long long min, long long max, long long &value);
std::string formatDouble(double value); // as printf's %g

} // namespace artsim
