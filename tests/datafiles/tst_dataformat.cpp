// The data-file and CSV functions over QBuffer, files and failing devices.

#include "datafiles/csvexport.h"
#include "datafiles/datafile.h"
#include "datafiles/filejob.h"
#include "datafiles/runnotes.h"
#include "testdevices.h"

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

using Channels = std::array<PointList, ChannelCount>;
Q_DECLARE_METATYPE(PointList)
Q_DECLARE_METATYPE(Channels)
Q_DECLARE_METATYPE(ReadStop)
Q_DECLARE_METATYPE(PlainRead)
Q_DECLARE_METATYPE(RunNotes)

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

ChannelSet viewsOf(const Channels &channels)
{
    return {channels[0], channels[1], channels[2], channels[3]};
}

QByteArray dataFileBytes(const Channels &channels)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeDataFile(buffer, viewsOf(channels)))
        qWarning("writing into a QBuffer failed");
    return buffer.data();
}

QByteArray csvBytes(const Channels &channels)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeCsvFile(buffer, viewsOf(channels)))
        qWarning("writing into a QBuffer failed");
    return buffer.data();
}

bool sameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

// Empty when both lists hold the same points bit for bit, else the first difference.
QString differences(const Channels &actual, const Channels &expected)
{
    for (int c = 0; c < ChannelCount; ++c) {
        const PointList &a = actual[c];
        const PointList &e = expected[c];
        if (a.size() != e.size())
            return QString("channel %1: %2 points, expected %3").arg(c).arg(a.size()).arg(e.size());
        for (size_t i = 0; i < a.size(); ++i) {
            if (!sameBits(a[i].key, e[i].key) || !sameBits(a[i].value, e[i].value))
                return QString("channel %1 point %2: (%3, %4), expected (%5, %6)")
                    .arg(c)
                    .arg(i)
                    .arg(a[i].key, 0, 'g', 17)
                    .arg(a[i].value, 0, 'g', 17)
                    .arg(e[i].key, 0, 'g', 17)
                    .arg(e[i].value, 0, 'g', 17);
        }
    }
    return {};
}

// The reference: "%.*g" with the smallest precision >= 6 that reads back exactly.
QByteArray referenceNumber(double v)
{
    char text[64];
    for (int precision = 6;; ++precision) {
        auto res =
            std::to_chars(text, text + sizeof text, v, std::chars_format::general, precision);
        double back = 0;
        std::from_chars(text, res.ptr, back);
        if (sameBits(back, v) || precision == 17)
            return QByteArray(text, res.ptr - text);
    }
}

double randomDouble(QRandomGenerator &rng)
{
    switch (rng.bounded(4)) {
    case 0: { // any bit pattern: subnormals, huge and tiny exponents, NaN, infinities
        const quint64 bits = rng.generate64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    case 1: return rng.bounded(2000.0) - 1000.0;  // full-precision measurement values
    case 2: return rng.bounded(1000000) * 0.0025; // sample times
    default: return double(qint64(rng.bounded(20000000)) - 10000000) / 1000; // short decimals
    }
}

// A C locale for LC_NUMERIC while it lives (for the printf reference).
class CNumericLocale
{
public:
    CNumericLocale() : saved(std::setlocale(LC_NUMERIC, nullptr))
    {
        std::setlocale(LC_NUMERIC, "C");
    }
    ~CNumericLocale() { std::setlocale(LC_NUMERIC, saved.constData()); }

private:
    QByteArray saved;
};

const QByteArray exampleFile = "U1_DATA\r\n0 12.5\r\n0.01 12.45\r\n"
                               "I_DATA\r\n0 0.31\r\n0.01 0.305\r\n"
                               "T_DATA\r\n0 2.5\r\n0.01 2.51\r\n"
                               "U2_DATA\r\n0 4.75\r\n0.01 4.7\r\n";
const Channels exampleChannels = {
    PointList{{0, 12.5}, {0.01, 12.45}}, PointList{{0, 0.31}, {0.01, 0.305}},
    PointList{{0, 2.5}, {0.01, 2.51}}, PointList{{0, 4.75}, {0.01, 4.7}}};

} // namespace

class DataFormatTest : public QObject
{
    Q_OBJECT

private slots:
    void numberFormat_data();
    void numberFormat();
    void numberFormatIsShortestLossless();
    void parseAgreesWithQString();

