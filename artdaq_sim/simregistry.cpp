// The library's state, and the registry that turns handles into tasks.
//
// Handles are numbers, never pointers to our objects: every call looks the
// handle up here, so a cleared or made-up handle is only an error.

#include "artsim.h"
#include "simerror.h"
#include "simstate.h"

#include <cstdio>
#include <cstdlib>

namespace artsim {

Sim &sim()
{
    // Never destroyed: callback threads may still be finishing at exit.
    static Sim *const instance = new Sim;
    return *instance;
}

Sim::Sim()
{
#ifdef _MSC_VER
    char *value = nullptr;
    std::size_t size = 0;
    if (_dupenv_s(&value, &size, "ARTDAQ_SIM") == 0 && value) {
        envSettings = value;
        envSet = true;
    }
    std::free(value);
#else
    if (const char *value = std::getenv("ARTDAQ_SIM")) {
        envSettings = value;
        envSet = true;
    }
#endif
    configureFrom(envSet ? envSettings.c_str() : nullptr);
    applyBase();
}

int Sim::configureFrom(const char *settings)
{
    base = Config();
    std::string messages;
    const int rejected = parseConfig(settings, base, messages);
    if (!messages.empty())
        std::fputs(messages.c_str(), stderr);
    return rejected;
}

void Sim::applyBase()
{
    cur = base;
    script.clear();
    rig = RigModel(cur.seed);
    ccRig = CcRigModel(cur.cc, cur.seed);
    manual = false;
    std::fill(std::begin(calls), std::end(calls), 0LL);
    tasks.clear();
    numbers.clear();
    nextNumber = 1;
    log.clear();
}

bool Sim::injected(int function)
{
    const long long n = ++calls[function];
    for (auto it = cur.fails.begin(); it != cur.fails.end(); ++it) {
        if (it->function == function && it->call == n) {
            cur.fails.erase(it);
            return true;
        }
    }
    return false;
}

ArtDaqStatus Sim::injectedFailure(int function)
{
    const std::string n = std::to_string(calls[function]);
    const std::string name = functionName(function);
    return fail(ARTSIM_ERR_INJECTED, "模拟故障：第 " + n + " 次调用 " + name,
                "simulated failure: call " + n + " of " + name);
}

std::shared_ptr<Task> Sim::create()
{
    auto t = std::make_shared<Task>();
    t->handle = nextHandle;
    nextHandle += 0x10;
    tasks[t->handle] = t;
    numbers[t->handle] = nextNumber++;
    return t;
}

std::shared_ptr<Task> Sim::find(ArtDaqTask handle)
{
    const auto it = tasks.find(reinterpret_cast<uintptr_t>(handle));
    if (it == tasks.end())
        return nullptr;
    const Task &t = *it->second;
    if (t.life == Task::Cleared || (t.life == Task::Clearing && !t.onOwnThread()))
        return nullptr;
    return it->second;
}

void Sim::waitForDeadHandle(std::unique_lock<std::mutex> &lk, ArtDaqTask handle)
{
    const auto it = tasks.find(reinterpret_cast<uintptr_t>(handle));
    if (it == tasks.end())
        return;
    const std::shared_ptr<Task> t = it->second;
    if (t->threadAlive && !t->onOwnThread()) {
        const uint64_t run = t->run;
        cv.wait(lk, [&] { return !t->threadAlive || t->run != run; });
    }
}

void Sim::forget(const std::shared_ptr<Task> &t)
{
    const auto it = tasks.find(t->handle);
    if (it != tasks.end() && it->second == t)
        tasks.erase(it);
}

std::string Sim::handleName(ArtDaqTask handle)
{
    if (!handle)
        return "(null)";
    std::lock_guard<std::mutex> lk(mu);
    const auto it = numbers.find(reinterpret_cast<uintptr_t>(handle));
    return it == numbers.end() ? std::string("(invalid)") : "T" + std::to_string(it->second);
}

double Sim::input(const Task &t, int ai, uint64_t scan) const
{
    if (!script.empty()) {
        const uint64_t scans = script.size() / 4;
        return ai < 4 ? script[(scan % scans) * 4 + static_cast<uint64_t>(ai)] : 0.0;
    }
    if (cur.signal == Signal::Constant)
        return ai < 4 ? cur.volts[ai] : 0.0;
    if (cur.signal == Signal::ConstantCurrent)
        return ccRig.value(ai, scan, t.clockRate);
    return rig.value(ai, scan, t.clockRate);
}

} // namespace artsim
