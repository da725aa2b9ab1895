// libFuzzer target of the data-file reader. Besides not crashing it checks:
//  - the reader gives the same over bytes and over a device read in pieces;
//  - every token converts as QString::toDouble converts it;
//  - what was read, written again and read back, is the same bit for bit;
//  - the parallel reader takes exactly the files read to their end without
//    an odd line (nor one too long for it), and reads them the same.

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "testdevices.h"

#include <QBuffer>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool sameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool samePoints(const DataFileContents &a, const DataFileContents &b)
{
    for (int c = 0; c < ChannelCount; ++c) {
        if (a.points[c].size() != b.points[c].size())
            return false;
        for (size_t i = 0; i < a.points[c].size(); ++i) {
            if (!sameBits(a.points[c][i].key, b.points[c][i].key) ||
                !sameBits(a.points[c][i].value, b.points[c][i].value))
                return false;
        }
    }
    return true;
}

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_reader: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const DataFileContents fromBytes = readDataFile(QByteArrayView(bytes));

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const DataFileContents fromDevice = readDataFile(buffer);
    check(samePoints(fromBytes, fromDevice) && fromBytes.stop == fromDevice.stop &&
              fromBytes.stopLine == fromDevice.stopLine,
          "bytes and device read differently");

    qsizetype longest = 0; // line, LF included
    for (qsizetype from = 0; from < bytes.size();) {
        const qsizetype lf = bytes.indexOf('\n', from);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        longest = std::max(longest, end - from);
        from = end;
    }
    DataFileContents parallel;
    const PlainRead plain = readPlain(bytes, 1 + int(size % 3), parallel.points);
    check(plain == (fromBytes.stop == ReadStop::EndOfData && fromBytes.irregularLines == 0 &&
                            longest <= MaxPlainLine
                        ? PlainRead::Read
                        : PlainRead::NotPlain),
          "the parallel reader takes a file the reader finds odd, or leaves a plain one");
    check(plain != PlainRead::Read || samePoints(parallel, fromBytes),
          "the parallel reader reads differently");

    // Every piece between spaces and line ends, as a number.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == ' ' || bytes[i] == '\n') {
            const QByteArray token = bytes.mid(start, i - start);
            check(sameBits(parseDataNumber(token), QString::fromUtf8(token).toDouble()),
                  "a token converts unlike QString::toDouble");
            start = i + 1;
        }
    }

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const ChannelSet views = {fromBytes.points[0], fromBytes.points[1], fromBytes.points[2],
                              fromBytes.points[3]};
    check(writeDataFile(out, views), "writing into a buffer failed");
    const DataFileContents again = readDataFile(QByteArrayView(out.data()));
    check(samePoints(fromBytes, again) && again.stop == ReadStop::EndOfData,
          "points do not survive writing and reading");

    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    check(writeCsvFile(csv, views), "CSV into a buffer failed");
    return 0;
}
