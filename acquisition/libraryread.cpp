#include "acquisition/libraryread.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>

#ifndef Q_OS_WIN
#include <langinfo.h>
#endif

namespace {

// A quiet NaN with a payload of its own: arithmetic never makes it, and a
// card's samples are numbers.
constexpr uint64_t kUnwrittenBits = 0x7FF84B4F5256454CULL;

} // namespace

QByteArray localEightBitEncoding()
{
#ifdef Q_OS_WIN
    return QByteArray();
#else
    const char *codeset = nl_langinfo(CODESET);
    return codeset ? QByteArray(codeset) : QByteArray();
#endif
}

QString decodeLibraryText(QByteArrayView text, const QByteArray &fallbackEncoding)
{
    if (text.isValidUtf8())
        return QString::fromUtf8(text);
    if (!fallbackEncoding.isEmpty()) {
        QStringDecoder decoder(fallbackEncoding.constData());
        if (decoder.isValid())
            return decoder.decode(text);
    }
    return QString::fromLocal8Bit(text);
}

QString decodeLibraryText(const char *text)
{
    return decodeLibraryText(QByteArrayView(text), localEightBitEncoding());
}

void markUnwritten(double *values, int capacity)
{
    double marker;
    std::memcpy(&marker, &kUnwrittenBits, sizeof marker);
    std::fill(values, values + std::max(capacity, 0), marker);
}

bool isUnwritten(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits == kUnwrittenBits;
}

int valuesWritten(const double *values, int capacity)
{
    int n = std::max(capacity, 0);
    while (n > 0 && isUnwritten(values[n - 1]))
        --n;
    return n;
}

void zeroUnwritten(double *values, int capacity)
{
    std::replace_if(values, values + std::max(capacity, 0), isUnwritten, 0.0);
}

ReadCount checkReadCount(int32_t count, int written, int channels, uint32_t everyN)
{
    if (count == written || (count < 0 && written == 0))
        return {std::max<int32_t>(count, 0), QString()};
    const QString stored = QStringLiteral("ArtDAQ_ReadAnalogF64 stored a count of %1 but wrote %2 "
                                          "values (%3 channels, callback for %4 scans)")
                               .arg(count)
                               .arg(written)
                               .arg(channels)
                               .arg(everyN);
    if (count > 0 && static_cast<int64_t>(count) * channels == written)
        return {written,
                stored +
                    QStringLiteral(": the library counts scans; all %1 values taken").arg(written)};
    const int taken = std::clamp<int32_t>(count, 0, written);
    return {taken, stored + QStringLiteral(": %1 values taken").arg(taken)};
}
