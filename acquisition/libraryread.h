#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

// What the card library hands back, taken as the program understands it:
// error texts in whatever code page the library writes, and the count of a
// read checked against the values the read actually wrote. Free of widgets
// and threads.

// The system's local 8-bit encoding by name: the code set of the C
// library's locale on Unix (e.g. "GBK" under zh_CN.GBK). Empty on Windows,
// where QString::fromLocal8Bit already means the ANSI code page.
QByteArray localEightBitEncoding();

// The library's text as UTF-8 when the bytes are valid UTF-8, otherwise in
// fallbackEncoding (a name QStringDecoder knows, e.g. "GBK"); an empty or
// unknown name falls back to QString::fromLocal8Bit.
QString decodeLibraryText(QByteArrayView text, const QByteArray &fallbackEncoding);
// The same with the system's own local 8-bit encoding.
QString decodeLibraryText(const char *text);

// Fills the read array with a marker no card delivers, so that afterwards
// the values the library wrote can be told from those it left alone.
void markUnwritten(double *values, int capacity);
bool isUnwritten(double value);
// The number of leading values the library wrote (up to the last one that
// is not the marker).
int valuesWritten(const double *values, int capacity);
// Sets the values still holding the marker to 0 (a partial last scan).
void zeroUnwritten(double *values, int capacity);

struct ReadCount
{
    int values;      // how many values of the array belong to this read
    QString problem; // empty when the stored count agrees with the values written
};

// Checks the count a read stored against the values it wrote. A library
// that counts scans instead of values (count x channels = written) is
// recognised and its values are all taken; any other disagreement takes no
// more than was written. everyN is the scan count of the callback (for the
// message).
ReadCount checkReadCount(int32_t count, int written, int channels, uint32_t everyN);
