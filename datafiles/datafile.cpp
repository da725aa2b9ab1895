#include "datafiles/datafile.h"

#include "datafiles/bufferedwriter.h"

#include <QIODevice>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

const char *const sectionNames[ChannelCount] = {"U1_DATA", "I_DATA", "T_DATA", "U2_DATA"};

constexpr char lineEnd[] = "\r\n";

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

double parseDataNumber(QByteArrayView token, bool *ok)
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
        if (ok)
            *ok = true;
        return value;
    }
    bool number = false;
    value = QString::fromUtf8(token).toDouble(&number);
    if (ok) // a number too large or too small for a double is still a number
        *ok = number || value != 0;
    return value;
}

bool writeDataFile(QIODevice &device, const ChannelSet &channels)
{
    BufferedWriter out(device);
    for (int c = 0; c < ChannelCount && !out.failed(); ++c) {
        const ChannelView &channel = channels[c];
        const qsizetype count = channel.size();
        if (count == 0)
            continue;
        out.append(sectionNames[c], qsizetype(std::strlen(sectionNames[c])));
        out.append(lineEnd, 2);
        for (qsizetype i = 0; i < count; ++i) {
            const DataPoint point = channel.at(i);
            char *line = out.reserve(2 * MaxDataNumberLength + 3);
            char *o = line + formatDataNumber(point.key, line);
            *o++ = ' ';
            o += formatDataNumber(point.value, o);
            *o++ = '\r';
            *o++ = '\n';
            out.commit(o - line);
        }
    }
    return out.flush();
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
        bool keyOk, valueOk;
        target->push_back({parseDataNumber(first, &keyOk), parseDataNumber(second, &valueOk)});
        if (!keyOk || !valueOk)
            irregular((!keyOk && first.isEmpty()) || (!valueOk && second.isEmpty())
                          ? Irregularity::EmptyToken
                          : Irregularity::NotANumber);
        return true;
    }

    void irregular(Irregularity why)
    {
        if (++contents.irregularLines <= MaxIrregularListed)
            contents.firstIrregular.push_back({lineNumber, why});
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

DataFileContents readDataFile(QIODevice &device)
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
        if (!parser.feed(block.get(), got))
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