    void writeDataFile_data();
    void writeDataFile();
    void readDataFile_data();
    void readDataFile();
    void readSplitAcrossReads();
    void readStopsOnDeviceError();
    void roundTripIsBitExact();
    void readsExampleFile();

    void csvNumber_data();
    void csvNumber();
    void csvNumberMatchesPrintf();
    void writeCsv_data();
    void writeCsv();

    void germanLocaleChangesNothing();
    void failingDevice();
    void devFull();

    void runNotes_data();
    void runNotes();
};

void DataFormatTest::numberFormat_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");

    // What six digits already hold exactly is written as six digits would write it.
    QTest::newRow("zero") << 0.0 << QByteArray("0");
    QTest::newRow("two") << 2.0 << QByteArray("2");
    QTest::newRow("tenth") << 0.1 << QByteArray("0.1");
    QTest::newRow("1e-4 fixed") << 0.0001 << QByteArray("0.0001");
    QTest::newRow("1e-5 exponent") << 0.00001 << QByteArray("1e-05");
    QTest::newRow("small") << 0.00001234 << QByteArray("1.234e-05");
    QTest::newRow("negative") << -3.25 << QByteArray("-3.25");
    QTest::newRow("six digits") << 123456.0 << QByteArray("123456");
    QTest::newRow("1e6") << 1e6 << QByteArray("1e+06");
    QTest::newRow("1e21") << 1e21 << QByteArray("1e+21");
    QTest::newRow("1e-300") << 1e-300 << QByteArray("1e-300");
    QTest::newRow("100000") << 100000.0 << QByteArray("100000");
    // What six digits would corrupt keeps its digits.
    QTest::newRow("12.3456789") << 12.3456789 << QByteArray("12.3456789");
    QTest::newRow("1234.5678") << 1234.5678 << QByteArray("1234.5678");
    QTest::newRow("1234567") << 1234567.0 << QByteArray("1234567");
    QTest::newRow("0.1+0.2") << 0.1 + 0.2 << QByteArray("0.30000000000000004");
    QTest::newRow("long recording time") << 2499.9975 << QByteArray("2499.9975");
    QTest::newRow("123456.7") << 123456.7 << QByteArray("123456.7");
    QTest::newRow("small, many digits") << 0.00012345678 << QByteArray("0.00012345678");
    QTest::newRow("1.5e-5 digits") << 1.23456789e-5 << QByteArray("1.23456789e-05");
    QTest::newRow("2^60") << 1152921504606846976.0 << QByteArray("1.152921504606847e+18");
    QTest::newRow("max") << std::numeric_limits<double>::max()
                         << QByteArray("1.7976931348623157e+308");
    QTest::newRow("denormal min") << std::numeric_limits<double>::denorm_min()
                                  << QByteArray("5e-324");
    QTest::newRow("negative zero") << -0.0 << QByteArray("-0");
    QTest::newRow("nan") << NaN << QByteArray("nan");
    QTest::newRow("-nan") << -NaN << QByteArray("nan");
    QTest::newRow("inf") << Inf << QByteArray("inf");
    QTest::newRow("-inf") << -Inf << QByteArray("-inf");
}

void DataFormatTest::numberFormat()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(formatDataNumber(value), text);
    QVERIFY(sameBits(parseDataNumber(text), value));
}

void DataFormatTest::numberFormatIsShortestLossless()
{
    QRandomGenerator rng(20261208);
    for (int i = 0; i < 300000; ++i) {
        const double v = randomDouble(rng);
        if (std::isnan(v) || std::isinf(v))
            continue;
        const QByteArray text = formatDataNumber(v);
        const QByteArray expected = referenceNumber(v);
        if (text != expected)
            QFAIL(qPrintable(
                QString("%1 written as %2, expected %3").arg(v, 0, 'g', 17).arg(text, expected)));
        if (!sameBits(parseDataNumber(text), v))
            QFAIL(qPrintable(QString("%1 does not read back").arg(text)));
    }
}

