#include "datafiles/datafile.h"

#include "datafiles/bufferedwriter.h"
#include "datafiles/filejob.h"

#include <QIODevice>
#include <QString>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>

namespace {

const char *const sectionNames[ChannelCount] = {"U1_DATA", "I_DATA", "T_DATA", "U2_DATA"};

} // namespace

const char *sectionName(Channel channel)
{
    return sectionNames[channel];
}

int formatDataNumber(double number, char *out)
{
    if (std::isnan(number)) {
        std::memcpy(out, "nan", 3);
        return 3;
    }
    if (std::isinf(number)) {
        if (number < 0) {
            std::memcpy(out, "-inf", 4);
            return 4;
        }
        std::memcpy(out, "inf", 3);
        return 3;
    }

    // The shortest scientific form that reads back exactly, [-]d[.ddd]e(+|-)XX[X],
    // written straight into out and rearranged there when fixed notation is due.
    const auto res =
        std::to_chars(out, out + MaxDataNumberLength, number, std::chars_format::scientific);
    char *const p = out + (*out == '-'); // first digit
    char *e = res.ptr - 4;               // the 'e' of a two-digit exponent ...
    if (*e != 'e')
        --e; // ... or of a three-digit one
    int exponent = 0;
    for (const char *q = e + 2; q != res.ptr; ++q)
        exponent = exponent * 10 + (*q - '0');
    if (e[1] == '-')
        exponent = -exponent;
    const int fraction = e - p > 1 ? int(e - p) - 2 : 0; // digits after the point
    const int digits = fraction + 1;

    // General notation with as many significant digits as needed, but at
    // least six: fixed for exponents -4 .. precision-1, as "%.*g" lays it out.
    const int precision = std::max(6, digits);
    if (exponent < -4 || exponent >= precision)
        return int(res.ptr - out);
    if (exponent >= 0) {
        // Move the point right by `exponent` places, padding with zeros.
        if (exponent >= fraction) {
            std::memmove(p + 1, p + 2, size_t(fraction));
            std::memset(p + 1 + fraction, '0', size_t(exponent - fraction));
            return int(p + 1 + exponent - out);
        }
        std::memmove(p + 1, p + 2, size_t(exponent));
        p[1 + exponent] = '.';
        return int(e - out);
    }
    // 0.000ddd: the digits move right behind "0." and -exponent-1 zeros.
    const int zeros = -exponent - 1;
    const char first = p[0];
    std::memmove(p + 3 + zeros, p + 2, size_t(fraction));
    p[2 + zeros] = first;
    std::memset(p + 2, '0', size_t(zeros));
    p[0] = '0';
    p[1] = '.';
    return int(p + 3 + zeros + fraction - out);
}

QByteArray formatDataNumber(double number)
{
    char text[MaxDataNumberLength];
    return QByteArray(text, formatDataNumber(number, text));
}

double parseDataNumber(QByteArrayView token, NumberForm &form)
{
    // Fast path: std::from_chars takes the whole token and gives a finite
    // value only for [-]digits[.digits][(e|E)[+|-]digits], where it agrees
    // with QString::toDouble. Everything else (white space, '+', words,
    // overflow, underflow, garbage) gets Qt's own answer.
    const char *const begin = token.data();
    const char *const end = begin + token.size();
    double value = 0;
    const auto res = std::from_chars(begin, end, value);
    if (res.ec == std::errc() && res.ptr == end && std::isfinite(value)) {
        form = NumberForm::Number;
        return value;
    }
    // A control character other than white space is in no number: a run of
    // zeros (a write cut short) gives 0 without being converted.
    if (std::any_of(begin, end, [](char c) {
            return uchar(c) < '\t' || (uchar(c) > '\r' && uchar(c) < ' ') || c == '\x7f';
        })) {
        form = NumberForm::NotANumber;
        return 0;
    }
    bool number = false;
    value = QString::fromUtf8(token).toDouble(&number);
    // Qt says "no number" with infinity beyond the range and with 0 below it.
    form = number || (value != 0 && !std::isinf(value))                 ? NumberForm::Number
           : std::isinf(value)                                          ? NumberForm::TooLarge
           : res.ec == std::errc::result_out_of_range && res.ptr == end ? NumberForm::TooSmall
                                                                        : NumberForm::NotANumber;
    return value;
}

