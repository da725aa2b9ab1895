#pragma once

#include <QString>
#include <fstream>
#include <string_view>

// The two plain-text logs beside the executable. Lines end in CR LF on every
// platform and are flushed as they are written, so a crash loses none.

// applicationDirPath() + "/" + fileName.
QString logPathBesideExecutable(const QString &fileName);

// Opens the stream for appending. Any Unicode path works: the wide path on
// Windows, the platform's file-name encoding elsewhere. On failure the stream
// stays failed and later writes are dropped.
void openLogForAppend(std::ofstream &stream, const QString &path);

// Writes text followed by CR LF and flushes.
void writeLogLine(std::ofstream &stream, std::string_view text);

// Writes the closing empty line (if open) and closes.
void closeLog(std::ofstream &stream);