// The fast path of parseDataNumber must give exactly what QString::toDouble gives.
void DataFormatTest::parseAgreesWithQString()
{
    QRandomGenerator rng(5);
    const char *const signs[] = {"", "", "-", "+", "--", "+-", "-+"};
    const char *const pads[] = {"", "", "", " ", "\t", "\r", "\n", "\v", "\f", "\xc2\xa0", "  "};
    const char *const words[] = {"nan", "NaN",      "-nan", "+nan", "inf", "-inf", "+inf",
                                 "INF", "Infinity", "-Inf", "nanx", "in",  "i"};
    const char *const junk[] = {
        ",", "x", "0x", "_", "d",    "f", "p", "\xd9\xa1", "\xef\xbc\x91", "\xe2\x88\x92",
        "e", "E", ".",  "'", "\x80", "\0"};
    auto digits = [&](int maxCount) {
        QByteArray d;
        const int n = int(rng.bounded(maxCount + 1));
        for (int i = 0; i < n; ++i)
            d += char('0' + (rng.bounded(3) == 0 ? 0 : rng.bounded(10)));
        return d;
    };

    int fastForms = 0;
    for (int i = 0; i < 400000; ++i) {
        QByteArray token;
        switch (rng.bounded(6)) {
        case 0: // numbers of the writers
        case 1: {
            char text[400]; // fixed notation of 1e308 included
            const double v = randomDouble(rng);
            const auto format = std::chars_format(1 + rng.bounded(4)); // sci, fixed, general, hex
            token = QByteArray(text, std::to_chars(text, text + sizeof text, v, format).ptr - text);
            break;
        }
        case 2: // grammar: sign, digits, point, digits, exponent
        case 3: {
            token += signs[rng.bounded(int(std::size(signs)))];
            token += digits(rng.bounded(4) == 0 ? 30 : 6);
            if (rng.bounded(3) != 0)
                token += '.';
            token += digits(rng.bounded(8) == 0 ? 400 : 8);
            if (rng.bounded(2) == 0) {
                token += rng.bounded(2) ? 'e' : 'E';
                token += signs[rng.bounded(4)];
                token += digits(rng.bounded(6) == 0 ? 12 : 3);
            }
            break;
        }
        case 4: // special words and hex
            token = words[rng.bounded(int(std::size(words)))];
            if (rng.bounded(4) == 0)
                token = "0x" + QByteArray::number(rng.bounded(1000), 16);
            break;
        default: { // garbage spliced into a number
            char text[64];
            const double v = randomDouble(rng);
            token = QByteArray(text, std::to_chars(text, text + 64, v).ptr - text);
            const int at = int(rng.bounded(token.size() + 1));
            const char *piece = junk[rng.bounded(int(std::size(junk)))];
            token.insert(at, *piece ? QByteArray(piece) : QByteArray(1, '\0'));
            break;
        }
        }
        if (rng.bounded(4) == 0) {
            token.prepend(pads[rng.bounded(int(std::size(pads)))]);
            token.append(pads[rng.bounded(int(std::size(pads)))]);
        }

        const double expected = QString::fromUtf8(token).toDouble();
        const double actual = parseDataNumber(token);
        if (!sameBits(actual, expected))
            QFAIL(qPrintable(QString("token \"%1\": %2, QString::toDouble gives %3")
                                 .arg(QString::fromUtf8(token.toPercentEncoding(" -+.")))
                                 .arg(actual, 0, 'g', 17)
                                 .arg(expected, 0, 'g', 17)));
        fastForms += expected != 0;
    }
    QVERIFY(fastForms > 100000); // most tokens were real numbers, not just zeros
}

void DataFormatTest::writeDataFile_data()
{
    QTest::addColumn<Channels>("channels");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("example") << exampleChannels << exampleFile;
    QTest::newRow("empty") << Channels{} << QByteArray();
    QTest::newRow("only T") << Channels{{{}, {}, PointList{{0, 2.5}, {1e-05, 1234567}}, {}}}
                            << QByteArray("T_DATA\r\n0 2.5\r\n1e-05 1234567\r\n");
    QTest::newRow("I and U2")
        << Channels{{{}, PointList{DataPoint{1, 2}}, {}, PointList{DataPoint{3, 4}}}}
        << QByteArray("I_DATA\r\n1 2\r\nU2_DATA\r\n3 4\r\n");
    QTest::newRow("lossless")
        << Channels{{PointList{{2499.9975, 12.3456789}, {0.1 + 0.2, -1234567.5}}, {}, {}, {}}}
        << QByteArray("U1_DATA\r\n2499.9975 12.3456789\r\n0.30000000000000004 -1234567.5\r\n");
    QTest::newRow("non-finite") << Channels{{PointList{{NaN, Inf}, {-Inf, -0.0}}, {}, {}, {}}}
                                << QByteArray("U1_DATA\r\nnan inf\r\n-inf -0\r\n");
}