double parseDataNumber(QByteArrayView token, bool *ok)
{
    NumberForm form;
    const double value = parseDataNumber(token, form);
    if (ok)
        *ok = form == NumberForm::Number || form == NumberForm::TooLarge;
    return value;
}

namespace {

// A run of up to pieceSize lines of one channel; the first of a channel's
// pieces begins with its section name.
struct Piece
{
    int channel;
    qsizetype from;
    qsizetype to;
};

constexpr qsizetype pieceSize = progressMask + 1;

} // namespace

bool writeDataFile(QIODevice &device, const ChannelSet &channels, FileJobControl *control,
                   int threads)
{
    std::vector<Piece> pieces;
    qint64 all = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        const qsizetype count = channels[c].size();
        for (qsizetype from = 0; from < count; from += pieceSize)
            pieces.push_back({c, from, std::min(count, from + pieceSize)});
        all += count;
    }
    if (control)
        control->setTotal(all);
    const auto format = [&channels](const Piece &piece, std::vector<char> &text) {
        const ChannelView &channel = channels[std::size_t(piece.channel)];
        text.resize(std::size_t(piece.to - piece.from + 1) * (2 * MaxDataNumberLength + 3));
        char *o = text.data();
        if (piece.from == 0) {
            const std::size_t length = std::strlen(sectionNames[piece.channel]);
            std::memcpy(o, sectionNames[piece.channel], length);
            o += length;
            *o++ = '\r';
            *o++ = '\n';
        }
        for (qsizetype i = piece.from; i < piece.to; ++i) {
            const DataPoint point = channel.at(i);
            o += formatDataNumber(point.key, o);
            *o++ = ' ';
            o += formatDataNumber(point.value, o);
            *o++ = '\r';
            *o++ = '\n';
        }
        text.resize(std::size_t(o - text.data()));
    };
    const auto write = [&](const Piece &piece, const std::vector<char> &text) {
        return writeFully(device, text.data(), qint64(text.size())) &&
               (!control || control->advance(piece.to - piece.from));
    };

    if (threads <= 0)
        threads = int(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
    threads = int(std::min<std::size_t>(std::size_t(threads), pieces.size()));
    if (threads <= 1) {
        std::vector<char> text;
        for (const Piece &piece : pieces) {
            format(piece, text);
            if (!write(piece, text))
                return false;
        }
        return true;
    }

    // Formatting is the work: the pieces are formatted on `threads` threads
    // into a ring of texts, which this thread writes in file order.
    const std::size_t ringSize = std::size_t(2 * threads);
    std::vector<std::vector<char>> texts(ringSize);
    std::vector<char> ready(ringSize, 0);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t claimed = 0, written = 0;
    bool stop = false;
    std::vector<std::thread> formatters;
    for (int t = 0; t < threads; ++t) {
        formatters.emplace_back([&] {
            for (;;) {
                std::size_t p;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    // A slot is free again once its text was written.
                    changed.wait(lock, [&] {
                        return stop || claimed == pieces.size() || claimed < written + ringSize;
                    });
                    if (stop || claimed == pieces.size())
                        return;
                    p = claimed++;
                }
                format(pieces[p], texts[p % ringSize]);
                {
                    const std::lock_guard<std::mutex> lock(mutex);
                    ready[p % ringSize] = 1;
                }
                changed.notify_all();
            }
        });
    }
    bool ok = true;
    for (std::size_t p = 0; p < pieces.size() && ok; ++p) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ready[p % ringSize] != 0; });
        }
        ok = write(pieces[p], texts[p % ringSize]);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ready[p % ringSize] = 0;
            written = p + 1;
            stop = !ok;
        }
        changed.notify_all();
    }
    for (std::thread &formatter : formatters)
        formatter.join();
    return ok;
}

