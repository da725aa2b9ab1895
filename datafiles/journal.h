#pragma once

#include "datafiles/channeldata.h"

#include <QString>
#include <QVector>

#include <atomic>

// The journal of a recording: what reaches the disk while acquisition runs.
// The data file's sections follow one another, so it cannot grow at its end;
// the journal can. It holds an 8-byte header, then one 44-byte record per
// point: the time and the values of U1, I, T and U2 as little-endian IEEE
// doubles, then the CRC-32 of those 40 bytes. A record that was cut short or
// fails its check ends the journal, so whatever a crash leaves behind reads
// back as the whole points before the damage. The data file is assembled
// from it with the same writer as File > Save, so the two agree byte for byte.
// A recording that the program ended normally but whose data file the disk
// refused keeps its journal with the header rewritten in place (no new
// space needed on a full disk): the recovery then knows it was no crash.

constexpr qint64 JournalHeaderSize = 8;
constexpr qint64 JournalRecordSize = 44;

QByteArray journalHeader();

// Appends one record per point of the block (the shortest list decides).
void appendJournalRecords(QByteArray &out, const SampleBlock &block);

// Whether a record (JournalRecordSize bytes) is whole and unchanged.
bool journalRecordIntact(const char *record);

// Marks the journal as ended by the program at Exit while its data file
// could not be written; systemError is the failure's errno (0: unknown).
bool markJournalEndedAtExit(const QString &journalPath, int systemError);

struct AssemblyResult
{
    bool ok = false;
    qint64 points = 0;        // intact points found and written
    qint64 bytes = 0;         // the data file's size
    QString error;            // why it failed: the system's own text
    int systemError = 0;      // its errno, 0 when unknown
    bool empty = false;       // an intact header and nothing after it
    bool endedAtExit = false; // marked by markJournalEndedAtExit()
    int exitError = 0;        // the errno given there
};

// Writes the data file from the first (at most maxPoints, -1 for all) intact
// points of the journal, as writeFileSafely() writes files: dataPath is
// replaced only once the new file is proven complete. The intact points are those before a cut
// record or the first record whose check fails; a damaged header does not
// hide the records after it, each carries its own check. A journal
// without a single intact point writes no data file and leaves an existing
// one alone. The journal is read in chunks, so its size does not matter.
// progress counts the bytes written, for a caller that watches the disk.
AssemblyResult assembleRecording(const QString &journalPath, const QString &dataPath,
                                 qint64 maxPoints = -1, std::atomic<qint64> *progress = nullptr);