void DataFormatTest::writeDataFile()
{
    QFETCH(Channels, channels);
    QFETCH(QByteArray, bytes);
    QCOMPARE(dataFileBytes(channels), bytes);
}

void DataFormatTest::readDataFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Channels>("points");
    QTest::addColumn<ReadStop>("stop");
    QTest::addColumn<int>("stopLine");

    const Channels none;
    const Channels u1Only = {PointList{DataPoint{1, 2}}, {}, {}, {}};

    // Layout of the lines
    QTest::newRow("CR LF") << exampleFile << exampleChannels << ReadStop::EndOfData << 0;
    QTest::newRow("LF") << QByteArray(exampleFile).replace("\r\n", "\n") << exampleChannels
                        << ReadStop::EndOfData << 0;
    QTest::newRow("no final line end")
        << exampleFile.chopped(2) << exampleChannels << ReadStop::EndOfData << 0;
    QTest::newRow("final CR without LF")
        << QByteArray("U1_DATA\r\n1 2\r") << u1Only << ReadStop::EndOfData << 0;
    QTest::newRow("empty file") << QByteArray() << none << ReadStop::EndOfData << 0;
    QTest::newRow("header only") << QByteArray("T_DATA") << none << ReadStop::EndOfData << 0;

    // Sections
    QTest::newRow("reverse order")
        << QByteArray("U2_DATA\n0 4.75\n0.01 4.7\nT_DATA\n0 2.5\n0.01 2.51\n"
                      "I_DATA\n0 0.31\n0.01 0.305\nU1_DATA\n0 12.5\n0.01 12.45\n")
        << exampleChannels << ReadStop::EndOfData << 0;
    QTest::newRow("repeated section, file order kept")
        << QByteArray("U1_DATA\n5 1\nI_DATA\n1 1\nU1_DATA\n3 2\n")
        << Channels{PointList{{5, 1}, {3, 2}}, PointList{DataPoint{1, 1}}, {}, {}}
        << ReadStop::EndOfData << 0;
    QTest::newRow("lower case ends reading")
        << QByteArray("U1_DATA\n1 2\nu1_data\n3 4\n") << u1Only << ReadStop::UnknownLine << 3;
    QTest::newRow("misspelt name")
        << QByteArray("U1_DATA\n1 2\nU1_DATE\n3 4\n") << u1Only << ReadStop::UnknownLine << 3;
    QTest::newRow("name with BOM")
        << QByteArray("\xef\xbb\xbfU1_DATA\n1 2\n") << none << ReadStop::UnknownLine << 1;
    QTest::newRow("first line a point")
        << QByteArray("1 2\nU1_DATA\n3 4\n") << none << ReadStop::NoSection << 1;
    QTest::newRow("first line empty")
        << QByteArray("\r\nU1_DATA\n3 4\n") << none << ReadStop::NoSection << 1;

    // Token counts
    QTest::newRow("wrong counts skipped")
        << QByteArray("U1_DATA\n1 2\n1 2 3\n\n4 5 6 7\n") << u1Only << ReadStop::EndOfData << 0;
    QTest::newRow("number alone ends reading")
        << QByteArray("U1_DATA\n1 2\n5\n3 4\n") << u1Only << ReadStop::UnknownLine << 3;
    QTest::newRow("tab is no separator")
        << QByteArray("U1_DATA\n1 2\n3\t4\n5 6\n") << u1Only << ReadStop::UnknownLine << 3;
    QTest::newRow("line of one space")
        << QByteArray("U1_DATA\n1 2\n \n3 4\n") << u1Only << ReadStop::UnknownLine << 3;
    QTest::newRow("leading space: three tokens")
        << QByteArray("U1_DATA\n 3 4\n1 2") << u1Only << ReadStop::EndOfData << 0;
    QTest::newRow("two spaces: three tokens")
        << QByteArray("U1_DATA\n3  4\n1 2") << u1Only << ReadStop::EndOfData << 0;

    // Trailing spaces
    QTest::newRow("one trailing space ignored")
        << QByteArray("U1_DATA \r\n1 2 \r\n") << u1Only << ReadStop::EndOfData << 0;
    QTest::newRow("header, two spaces, no target")
        << QByteArray("U1_DATA  \n1 2\n") << none << ReadStop::NoSection << 1;
    QTest::newRow("header, two spaces, under a target")
        << QByteArray("I_DATA\nU1_DATA  \n1 2\n")
        << Channels{{{}, PointList{{0, 0}, {1, 2}}, {}, {}}} << ReadStop::EndOfData << 0;
    QTest::newRow("point, two trailing spaces")
        << QByteArray("U1_DATA\n1 2  \n") << none << ReadStop::EndOfData << 0;

    // Numbers
    QTest::newRow("not numbers give 0")
        << QByteArray("U1_DATA\nabc 1,5\n") << Channels{{PointList{DataPoint{0, 0}}, {}, {}, {}}}
        << ReadStop::EndOfData << 0;
    QTest::newRow("forms")
        << QByteArray("T_DATA\n+1 .5\n1E3 -2e-2\n1e400 1e-400\n\xc2\xa0"
                      "7\x0b 0x10\n")
        << Channels{{{}, {}, PointList{{1, 0.5}, {1000, -0.02}, {Inf, 0}, {7, 0}}, {}}}
        << ReadStop::EndOfData << 0;
    QTest::newRow("non-finite") << QByteArray("U2_DATA\nnan inf\n-inf NaN\n")
                                << Channels{{{}, {}, {}, PointList{{NaN, Inf}, {-Inf, NaN}}}}
                                << ReadStop::EndOfData << 0;
    QTest::newRow("six-digit file")
        << QByteArray("U1_DATA\r\n1234.57 1.23457e+06\r\n")
        << Channels{{PointList{DataPoint{1234.57, 1234570}}, {}, {}, {}}} << ReadStop::EndOfData
        << 0;
    QTest::newRow("CR inside a line")
        << QByteArray("U1_DATA\n1\r2 3\n") << Channels{{PointList{DataPoint{0, 3}}, {}, {}, {}}}
        << ReadStop::EndOfData << 0;

    // Long stretches without LF, several blocks of the readers
    QTest::newRow("CR line ends only: one line")
        << "U1_DATA\r" + QByteArray("0.00025 1.5\r").repeated(300000) << none << ReadStop::NoSection
        << 1;
    QTest::newRow("zeros after a write cut short")
        << "U1_DATA\r\n0 1.5\r\n0.00025 1" + QByteArray(3 << 20, '\0') + "\r\n0.0005 2\r\n"
        << Channels{{PointList{{0, 1.5}, {0.00025, 0}, {0.0005, 2}}, {}, {}, {}}}
        << ReadStop::EndOfData << 0;
}