namespace {

// The line-by-line state machine of the reader.
class DataFileParser
{
public:
    // Acts on one line (line end removed). False: stop reading.
    bool line(const char *begin, const char *end)
    {
        ++lineNumber;

        // Tokens are the pieces between spaces, empty ones included; a single
        // space at the very end adds no token, an empty line has none.
        int tokens = 0;
        QByteArrayView first, second;
        if (begin != end) {
            const char *space1 = static_cast<const char *>(std::memchr(begin, ' ', end - begin));
            if (!space1 || space1 + 1 == end) {
                tokens = 1;
                first = QByteArrayView(begin, (space1 ? space1 : end) - begin);
            } else {
                first = QByteArrayView(begin, space1 - begin);
                const char *rest = space1 + 1;
                const char *space2 = static_cast<const char *>(std::memchr(rest, ' ', end - rest));
                second = QByteArrayView(rest, (space2 ? space2 : end) - rest);
                tokens = (!space2 || space2 + 1 == end) ? 2 : 3;
            }
        }

        if (tokens == 1) {
            for (int c = 0; c < ChannelCount; ++c) {
                if (first == QByteArrayView(sectionNames[c])) {
                    target = &contents.points[c];
                    return true;
                }
            }
            return stopAt(ReadStop::UnknownLine);
        }
        if (!target)
            return stopAt(ReadStop::NoSection);
        if (tokens != 2) {
            irregular(Irregularity::TokenCount);
            return true;
        }
        NumberForm key, value;
        target->push_back({parseDataNumber(first, key), parseDataNumber(second, value)});
        // A line is listed once: as its empty field, else its non-number,
        // else its number out of range.
        const auto either = [&](NumberForm form) { return key == form || value == form; };
        if ((key == NumberForm::NotANumber && first.isEmpty()) ||
            (value == NumberForm::NotANumber && second.isEmpty()))
            irregular(Irregularity::EmptyToken);
        else if (either(NumberForm::NotANumber))
            irregular(Irregularity::NotANumber);
        else if (either(NumberForm::TooLarge))
            irregular(Irregularity::TooLarge);
        else if (either(NumberForm::TooSmall))
            irregular(Irregularity::TooSmall);
        return true;
    }

    void irregular(Irregularity why)
    {
        ++contents.irregularKinds[size_t(why)];
        if (++contents.irregularLines <= MaxIrregularListed)
            contents.firstIrregular.push_back({lineNumber, why});
    }

    // Bytes the points read so far take, and a line being gathered.
    qint64 heldBytes() const
    {
        qint64 points = 0;
        for (const PointList &list : contents.points)
            points += qint64(list.size());
        return points * qint64(sizeof(DataPoint)) + pending.capacity();
    }

    // Records why reading ends; `line` is the line being handled.
    bool stopAt(ReadStop why) { return stopAt(why, lineNumber); }
    bool stopAt(ReadStop why, qint64 line)
    {
        contents.stop = why;
        contents.stopLine = line;
        return false;
    }
    void readError() { stopAt(ReadStop::ReadError, lineNumber + 1); }

    // Feeds a block of bytes; lines that end in it are handled, the rest is
    // kept for the next block. False: stop reading.
    bool feed(const char *data, qsizetype size)
    {
        const char *p = data;
        const char *const end = data + size;
        while (p != end) {
            const char *lf = static_cast<const char *>(std::memchr(p, '\n', end - p));
            if (!lf) {
                pending.append(p, end - p);
                return true;
            }
            bool go;
            if (pending.isEmpty()) {
                go = line(p, dropCr(p, lf));
            } else {
                pending.append(p, lf - p);
                go = line(pending.constData(),
                          dropCr(pending.constData(), pending.constData() + pending.size()));
                pending.clear();
            }
            if (!go)
                return false;
            p = lf + 1;
        }
        return true;
    }

