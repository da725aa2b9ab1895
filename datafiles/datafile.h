#pragma once

#include "datafiles/channeldata.h"

#include <QByteArrayView>

#include <functional>
#include <memory>

class FileJobControl;
class QIODevice;

// The text data file: up to four sections "U1_DATA", "I_DATA", "T_DATA",
// "U2_DATA" in this order, each a header line followed by one "time value"
// line per point; CR LF after every line; a channel without points has no
// section, so four empty channels give an empty file.

// Section name of a channel ("U1_DATA" ...), plain ASCII.
const char *sectionName(Channel channel);

// Longest text formatDataNumber() produces, without a terminating zero.
constexpr int MaxDataNumberLength = 32;

// Writes number in general notation with the fewest significant digits, at
// least six, that read back to exactly the same double: fixed notation for
// decimal exponents -4 .. digits-1, otherwise d.ddde+XX; "nan", "inf", "-inf"
// for the non-finite values. Independent of any locale. out must hold
// MaxDataNumberLength chars; returns the length written (no terminator).
int formatDataNumber(double number, char *out);
QByteArray formatDataNumber(double number);

// What a token holds, as far as the reader is concerned.
enum class NumberForm {
    Number,     // a number (nan and inf spelt out included)
    NotANumber, // read as 0
    TooLarge,   // a number beyond the largest double, read as infinity
    TooSmall,   // a number nearer 0 than the smallest double, read as 0
};

// Converts one token as QString::fromUtf8(token).toDouble() does (white space
// around it ignored, anything that is no number gives 0), with a fast path
// for plain decimal tokens. ok, if given, says whether it was a number (one
// too large counts as one); form, what it held.
double parseDataNumber(QByteArrayView token, bool *ok = nullptr);
double parseDataNumber(QByteArrayView token, NumberForm &form);

// Writes the channels' points. Returns false as soon as a write fails, or
// the control cancels; the device then holds an unknown part of the file.
// control, if given, counts the points written. Pieces of the file are
// formatted on `threads` threads (0: one per core) and written in order;
// more than one only for views that may be read from several threads at
// once (points in memory, not a reader that keeps a position).
bool writeDataFile(QIODevice &device, const ChannelSet &channels, FileJobControl *control = nullptr,
                   int threads = 1);

// Why reading ended.
enum class ReadStop {
    EndOfData,   // every line was read
    UnknownLine, // a one-token line that is no section name
    NoSection,   // a line other than a section name before the first section
    ReadError,   // the device reported an error
};

// A line read in a way its writer cannot have meant; it is read as ever,
// and the open command tells the user.
enum class Irregularity {
    NotANumber, // a token that is no number, read as 0
    EmptyToken, // an empty token (two spaces, a space first), read as 0
    TokenCount, // a line of zero or three or more tokens in a section, skipped
    TooLarge,   // a number beyond the largest double, read as infinity
    TooSmall,   // a number nearer 0 than the smallest double, read as 0
};
constexpr int IrregularityCount = 5;

struct IrregularLine
{
    qint64 line; // 1-based
    Irregularity why;
};

// How many irregular lines the reader lists one by one.
constexpr int MaxIrregularListed = 5;

struct DataFileContents
{
    // Points per channel (U1, I, T, U2) in the order the file gives them;
    // a section that occurs twice adds to the same list.
    std::array<PointList, ChannelCount> points;
    ReadStop stop = ReadStop::EndOfData;
    // 1-based number of the line that ended reading; 0 for EndOfData.
    qint64 stopLine = 0;
    // Irregular lines: how many, how many of each kind (by Irregularity; a
    // line counts once, as the kind it is listed as), and the first
    // MaxIrregularListed of them.
    qint64 irregularLines = 0;
    std::array<qint64, IrregularityCount> irregularKinds{};
    std::vector<IrregularLine> firstIrregular;
};

// Reads a data file from the device's current position to its end: LF or
// CR LF line ends, the last line with or without a line end. A header line
// selects the channel for the point lines after it; a line that cannot be
// placed ends reading and the points read until then are kept.
// control, if given, counts the bytes read and holds the bytes the points
// (and a long line being gathered) take so far; a cancel ends reading as a
// read error does.
DataFileContents readDataFile(QIODevice &device, FileJobControl *control = nullptr);
DataFileContents readDataFile(QByteArrayView bytes);

// Where readPlainDataFile() puts channel c's points: room for count points,
// each written as two doubles (time, value) in place. Called once per
// channel that has points, before any point is written, on any of the
// reading threads (different channels at the same time).
using PointRoom = std::function<void *(int channel, qsizetype count)>;

enum class PlainRead {
    Read,      // every point is in its room
    NotPlain,  // readDataFile() must read the file; the rooms hold nothing useful
    Cancelled, // by the control
    ReadError, // a device reported an error
};

// The longest line readPlainDataFile() reads, LF included.
constexpr qsizetype MaxPlainLine = 1 << 20;

// Reads a plain data file, one whose lines are all section names or two
// numbers and whose first line is a section name, none longer than
// MaxPlainLine, to the same points as readDataFile(), at the speed of
// parsing: a first pass counts each section's lines so that every point goes
// straight to its place, a second parses them. Both passes split the file
// among `threads` threads, each reading through a device of its own from
// openDevice(), positioned anywhere. The time taken grows with size alone,
// whatever the lines hold, and a cancel or a failed chunk stops every thread
// within a block read. control, if given, counts the work of both passes,
// each byte weighted by what its pass costs; counts: the points per channel.
PlainRead readPlainDataFile(const std::function<std::unique_ptr<QIODevice>()> &openDevice,
                            qint64 size, int threads, const PointRoom &room,
                            std::array<qsizetype, ChannelCount> &counts,
                            FileJobControl *control = nullptr);