void DataFormatTest::readDataFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Channels, points);
    QFETCH(ReadStop, stop);
    QFETCH(int, stopLine);

    const DataFileContents fromBytes = ::readDataFile(QByteArrayView(bytes));
    QCOMPARE(differences(fromBytes.points, points), QString());
    QCOMPARE(fromBytes.stop, stop);
    QCOMPARE(fromBytes.stopLine, qint64(stopLine));

    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const DataFileContents fromDevice = ::readDataFile(buffer);
    QCOMPARE(differences(fromDevice.points, points), QString());
    QCOMPARE(fromDevice.stop, stop);
    QCOMPARE(fromDevice.stopLine, qint64(stopLine));

    // The parallel reader takes exactly the files read to their end without
    // an odd line, and reads them the same, wherever the chunks are cut.
    const bool plain = stop == ReadStop::EndOfData && fromBytes.irregularLines == 0;
    for (int threads : {1, 2, 3, 7}) {
        Channels parallel;
        const PlainRead read = readPlain(bytes, threads, parallel);
        QCOMPARE(read, plain ? PlainRead::Read : PlainRead::NotPlain);
        if (plain)
            QCOMPARE(differences(parallel, points), QString());
    }

    // A cancel at the first block read stops every thread there, whatever
    // the lines; the progress has moved.
    FileJobControl control;
    std::atomic<qint64> steps{0}; // the hook runs on each reading thread
    FileJobControl::setPauseHook([&steps](FileJobControl &c) {
        ++steps;
        c.cancel();
    });
    Channels parallel;
    const PlainRead read = readPlain(bytes, 2, parallel, &control);
    FileJobControl::setPauseHook({});
    QCOMPARE(read, bytes.isEmpty() ? PlainRead::Read : PlainRead::Cancelled);
    QVERIFY(steps <= 2);
    QVERIFY(bytes.isEmpty() || control.percent() > 0);
}