    // The end of the data: what remains is the last line, ended by no LF.
    // Nothing left after a final LF acts on nothing, whatever the state.
    void finish()
    {
        if (!pending.isEmpty())
            line(pending.constData(), pending.constData() + pending.size());
    }

    DataFileContents contents;

private:
    static const char *dropCr(const char *begin, const char *lf)
    {
        return (lf != begin && lf[-1] == '\r') ? lf - 1 : lf;
    }

    PointList *target = nullptr;
    qint64 lineNumber = 0;
    QByteArray pending;
};

} // namespace

DataFileContents readDataFile(QIODevice &device, FileJobControl *control)
{
    DataFileParser parser;
    constexpr qint64 blockSize = 1 << 20;
    std::unique_ptr<char[]> block(new char[blockSize]);
    for (;;) {
        const qint64 got = device.read(block.get(), blockSize);
        if (got < 0) {
            parser.readError();
            break;
        }
        if (got == 0) {
            parser.finish();
            break;
        }
        if (control && !control->advance(got)) {
            parser.readError();
            break;
        }
        const bool go = parser.feed(block.get(), got);
        if (control)
            control->setHeldBytes(parser.heldBytes());
        if (!go)
            break;
    }
    return std::move(parser.contents);
}

DataFileContents readDataFile(QByteArrayView bytes)
{
    DataFileParser parser;
    if (parser.feed(bytes.data(), bytes.size()))
        parser.finish();
    return std::move(parser.contents);
}

