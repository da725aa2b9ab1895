#pragma once

#include "datafiles/filejob.h"
#include "datafiles/safefile.h"

#include <QIODevice>

#include <cstring>
#include <memory>

// The writers count their lines to the control in steps of this many + 1,
// and look at its cancel as often.
constexpr qsizetype progressMask = 0xFFFF;

// Collects output in a fixed block and hands it to the device in large
// writes; after the first failed write everything else is dropped.
class BufferedWriter
{
public:
    explicit BufferedWriter(QIODevice &device) : device(device), block(new char[BlockSize]) {}

    // Room for at least `needed` more bytes (needed <= BlockSize).
    char *reserve(qsizetype needed)
    {
        if (used + needed > BlockSize)
            flush();
        return block.get() + used;
    }
    void commit(qsizetype count) { used += count; }
    void append(const char *text, qsizetype length)
    {
        std::memcpy(reserve(length), text, size_t(length));
        used += length;
    }
    void append(char c) { *reserve(1) = c, ++used; }

    // Writes what is pending; false once any write has failed. A short write
    // is continued, so that a failure leaves the system's reason in the device.
    bool flush()
    {
        if (ok && used > 0)
            ok = writeFully(device, block.get(), used);
        used = 0;
        return ok;
    }
    bool failed() const { return !ok; }

    static constexpr qsizetype BlockSize = 1 << 18;

private:
    QIODevice &device;
    std::unique_ptr<char[]> block;
    qsizetype used = 0;
    bool ok = true;
};