// Lines, CR LF pairs and numbers cut between two reads of a slow device.
void DataFormatTest::readSplitAcrossReads()
{
    const QByteArray bytes = exampleFile + "U1_DATA\r\n7 8";
    Channels expected = exampleChannels;
    expected[ChannelU1].push_back({7, 8});
    for (qint64 piece : {1, 2, 3, 7}) {
        TrickleDevice device(bytes, piece);
        const DataFileContents contents = ::readDataFile(device);
        QCOMPARE(differences(contents.points, expected), QString());
        QCOMPARE(contents.stop, ReadStop::EndOfData);
    }
}

void DataFormatTest::readStopsOnDeviceError()
{
    const QByteArray bytes = "U1_DATA\r\n1 2\r\n3 4\r\n5 6\r\n";
    TrickleDevice device(bytes, 4, bytes.indexOf("5 6"));
    const DataFileContents contents = ::readDataFile(device);
    QCOMPARE(contents.stop, ReadStop::ReadError);
    QCOMPARE(contents.stopLine, qint64(4));
    QCOMPARE(differences(contents.points, Channels{{PointList{{1, 2}, {3, 4}}, {}, {}, {}}}),
             QString());
}

// Save, read back, save again: every point bit for bit, the file byte for byte.
// Large enough that lines straddle the reader's blocks.
void DataFormatTest::roundTripIsBitExact()
{
    QRandomGenerator rng(42);
    Channels channels;
    for (int c = 0; c < ChannelCount; ++c) {
        // T spans several of the pieces the writer formats side by side.
        const int count = c == ChannelI   ? 0
                          : c == ChannelT ? 2 * 65536 + 7
                                          : 20000 + int(rng.bounded(20000));
        for (int i = 0; i < count; ++i)
            channels[c].push_back({randomDouble(rng), randomDouble(rng)});
    }
    const QByteArray first = dataFileBytes(channels);
    QVERIFY(first.size() > 2 * (1 << 20));
    for (int threads : {1, 3}) {
        QBuffer pieces;
        pieces.open(QIODevice::WriteOnly);
        QVERIFY(::writeDataFile(pieces, viewsOf(channels), nullptr, threads));
        QVERIFY2(pieces.data() == first, qPrintable(QString("%1 threads").arg(threads)));
    }
    Channels parallel;
    QCOMPARE(readPlain(first, 3, parallel), PlainRead::Read);
    QCOMPARE(differences(parallel, channels), QString());

    QBuffer buffer;
    buffer.setData(first);
    buffer.open(QIODevice::ReadOnly);
    const DataFileContents contents = ::readDataFile(buffer);
    QCOMPARE(contents.stop, ReadStop::EndOfData);
    QCOMPARE(differences(contents.points, channels), QString());
    QVERIFY(dataFileBytes(contents.points) == first);
}

void DataFormatTest::readsExampleFile()
{
    QFile file(KORVEL_DATAFILES_TEST_DATA "/example.txt");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const DataFileContents contents = ::readDataFile(file);
    QCOMPARE(differences(contents.points, exampleChannels), QString());
    QCOMPARE(contents.stop, ReadStop::EndOfData);
}

void DataFormatTest::csvNumber_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("zero") << 0.0 << QByteArray("0.000000");
    QTest::newRow("-0.5") << -0.5 << QByteArray("-0.500000");
    QTest::newRow("big") << 1234567.891 << QByteArray("1234567.891000");
    QTest::newRow("rounds to zero") << 0.0000004 << QByteArray("0.000000");
    QTest::newRow("rounds up") << 0.0000005000001 << QByteArray("0.000001");
    QTest::newRow("exact tie to even") << 0.0078125 << QByteArray("0.007812");
    QTest::newRow("negative tiny") << -1e-7 << QByteArray("-0.000000");
    QTest::newRow("1e20") << 1e20 << QByteArray("100000000000000000000.000000");
}

void DataFormatTest::csvNumber()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    char out[MaxCsvNumberLength];
    QCOMPARE(QByteArray(out, formatCsvNumber(value, out)), text);
}