namespace {

// Where a section (or the part of one that a chunk of the file holds) goes.
struct Segment
{
    int channel;     // -1: the section the chunk before ends in goes on
    qsizetype lines; // its point lines
    qsizetype first; // the position of its first point in the channel
};

// The channel whose section name the line [begin, end) (CR removed) is; -1
// for any other line.
int sectionOf(const char *begin, const char *end)
{
    const QByteArrayView line(begin, end - begin);
    for (int c = 0; c < ChannelCount; ++c) {
        if (line == QByteArrayView(sectionNames[c]))
            return c;
    }
    return -1;
}

// The end of the line [begin, lf) without its CR; a line that no LF ends
// (the device's last) keeps it, as the line-by-line reader keeps it.
const char *withoutCr(const char *begin, const char *lf, const char *end)
{
    return (lf != end && lf != begin && lf[-1] == '\r') ? lf - 1 : lf;
}

// Hands lines(begin, end) runs of whole lines: those of the device whose first
// byte lies in [from, to). The last line of the device may have no LF; one
// longer than MaxPlainLine makes the file NotPlain. Linear in the bytes read:
// each byte is searched for an LF once and moved at most once. Every read
// counts its bytes of [from, to), weight units each, and looks at the cancel
// and at stop (another chunk failed).
template <typename Lines>
PlainRead forLinesIn(QIODevice &device, qint64 from, qint64 to, qint64 weight,
                     FileJobControl *control, const std::atomic<bool> &stop, Lines &&lines)
{
    constexpr size_t blockSize = MaxPlainLine;
    if (from >= to)
        return PlainRead::Read; // more threads than bytes
    // The line holding byte from - 1 is the chunk before's: ours begin after
    // the first LF from there on.
    bool seeking = from > 0;
    qint64 bufferStart = seeking ? from - 1 : 0; // file position of buffer[0]
    if (!device.seek(bufferStart))
        return PlainRead::ReadError;
    const std::unique_ptr<char[]> buffer(new char[2 * blockSize]);
    size_t kept = 0; // buffer[0, kept): the start of a line, no LF in it
    for (;;) {
        if (stop.load(std::memory_order_relaxed))
            return PlainRead::Cancelled;
        char *const data = buffer.get();
        const qint64 got = device.read(data + kept, qint64(blockSize));
        if (got < 0)
            return PlainRead::ReadError;
        const qint64 readAt = bufferStart + qint64(kept);
        const qint64 mine = std::min(readAt + got, to) - std::max(readAt, from);
        if (control && (mine > 0 ? !control->advance(mine * weight) : control->cancelled()))
            return PlainRead::Cancelled;
        if (got == 0) // the device's end: what is left is its last line
            return seeking || kept == 0 ? PlainRead::Read : lines(data, data + kept);
        const size_t filled = kept + size_t(got);
        if (kept > 0) { // the line begun before: too long, where it ends or not yet
            const void *lf = std::memchr(data + kept, '\n', size_t(got));
            if ((lf ? size_t(static_cast<const char *>(lf) - data) + 1 : filled) > blockSize)
                return PlainRead::NotPlain;
        }

        size_t begin = 0; // of our first line in the buffer
        if (seeking) {
            const void *lf = std::memchr(data, '\n', filled);
            if (!lf) {
                bufferStart += qint64(filled);
                if (bufferStart >= to)
                    return PlainRead::Read; // no line begins in the chunk
                continue;
            }
            begin = size_t(static_cast<const char *>(lf) - data) + 1;
            if (bufferStart + qint64(begin) >= to)
                return PlainRead::Read;
            seeking = false;
        }
        // Line ends lie in the fresh bytes only. The first LF at or after
        // byte to - 1 ends the chunk's last line; before that, the last LF
        // ends the run handed over.
        const size_t fresh = std::max(kept, begin);
        size_t handled = 0;
        bool last = false;
        const qint64 lastByte = to - 1 - bufferStart;
        if (lastByte < qint64(filled)) {
            const size_t at = std::max(fresh, size_t(std::max<qint64>(0, lastByte)));
            if (const void *lf = std::memchr(data + at, '\n', filled - at)) {
                handled = size_t(static_cast<const char *>(lf) - data) + 1;
                last = true;
            }
        }
        for (size_t k = filled; !last && k > fresh; --k) {
            if (data[k - 1] == '\n') {
                handled = k;
                break;
            }
        }
        if (handled > begin) {
            const PlainRead result = lines(data + begin, data + handled);
            if (result != PlainRead::Read)
                return result;
        }
        if (last)
            return PlainRead::Read;
        const size_t cut = std::max(handled, begin);
        if (cut > 0) // less than this read brought
            std::memmove(data, data + cut, filled - cut);
        bufferStart += qint64(cut);
        kept = filled - cut;
    }
}

// Runs job(k) for k in [0, threads), on this thread and threads - 1 others,
// and gives the first result other than Read: one that made the others stop
// (as cancelled) before theirs.
template <typename Job> PlainRead inParallel(int threads, Job &&job)
{
    std::vector<PlainRead> results(size_t(threads), PlainRead::Read);
    std::vector<std::thread> others;
    for (int k = 1; k < threads; ++k)
        others.emplace_back([&results, &job, k] { results[size_t(k)] = job(k); });
    results[0] = job(0);
    for (std::thread &t : others)
        t.join();
    for (PlainRead r : results) {
        if (r != PlainRead::Read && r != PlainRead::Cancelled)
            return r;
    }
    return std::count(results.begin(), results.end(), PlainRead::Read) == threads
               ? PlainRead::Read
               : PlainRead::Cancelled;
}

// The LFs in [from, to), counted in runs of 255 bytes whose byte-wide sums
// the compiler keeps in vector registers: several times std::count's speed.
qsizetype countLf(const char *from, const char *to)
{
    qsizetype n = 0;
    while (from != to) {
        const size_t run = std::min<size_t>(size_t(to - from), 255);
        unsigned char c = 0;
        for (size_t i = 0; i < run; ++i)
            c += from[i] == '\n';
        n += c;
        from += run;
    }
    return n;
}

// The first pass over a chunk: its sections and how many lines each holds.
PlainRead countLines(const char *begin, const char *end, std::vector<Segment> &segments)
{
    const std::string_view text(begin, size_t(end - begin));
    const auto addLines = [&segments](const char *from, const char *to) {
        qsizetype n = countLf(from, to);
        if (from != to && to[-1] != '\n')
            ++n; // the device's last line
        segments.back().lines += n;
    };
    const char *counted = begin; // lines before here are counted
    // Point lines hold no '_', so every section name is found by its "_DATA".
    for (size_t at = text.find("_DATA"); at != std::string_view::npos;
         at = text.find("_DATA", at + 1)) {
        const char *lineBegin = begin + at;
        while (lineBegin != begin && lineBegin[-1] != '\n')
            --lineBegin;
        const char *lineEnd =
            static_cast<const char *>(std::memchr(begin + at, '\n', size_t(end - begin) - at));
        if (!lineEnd)
            lineEnd = end;
        const char *nameEnd = withoutCr(lineBegin, lineEnd, end);
        if (nameEnd != lineBegin && nameEnd[-1] == ' ')
            --nameEnd; // one space at the end adds no token
        const int channel = sectionOf(lineBegin, nameEnd);
        if (channel < 0 || lineBegin < counted)
            return PlainRead::NotPlain;
        addLines(counted, lineBegin);
        segments.push_back({channel, 0, 0});
        counted = lineEnd == end ? end : lineEnd + 1;
    }
    addLines(counted, end);
    return PlainRead::Read;
}

// The second pass over a chunk: every line a section name (the next of the
// chunk's segments) or two numbers, which go to their places.
class PointWriter
{
public:
    PointWriter(const std::vector<Segment> &segments, const std::array<char *, ChannelCount> &rooms)
        : segments(segments), rooms(rooms)
    {
        enter(0);
    }

