#pragma once

#include "Art_DAQ.h"

#include <cstdint>
#include <string>

namespace artsim {

// The last error of the calling thread, UTF-8, Chinese first, then " / ",
// then English. Per thread: a read error in a callback or an overrun reported
// to the done callback never overwrites the text of a failed start elsewhere.
std::string &lastError();

// Sets the calling thread's last error and returns status.
ArtDaqStatus fail(ArtDaqStatus status, const std::string &chinese, const std::string &english);
ArtDaqStatus invalidHandle();
ArtDaqStatus nullArgument(const char *name);
ArtDaqStatus taskRunning();

// The text in GBK (code page 936); a character GBK lacks, or a byte that is
// no UTF-8, becomes "?".
std::string toGbk(const std::string &utf8);

// Copies as much of text as fits into buffer (size > 0), cut on a character
// boundary of its encoding (GBK or UTF-8), NUL-terminated.
void copyWholeCharacters(const std::string &text, bool gbk, char *buffer, uint32_t size);

} // namespace artsim