void DataFormatTest::csvNumberMatchesPrintf()
{
    CNumericLocale c;
    QRandomGenerator rng(7);
    char out[MaxCsvNumberLength];
    char ref[400];
    for (int i = 0; i < 200000; ++i) {
        const double v = i < 1000 ? (i - 500) / 128.0 + 1.0 / 2097152 * (i % 3) : randomDouble(rng);
        const QByteArray text(out, formatCsvNumber(v, out));
        std::snprintf(ref, sizeof ref, "%f", v);
        if (text != ref)
            QFAIL(qPrintable(QString("%1: %2, printf gives %3").arg(v, 0, 'g', 17).arg(text, ref)));
    }
}

void DataFormatTest::writeCsv_data()
{
    QTest::addColumn<Channels>("channels");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << Channels{} << QByteArray("\r\n");
    QTest::newRow("example")
        << Channels{{PointList{DataPoint{0.01, 12.5}}, PointList{DataPoint{0.01, 0.31}},
                     PointList{DataPoint{0.01, 2.5}}, PointList{DataPoint{0.01, 4.75}}}}
        << QByteArray("Time (s), Cap. Voltage (V),Time (s),Current (A),Time (s),"
                      "Temperature (oC),Time (s),DC Volatge (V),\r\n"
                      "0.010000,12.500000,0.010000,0.310000,0.010000,25.000000,0.010000,4.750000"
                      "\r\n");
    QTest::newRow("only I") << Channels{{{}, PointList{{0, 0.5}, {-0.5, 1}}, {}, {}}}
                            << QByteArray("Time (s),Current (A),\r\n0.000000,0.500000\r\n"
                                          "-0.500000,1.000000\r\n");
    QTest::newRow("shorter channels keep their columns")
        << Channels{{PointList{DataPoint{1, 1}},
                     {},
                     PointList{{1, 2}, {2, 3}, {3, 4}},
                     PointList{{1, 5}, {2, 6}}}}
        << QByteArray("Time (s), Cap. Voltage (V),Time (s),Temperature (oC),"
                      "Time (s),DC Volatge (V),\r\n"
                      "1.000000,1.000000,1.000000,20.000000,1.000000,5.000000\r\n"
                      ",,2.000000,30.000000,2.000000,6.000000\r\n"
                      ",,3.000000,40.000000,,\r\n");
    // 2^200 has 61 digits, so each pair needs well over 100 characters.
    const QByteArray big = "1606938044258990275541962092341162602522202993782792835301376.000000";
    QTest::newRow("big pair written whole")
        << Channels{{{}, {}, {}, PointList{DataPoint{std::ldexp(1.0, 200), -std::ldexp(1.0, 200)}}}}
        << QByteArray("Time (s),DC Volatge (V),\r\n" + big + ",-" + big + "\r\n");
}

void DataFormatTest::writeCsv()
{
    QFETCH(Channels, channels);
    QFETCH(QByteArray, bytes);
    QCOMPARE(csvBytes(channels), bytes);
}

