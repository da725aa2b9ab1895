#include "simconfig.h"
#include "simsignal.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <locale>
#include <sstream>

namespace artsim {

namespace {

const char *const functionNames[FunctionCount] = {
    "ArtDAQ_CreateTask",        "ArtDAQ_CreateAIVoltageChan",
    "ArtDAQ_CfgSampClkTiming",  "ArtDAQ_RegisterEveryNSamplesEvent",
    "ArtDAQ_RegisterDoneEvent", "ArtDAQ_StartTask",
    "ArtDAQ_ReadAnalogF64",     "ArtDAQ_StopTask",
    "ArtDAQ_ClearTask",         "ArtDAQ_GetExtendedErrorInfo"};

const double maxRate = 1000.0;
const long long maxCount = 1000000000LL;

std::string trimmed(const std::string &s)
{
    const char *blanks = " \t\r\n";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

// "after:N" or "never"; -1 stands for never.
bool parseAfter(const std::string &value, int &n)
{
    if (value == "never") {
        n = -1;
        return true;
    }
    const std::string prefix = "after:";
    long long v = 0;
    if (value.compare(0, prefix.size(), prefix) != 0 ||
        !parseInteger(value.substr(prefix.size()), 0, 2147483647LL, v))
        return false;
    n = static_cast<int>(v);
    return true;
}

const char *const signNames[] = {"negative", "positive", "none"};

// The number fields of the constant-current rig, by their key in cc=.
struct CcField
{
    const char *key;
    double CcSettings::*field;
};
const CcField ccFields[] = {
    {"ur", &CcSettings::ratedVoltage},    {"umin", &CcSettings::lowVoltage},
    {"ichg", &CcSettings::chargeCurrent}, {"idis", &CcSettings::dischargeCurrent},
    {"c", &CcSettings::capacitance},      {"esr", &CcSettings::esr},
    {"leak", &CcSettings::leakage},       {"hold", &CcSettings::holdTime},
    {"rest", &CcSettings::restTime},      {"noise", &CcSettings::noise}};

// "key:value,..." onto cc; "" when it applies, else what is wrong (cc unchanged).
std::string parseCc(const std::string &value, CcSettings &cc)
{
    CcSettings next = cc;
    std::size_t p = 0;
    while (p <= value.size()) {
        std::size_t comma = value.find(',', p);
        if (comma == std::string::npos)
            comma = value.size();
        const std::string pair = value.substr(p, comma - p);
        p = comma + 1;
        const auto colon = pair.find(':');
        const std::string key = trimmed(pair.substr(0, colon));
        const std::string number =
            colon == std::string::npos ? std::string() : trimmed(pair.substr(colon + 1));
        bool known = false;
        for (const CcField &f : ccFields) {
            if (key == f.key) {
                known = parseDouble(number, next.*f.field);
                if (!known)
                    return "cc's " + key + " needs a number";
            }
        }
        if (key == "sign") {
            const auto *const end = std::end(signNames);
            const auto *const name = std::find(std::begin(signNames), end, number);
            if (name == end)
                return "cc's sign is negative, positive or none";
            next.sign = static_cast<DischargeSign>(name - std::begin(signNames));
            known = true;
        }
        if (!known)
            return "cc is key:value,... with the keys ur, umin, ichg, idis, c, esr, leak, hold, "
                   "rest, noise and sign";
    }
    const std::string problem = CcRigModel::problem(next);
    if (!problem.empty())
        return "cc's " + problem;
    cc = next;
    return std::string();
}

} // namespace

std::string describeConfig(const Config &cfg, const long long *callsSoFar, std::size_t scriptScans,
                           bool manualClock)
{
    std::string out = "signal=";
    if (scriptScans > 0) {
        out += "script:" + std::to_string(scriptScans);
    } else if (cfg.signal == Signal::Constant) {
        out += "constant:";
        for (int i = 0; i < 4; ++i)
            out += (i ? "," : "") + formatDouble(cfg.volts[i]);
    } else if (cfg.signal == Signal::ConstantCurrent) {
        out += "cc;cc=";
        for (const CcField &f : ccFields)
            out += std::string(f.key) + ":" + formatDouble(cfg.cc.*f.field) + ",";
        out += std::string("sign:") + signNames[static_cast<int>(cfg.cc.sign)];
    } else {
        out += "rig";
    }
    out += ";seed=" + std::to_string(cfg.seed) + ";rate=" + formatDouble(cfg.rate);
    const auto after = [](int n) {
        return n < 0 ? std::string("never") : "after:" + std::to_string(n);
    };
    out += ";readerror=" + after(cfg.readErrorAfter) + ";overrun=" + after(cfg.overrunAfter);
    out += ";burst=" + std::to_string(cfg.burst);
    out += std::string(";count=") + (cfg.countScans ? "scans" : "values");
    out += std::string(";errortext=") + (cfg.gbkTexts ? "gbk" : "utf8");
    if (manualClock)
        out += ";clock=manual";
    for (const FailRule &rule : cfg.fails)
        out += ";fail=" + std::string(functionName(rule.function)) + "#" +
               std::to_string(rule.call - (callsSoFar ? callsSoFar[rule.function] : 0));
    return out;
}

const char *functionName(int function)
{
    return function >= 0 && function < FunctionCount ? functionNames[function] : "?";
}

int functionIndex(const std::string &name)
{
    for (int i = 0; i < FunctionCount; ++i)
        if (name == functionNames[i])
            return i;
    return -1;
}

bool parseDouble(const std::string &text, double &value)
{
    if (text.empty() || text.find_first_of(" \t") != std::string::npos)
        return false;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v = 0;
    in >> v;
    if (in.fail() || in.peek() != std::char_traits<char>::eof() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool parseInteger(const std::string &text, long long min, long long max, long long &value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > 9000000000000000000LL / 10)
            return false;
    }
    if (negative)
        v = -v;
    if (v < min || v > max)
        return false;
    value = v;
    return true;
}

std::string formatDouble(double value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value; // default float format: %g with 6 significant digits
    return out.str();
}

int parseConfig(const char *settings, Config &cfg, std::string &messages)
{
    if (!settings)
        return 0;
    int rejected = 0;
    std::string all(settings);
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(';', start);
        if (end == std::string::npos)
            end = all.size();
        const std::string item = trimmed(all.substr(start, end - start));
        start = end + 1;
        if (item.empty())
            continue;

        const auto eq = item.find('=');
        const std::string key = trimmed(item.substr(0, eq));
        const std::string value =
            eq == std::string::npos ? std::string() : trimmed(item.substr(eq + 1));
        std::string problem;
        if (eq == std::string::npos) {
            problem = "expected key=value";
        } else if (key == "signal") {
            const std::string prefix = "constant:";
            if (value == "rig") {
                cfg.signal = Signal::Rig;
            } else if (value == "cc") {
                cfg.signal = Signal::ConstantCurrent;
            } else if (value.compare(0, prefix.size(), prefix) == 0) {
                double v[4];
                int n = 0;
                std::string rest = value.substr(prefix.size()) + ",";
                bool ok = true;
                std::size_t p = 0, comma;
                while (ok && (comma = rest.find(',', p)) != std::string::npos) {
                    if (n == 4 || !parseDouble(trimmed(rest.substr(p, comma - p)), v[n]) ||
                        std::fabs(v[n]) > 10.0)
                        ok = false;
                    ++n;
                    p = comma + 1;
                }
                if (ok && n == 4) {
                    cfg.signal = Signal::Constant;
                    for (int i = 0; i < 4; ++i)
                        cfg.volts[i] = v[i];
                } else {
                    problem = "constant needs four numbers of volts within -10..10, e.g. "
                              "signal=constant:1,2,3,4";
                }
            } else {
                problem = "signal is rig, cc or constant:V0,V1,V2,V3";
            }
        } else if (key == "cc") {
            problem = parseCc(value, cfg.cc);
        } else if (key == "seed") {
            long long v = 0;
            if (parseInteger(value, 0, 4294967295LL, v))
                cfg.seed = static_cast<uint32_t>(v);
            else
                problem = "seed is a whole number from 0 to 4294967295";
        } else if (key == "rate") {
            double v = 0;
            if (parseDouble(value, v) && v > 0 && v <= maxRate)
                cfg.rate = v;
            else
                problem = "rate is a number above 0 and at most 1000";
        } else if (key == "fail") {
            const auto hash = value.find('#');
            const int function = functionIndex(value.substr(0, hash));
            long long k = 0;
            if (hash != std::string::npos && function >= 0 &&
                parseInteger(value.substr(hash + 1), 1, maxCount, k))
                cfg.fails.push_back({function, k});
            else
                problem = "fail is ArtDAQ_Function#K with one of the ten ArtDAQ_ functions and "
                          "K >= 1, e.g. fail=ArtDAQ_StartTask#1";
        } else if (key == "readerror") {
            if (!parseAfter(value, cfg.readErrorAfter))
                problem = "readerror is after:N (N >= 0) or never";
        } else if (key == "overrun") {
            if (!parseAfter(value, cfg.overrunAfter))
                problem = "overrun is after:N (N >= 0) or never";
        } else if (key == "burst") {
            long long v = 0;
            if (parseInteger(value, 1, maxBurst, v))
                cfg.burst = static_cast<int>(v);
            else
                problem = "burst is a whole number of blocks from 1 to 10000";
        } else if (key == "count") {
            if (value == "values" || value == "scans")
                cfg.countScans = value == "scans";
            else
                problem = "count is values or scans";
        } else if (key == "errortext") {
            if (value == "utf8" || value == "gbk")
                cfg.gbkTexts = value == "gbk";
            else
                problem = "errortext is utf8 or gbk";
        } else {
            problem = "unknown key (known: signal, cc, seed, rate, fail, readerror, overrun, "
                      "burst, count, errortext)";
        }
        if (!problem.empty()) {
            ++rejected;
            messages += "ARTDAQ_SIM: ignoring \"" + item + "\": " + problem +
                        "; that setting keeps its default\n";
        }
    }
    return rejected;
}

} // namespace artsim