    PlainRead lines(const char *begin, const char *end)
    {
        while (begin != end) {
            // The usual line, two numbers that std::from_chars takes whole
            // and a line end, in one sweep; any other goes the long way.
            if (target && next != segmentEnd) {
                DataPoint p;
                const auto key = std::from_chars(begin, end, p.key);
                if (key.ec == std::errc() && key.ptr != end && *key.ptr == ' ') {
                    const auto value = std::from_chars(key.ptr + 1, end, p.value);
                    const char *q = value.ptr;
                    const char *after = q == end                                     ? nullptr
                                        : *q == '\n'                                 ? q + 1
                                        : *q == '\r' && q + 1 != end && q[1] == '\n' ? q + 2
                                                                                     : nullptr;
                    if (value.ec == std::errc() && after && std::isfinite(p.key) &&
                        std::isfinite(p.value)) {
                        std::memcpy(target + size_t(next) * sizeof(DataPoint), &p, sizeof p);
                        ++next;
                        begin = after;
                        continue;
                    }
                }
            }
            const char *lf =
                static_cast<const char *>(std::memchr(begin, '\n', size_t(end - begin)));
            const char *lineEnd = lf ? lf : end;
            if (!point(begin, withoutCr(begin, lineEnd, end)))
                return PlainRead::NotPlain;
            begin = lf ? lf + 1 : end;
        }
        return PlainRead::Read;
    }

    // Whether every segment got the points the first pass counted.
    bool complete() const { return segment + 1 == segments.size() && next == segmentEnd; }

private:
    void enter(size_t s)
    {
        segment = s;
        const Segment &seg = segments[s];
        target = seg.channel >= 0 ? rooms[size_t(seg.channel)] : nullptr;
        next = seg.first;
        segmentEnd = seg.first + seg.lines;
    }