// Neither file depends on the C library's or Qt's default locale.
void DataFormatTest::germanLocaleChangesNothing()
{
    const QByteArray savedC = std::setlocale(LC_ALL, nullptr);
    const QLocale savedQt;
    const bool haveCLocale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (haveCLocale) {
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        QCOMPARE(QByteArray(probe), QByteArray("0,5")); // the locale really is in force
    } else {
        qWarning("de_DE.UTF-8 is not installed; checking under a German QLocale only");
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    const Channels channels = {
        PointList{DataPoint{1234.5, 1234567.25}}, {}, PointList{DataPoint{0.5, 2.5}}, {}};
    const QByteArray data = dataFileBytes(channels);
    const QByteArray csv = csvBytes(channels);
    const DataFileContents back = ::readDataFile(QByteArrayView("U1_DATA\n0.5 1,5\n"));

    std::setlocale(LC_ALL, savedC.constData());
    QLocale::setDefault(savedQt);

    QCOMPARE(data, QByteArray("U1_DATA\r\n1234.5 1234567.25\r\nT_DATA\r\n0.5 2.5\r\n"));
    QCOMPARE(csv, QByteArray("Time (s), Cap. Voltage (V),Time (s),Temperature (oC),\r\n"
                             "1234.500000,1234567.250000,0.500000,25.000000\r\n"));
    QCOMPARE(differences(back.points, Channels{{PointList{DataPoint{0.5, 0}}, {}, {}, {}}}),
             QString());
}

void DataFormatTest::failingDevice()
{
    Channels channels;
    for (int i = 0; i < 200000; ++i)
        channels[i % ChannelCount].push_back({i * 0.0025, i * 1.5});
    for (qint64 capacity : {0, 1000, 300000, 3000000}) {
        FullDevice data(capacity);
        QVERIFY(!::writeDataFile(data, viewsOf(channels)));
        QCOMPARE(data.writesAfterFailure, 0);
        FullDevice csv(capacity);
        QVERIFY(!writeCsvFile(csv, viewsOf(channels)));
        QCOMPARE(csv.writesAfterFailure, 0);
    }
    FullDevice roomy(1 << 30);
    QVERIFY(::writeDataFile(roomy, viewsOf(channels)));
    QCOMPARE(roomy.written, dataFileBytes(channels));
}

void DataFormatTest::devFull()
{
#ifdef Q_OS_LINUX
    QFile full("/dev/full");
    if (!full.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        QSKIP("/dev/full cannot be opened");
    Channels channels;
    channels[ChannelU1].assign(50000, DataPoint{1.5, 2.5});
    QVERIFY(!::writeDataFile(full, viewsOf(channels)));
    QVERIFY(!writeCsvFile(full, viewsOf(channels)));
#else
    QSKIP("Linux only");
#endif
}

// The companion file: what is written reads back the same, byte for byte
// written again; a damaged line is skipped and named, the rest is kept.
void DataFormatTest::runNotes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<RunNotes>("expected");
    QTest::addColumn<int>("skipped");
    RunNotes full;
    full.info = {QStringLiteral("王丽"),
                 QStringLiteral("C-17 <b>x</b>"),
                 250,
                 1.5,
                 0.1 + 0.2,
                 QStringLiteral("line one\nline\ttwo \\ end")};
    full.markers = {
        {12.5, QStringLiteral("开门\tdoor")}, {1e-300, QString()}, {-0.0, QStringLiteral("x")}};
    full.alarms = {{14.25, 4, AlarmRecord::High, 1000, 1500.5, 1765461723123},
                   {15, 0, AlarmRecord::Acknowledged, 0, 0, 1}};
    const QByteArray bytes = writeRunNotes(full);
    QTest::newRow("round trip") << bytes << full << 0;
    QTest::newRow("empty") << writeRunNotes({}) << RunNotes{} << 0;
    QTest::newRow("LF only") << QByteArray(bytes).replace("\r\n", "\n") << full << 0;
    RunNotes noAlarms = full;
    noAlarms.alarms.clear();
    QTest::newRow("not a notes file") << QByteArray("U1_DATA\r\n0 1\r\n") << RunNotes{} << 1;
    QByteArray damaged = bytes;
    damaged.replace("\t1500.5\t", "\t15oo\t").replace("alarm: 15\tU1", "alarm: 15\tU9");
    QTest::newRow("bad alarm numbers and channel") << damaged << noAlarms << 2;
    RunNotes noRated = full;
    noRated.info.ratedVoltage.reset();
    QTest::newRow("bad number, unknown key, cut line")
        << QByteArray(bytes).replace("rated voltage: 250", "rated voltage: 2,5") +
               "colour: red\r\nmarker"
        << noRated << 3;
}

void DataFormatTest::runNotes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(RunNotes, expected);
    QFETCH(int, skipped);
    const RunNotesRead read = readRunNotes(bytes);
    QCOMPARE(read.skipped.size(), skipped);
    QVERIFY(read.notes == expected);
    QCOMPARE(read.recognised, !bytes.startsWith("U1_DATA"));
    if (skipped == 0 && !bytes.contains("\r\n"))
        QCOMPARE(writeRunNotes(read.notes), QByteArray(bytes).replace("\n", "\r\n"));
    else if (skipped == 0)
        QCOMPARE(writeRunNotes(read.notes), bytes);
    if (QTest::currentDataTag() == QLatin1String("round trip")) {
        const RunNotes part = expected.within(12, 14.5); // a range save keeps what is inside
        QCOMPARE(part.markers, std::vector<Marker>{expected.markers[0]});
        QCOMPARE(part.alarms, std::vector<AlarmRecord>{expected.alarms[0]});
        QCOMPARE(part.info, expected.info);
    }
}

int runDataFormatTest(int argc, char **argv)
{
    DataFormatTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dataformat.moc"
