#include "datafiles/journal.h"

#include "datafiles/datafile.h"
#include "datafiles/safefile.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char headerBytes[JournalHeaderSize] = {'K', 'O', 'R', 'V', 'E', 'L', 'J', '1'};
// The header of a journal ended at Exit: its last byte is the errno.
constexpr char endedBytes[JournalHeaderSize - 1] = {'K', 'O', 'R', 'V', 'E', 'L', 'X'};
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

// The journal's records read a chunk at a time, for one pass after another
// through them (one per section of the data file).
class JournalChunks
{
public:
    JournalChunks(QFile &file, qint64 records) : file(file), records(records) {}

    // Record `index` (< records), or null when it cannot be read.
    const char *record(qint64 index)
    {
        if (index < first || index >= first + count) {
            first = index;
            count = std::min(chunkRecords, records - index);
            buffer.resize(size_t(count * JournalRecordSize));
            const qint64 bytes = count * JournalRecordSize;
            if (!file.seek(JournalHeaderSize + index * JournalRecordSize) ||
                file.read(buffer.data(), bytes) != bytes) {
                failed = true;
                count = 0;
                return nullptr;
            }
        }
        return buffer.data() + (index - first) * JournalRecordSize;
    }
    bool readFailed() const { return failed; }

private:
    static constexpr qint64 chunkRecords = 1 << 15; // 1.4 MB
    QFile &file;
    const qint64 records;
    std::vector<char> buffer;
    qint64 first = 0;
    qint64 count = 0;
    bool failed = false;
};

// One channel of the journal for the data-file writer.
struct JournalChannel
{
    JournalChunks *chunks;
    Channel channel;
};

DataPoint journalChannelPoint(const void *source, qsizetype index)
{
    const auto *c = static_cast<const JournalChannel *>(source);
    const char *record = c->chunks->record(index);
    if (!record)
        return {}; // the assembly fails on the read error
    return {loadDouble(record), loadDouble(record + 8 * (c->channel + 1))};
}

} // namespace

QByteArray journalHeader()
{
    return QByteArray(headerBytes, JournalHeaderSize);
}

void appendJournalRecords(QByteArray &out, const SampleBlock &block)
{
    const qsizetype n = block.size();
    const QVector<double> *values[ChannelCount] = {&block.u1, &block.i, &block.t, &block.u2};
    const qsizetype start = out.size();
    out.resize(start + n * JournalRecordSize);
    char *p = out.data() + start;
    for (qsizetype j = 0; j < n; ++j, p += JournalRecordSize) {
        storeDouble(p, block.keys[j]);
        for (int c = 0; c < ChannelCount; ++c)
            storeDouble(p + 8 * (c + 1), (*values[c])[j]);
        qToLittleEndian(crc32(p, payloadSize), p + payloadSize);
    }
}

bool journalRecordIntact(const char *record)
{
    return crc32(record, payloadSize) == qFromLittleEndian<quint32>(record + payloadSize);
}

bool markJournalEndedAtExit(const QString &journalPath, int systemError)
{
    QFile journal(journalPath);
    char header[JournalHeaderSize];
    std::memcpy(header, endedBytes, sizeof endedBytes);
    header[JournalHeaderSize - 1] = char(systemError > 0 && systemError < 256 ? systemError : 0);
    // Overwritten in place: it takes no new room on the disk.
    return journal.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) &&
           journal.write(header, JournalHeaderSize) == JournalHeaderSize && syncFile(journal);
}

AssemblyResult assembleRecording(const QString &journalPath, const QString &dataPath,
                                 qint64 maxPoints, std::atomic<qint64> *progress)
{
    AssemblyResult result;
    QFile journal(journalPath);
    if (!journal.open(QIODevice::ReadOnly)) {
        result.error = journal.errorString();
        return result;
    }
    char header[JournalHeaderSize];
    const bool wholeHeader = journal.read(header, JournalHeaderSize) == JournalHeaderSize;
    result.endedAtExit = wholeHeader && std::memcmp(header, endedBytes, sizeof endedBytes) == 0;
    if (result.endedAtExit)
        result.exitError = quint8(header[JournalHeaderSize - 1]);
    result.empty = journal.size() == JournalHeaderSize &&
                   (result.endedAtExit || std::memcmp(header, headerBytes, JournalHeaderSize) == 0);
    qint64 records = std::max<qint64>(0, journal.size() - JournalHeaderSize) / JournalRecordSize;
    if (maxPoints >= 0)
        records = std::min(records, maxPoints);

    JournalChunks chunks(journal, records);
    qint64 intact = 0;
    while (intact < records) {
        const char *record = chunks.record(intact);
        if (!record || !journalRecordIntact(record))
            break;
        ++intact;
        if (progress && intact % 4096 == 0)
            progress->fetch_add(1, std::memory_order_relaxed); // reading is progress too
    }
    if (chunks.readFailed()) {
        result.error = journal.errorString();
        return result;
    }
    result.points = intact;
    if (intact == 0) {
        result.ok = true;
        return result;
    }

    const JournalChannel sources[ChannelCount] = {
        {&chunks, ChannelU1}, {&chunks, ChannelI}, {&chunks, ChannelT}, {&chunks, ChannelU2}};
    ChannelSet channels;
    for (int c = 0; c < ChannelCount; ++c)
        channels[c] = ChannelView(qsizetype(intact), &sources[c], &journalChannelPoint);

    const FileWriteResult written = writeFileSafely(
        dataPath,
        [&](QIODevice &data) { return writeDataFile(data, channels) && !chunks.readFailed(); },
        progress);
    if (chunks.readFailed()) {
        result.error = journal.errorString();
        return result;
    }
    result.ok = written.ok;
    result.bytes = written.bytes;
    result.error = written.error;
    result.systemError = written.systemError;
    return result;
}
