#pragma once

#include "Art_DAQ.h"

#include <string>

namespace artsim {

struct Sim;

// Arguments as the call log writes them: strings quoted (NULL when null),
// other pointers ptr or NULL, numbers in the C locale (doubles as %g).
std::string quoted(const char *s);
std::string pointer(const void *p);
std::string num(double v);
std::string num(long long v);

// Adds the line "call = status" to the call log, which keeps about its last
// megabyte. Takes the library's mutex.
void logCall(Sim &s, const std::string &call, ArtDaqStatus status);

// Copies text into buffer (at most size - 1 bytes, NUL-terminated) and
// returns its full length.
int copyOut(const std::string &text, char *buffer, int size);

} // namespace artsim
