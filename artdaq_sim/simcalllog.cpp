#include "simcalllog.h"

#include "simconfig.h"
#include "simstate.h"

#include <algorithm>
#include <cstring>

namespace artsim {

namespace {
const std::size_t maxLogBytes = 1 << 20;
}

std::string quoted(const char *s)
{
    return s ? "\"" + std::string(s) + "\"" : std::string("NULL");
}

std::string pointer(const void *p)
{
    return p ? "ptr" : "NULL";
}

std::string num(double v)
{
    return formatDouble(v);
}

std::string num(long long v)
{
    return std::to_string(v);
}

void logCall(Sim &s, const std::string &call, ArtDaqStatus status)
{
    std::lock_guard<std::mutex> lk(s.mu);
    s.log += call + " = " + std::to_string(status) + "\n";
    if (s.log.size() > maxLogBytes) {
        const auto cut = s.log.find('\n', s.log.size() / 2);
        s.log.erase(0, cut == std::string::npos ? s.log.size() : cut + 1);
    }
}

int copyOut(const std::string &text, char *buffer, int size)
{
    if (buffer && size > 0) {
        const std::size_t n =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

} // namespace artsim