    bool point(const char *begin, const char *end)
    {
        const char *space1 =
            static_cast<const char *>(std::memchr(begin, ' ', size_t(end - begin)));
        if (!space1 || space1 + 1 == end) { // one token: a section name or the end
            if (next != segmentEnd || segment + 1 >= segments.size())
                return false;
            enter(segment + 1);
            return sectionOf(begin, space1 ? space1 : end) == segments[segment].channel;
        }
        const char *rest = space1 + 1;
        const char *space2 = static_cast<const char *>(std::memchr(rest, ' ', size_t(end - rest)));
        if ((space2 && space2 + 1 != end) || !target || next == segmentEnd)
            return false;
        NumberForm key, value;
        const DataPoint p{
            parseDataNumber(QByteArrayView(begin, space1 - begin), key),
            parseDataNumber(QByteArrayView(rest, (space2 ? space2 : end) - rest), value)};
        if (key != NumberForm::Number || value != NumberForm::Number)
            return false; // an irregular line, which the line-by-line reader reports
        std::memcpy(target + size_t(next) * sizeof(DataPoint), &p, sizeof p);
        ++next;
        return true;
    }

    const std::vector<Segment> &segments;
    const std::array<char *, ChannelCount> &rooms;
    size_t segment = 0;
    char *target = nullptr;
    qsizetype next = 0;
    qsizetype segmentEnd = 0;
};

// Progress units per byte of each pass, after their times: counting lines,
// mostly reading the file, takes about a sixth of the time parsing them does.
constexpr qint64 countWeight = 1;
constexpr qint64 parseWeight = 6;

} // namespace

PlainRead readPlainDataFile(const std::function<std::unique_ptr<QIODevice>()> &openDevice,
                            qint64 size, int threads, const PointRoom &room,
                            std::array<qsizetype, ChannelCount> &counts, FileJobControl *control)
{
    counts.fill(0);
    threads = std::max(1, threads);
    if (control)
        control->setTotal(size * (countWeight + parseWeight));
    std::vector<qint64> bounds;
    for (int k = 0; k <= threads; ++k)
        bounds.push_back(size * k / threads);
    std::atomic<bool> stopAll{false};
    const auto overChunk = [&](int k, qint64 weight, auto &&lines) {
        const std::unique_ptr<QIODevice> device = openDevice();
        if (!device)
            return PlainRead::ReadError;
        const PlainRead result = forLinesIn(*device, bounds[size_t(k)], bounds[size_t(k) + 1],
                                            weight, control, stopAll, lines);
        if (result != PlainRead::Read)
            stopAll.store(true, std::memory_order_relaxed);
        return result;
    };

    std::vector<std::vector<Segment>> chunks(size_t(threads), {Segment{-1, 0, 0}});
    PlainRead result = inParallel(threads, [&](int k) {
        return overChunk(k, countWeight, [&](const char *begin, const char *end) {
            return countLines(begin, end, chunks[size_t(k)]);
        });
    });
    if (result != PlainRead::Read)
        return result;

    // Each segment's place in its channel, in file order.
    int channel = -1;
    for (std::vector<Segment> &segments : chunks) {
        for (Segment &s : segments) {
            if (s.channel < 0)
                s.channel = channel;
            else
                channel = s.channel;
            if (s.channel < 0 && s.lines > 0)
                return PlainRead::NotPlain; // point lines before the first section
            if (s.channel >= 0) {
                s.first = counts[size_t(s.channel)];
                counts[size_t(s.channel)] += s.lines;
            }
        }
    }
    // The rooms are taken on every thread, should their first touch cost time.
    std::array<char *, ChannelCount> rooms{};
    inParallel(threads, [&](int k) {
        for (int c = k; c < ChannelCount; c += threads) {
            if (counts[size_t(c)] > 0)
                rooms[size_t(c)] = static_cast<char *>(room(c, counts[size_t(c)]));
        }
        return PlainRead::Read;
    });

    stopAll = false;
    result = inParallel(threads, [&](int k) {
        PointWriter writer(chunks[size_t(k)], rooms);
        const PlainRead read = overChunk(k, parseWeight, [&](const char *begin, const char *end) {
            return writer.lines(begin, end);
        });
        return read == PlainRead::Read && !writer.complete() ? PlainRead::NotPlain : read;
    });
    if (result != PlainRead::Read)
        counts.fill(0);
    return result;
}
