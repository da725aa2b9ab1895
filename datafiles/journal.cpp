#include "datafiles/journal.h"

#include "datafiles/datafile.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr char headerBytes[JournalHeaderSize] = {'K', 'O', 'R', 'V', 'E', 'L', 'J', '1'};
constexpr qint64 payloadSize = 40; // key and four values

// CRC-32 as zip and PNG use it (reflected 0xEDB88320).
struct CrcTable
{
    quint32 entries[256];
    constexpr CrcTable() : entries()
    {
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};
constexpr CrcTable crcTable;

quint32 crc32(const char *data, qint64 size)
{
    quint32 c = 0xFFFFFFFFu;
    for (qint64 k = 0; k < size; ++k)
        c = crcTable.entries[(c ^ quint8(data[k])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void storeDouble(char *at, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian(bits, at);
}

double loadDouble(const char *at)
{
    const quint64 bits = qFromLittleEndian<quint64>(at);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// One channel of the journal for the data-file writer.
struct JournalChannel
{
    const char *bytes;
    Channel channel;
};

DataPoint journalChannelPoint(const void *source, qsizetype index)
{
    const auto *c = static_cast<const JournalChannel *>(source);
    return journalPoint(c->bytes, index, c->channel);
}

} // namespace

qsizetype RecordedBlock::size() const
{
    qsizetype n = keys.size();
    for (const QVector<double> &list : values)
        n = std::min(n, list.size());
    return n;
}

QByteArray journalHeader()
{
    return QByteArray(headerBytes, JournalHeaderSize);
}

void appendJournalRecords(QByteArray &out, const RecordedBlock &block)
{
    const qsizetype n = block.size();
    const qsizetype start = out.size();
    out.resize(start + n * JournalRecordSize);
    char *p = out.data() + start;
    for (qsizetype j = 0; j < n; ++j, p += JournalRecordSize) {
        storeDouble(p, block.keys[j]);
        for (int c = 0; c < ChannelCount; ++c)
            storeDouble(p + 8 * (c + 1), block.values[c][j]);
        qToLittleEndian(crc32(p, payloadSize), p + payloadSize);
    }
}

qint64 intactJournalPoints(const char *bytes, qint64 size)
{
    if (size < JournalHeaderSize || std::memcmp(bytes, headerBytes, JournalHeaderSize) != 0)
        return 0;
    const qint64 records = (size - JournalHeaderSize) / JournalRecordSize;
    const char *p = bytes + JournalHeaderSize;
    for (qint64 k = 0; k < records; ++k, p += JournalRecordSize) {
        if (crc32(p, payloadSize) != qFromLittleEndian<quint32>(p + payloadSize))
            return k;
    }
    return records;
}

DataPoint journalPoint(const char *bytes, qint64 index, Channel channel)
{
    const char *record = bytes + JournalHeaderSize + index * JournalRecordSize;
    return {loadDouble(record), loadDouble(record + 8 * (channel + 1))};
}

AssemblyResult assembleRecording(const QString &journalPath, const QString &dataPath,
                                 qint64 maxPoints)
{
    AssemblyResult result;
    QFile journal(journalPath);
    if (!journal.open(QIODevice::ReadOnly)) {
        result.error = journal.errorString();
        return result;
    }
    qint64 size = journal.size();
    if (maxPoints >= 0)
        size = std::min(size, JournalHeaderSize + maxPoints * JournalRecordSize);
    if (size < JournalHeaderSize) {
        result.ok = true;
        return result;
    }

    // Mapped, so that a journal larger than the memory still assembles; read
    // where mapping is not possible.
    QByteArray read;
    const char *bytes = reinterpret_cast<const char *>(journal.map(0, size));
    if (!bytes) {
        read = journal.read(size);
        if (read.size() != size) {
            result.error = journal.errorString();
            return result;
        }
        bytes = read.constData();
    }
    result.points = intactJournalPoints(bytes, size);
    if (result.points == 0) {
        result.ok = true;
        return result;
    }

    const JournalChannel sources[ChannelCount] = {
        {bytes, ChannelU1}, {bytes, ChannelI}, {bytes, ChannelT}, {bytes, ChannelU2}};
    ChannelSet channels;
    for (int c = 0; c < ChannelCount; ++c)
        channels[c] = ChannelView(qsizetype(result.points), &sources[c], &journalChannelPoint);

    QSaveFile data(dataPath);
    if (!data.open(QIODevice::WriteOnly)) {
        result.error = data.errorString();
        return result;
    }
    if (!writeDataFile(data, channels)) {
        result.error = data.errorString();
        data.cancelWriting();
        return result;
    }
    if (!data.commit()) {
        result.error = data.errorString();
        return result;
    }
    result.ok = true;
    return result;
}

bool syncFile(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#else
    return ::fsync(file.handle()) == 0;
#endif
}
