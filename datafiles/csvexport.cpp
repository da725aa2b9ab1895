#include "datafiles/csvexport.h"

#include "datafiles/bufferedwriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// Header piece per channel; only U1's has a space after its first comma.
const char *const headerPieces[ChannelCount] = {
    "Time (s), Cap. Voltage (V),",
    "Time (s),Current (A),",
    "Time (s),Temperature (oC),",
    "Time (s),DC Volatge (V),",
};

// graphT holds degrees Celsius divided by 10.
double exportScale(int channel)
{
    return channel == ChannelT ? 10.0 : 1.0;
}

} // namespace

int formatCsvNumber(double number, char *out)
{
#ifdef __SIZEOF_INT128__
    // Fast exact path for |number| < 2^39: number = m * 2^e, so number * 10^6
    // = m * 10^6 * 2^e exactly in 128 bits, rounded to nearest, ties to even,
    // which is what printf does with the exact binary value.
    quint64 bits;
    std::memcpy(&bits, &number, sizeof bits);
    const int biased = int(bits >> 52) & 0x7ff;
    const quint64 mantissa = (bits & ((quint64(1) << 52) - 1)) | (biased ? quint64(1) << 52 : 0);
    const int e = (biased ? biased : 1) - 1075;
    if (e <= -14) {
        const int shift = -e;
        quint64 scaled = 0; // round(|number| * 10^6)
        if (shift < 80) {
            const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * 1000000u;
            scaled = quint64(product >> shift);
            const unsigned __int128 rest =
                product & ((static_cast<unsigned __int128>(1) << shift) - 1);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
            if (rest > half || (rest == half && (scaled & 1)))
                ++scaled;
        }
        char *o = out;
        if (bits >> 63)
            *o++ = '-';
        o = std::to_chars(o, out + MaxCsvNumberLength, scaled / 1000000).ptr;
        *o++ = '.';
        quint64 decimals = scaled % 1000000;
        for (int i = 6; i-- > 0; decimals /= 10)
            o[i] = char('0' + decimals % 10);
        return int(o + 6 - out);
    }
#endif
    // Correctly rounded like printf, but never with the locale's decimal point.
    const auto res =
        std::to_chars(out, out + MaxCsvNumberLength, number, std::chars_format::fixed, 6);
    return int(res.ptr - out);
}

QByteArray csvHeader(const ChannelSet &channels)
{
    QByteArray header;
    for (int c = 0; c < ChannelCount; ++c) {
        if (channels[c].size() > 0)
            header += headerPieces[c];
    }
    return header;
}

bool writeCsvFile(QIODevice &device, const ChannelSet &channels, FileJobControl *control)
{
    BufferedWriter out(device);
    const QByteArray header = csvHeader(channels);
    out.append(header.constData(), header.size());
    out.append("\r\n", 2);

    qsizetype rows = 0;
    for (const ChannelView &channel : channels)
        rows = std::max(rows, channel.size());

    if (control)
        control->setTotal(rows);
    for (qsizetype i = 0; i < rows && !out.failed(); ++i) {
        if ((i & progressMask) == progressMask && control && !control->advance(progressMask + 1))
            return false;
        bool firstPair = true;
        for (int c = 0; c < ChannelCount; ++c) {
            const ChannelView &channel = channels[c];
            if (channel.size() == 0)
                continue;
            char *pair = out.reserve(2 * MaxCsvNumberLength + 2);
            char *o = pair;
            if (!firstPair)
                *o++ = ',';
            firstPair = false;
            if (i < channel.size()) {
                const DataPoint point = channel.at(i);
                o += formatCsvNumber(point.key, o);
                *o++ = ',';
                o += formatCsvNumber(point.value * exportScale(c), o);
            } else {
                *o++ = ','; // two empty fields keep the later columns in place
            }
            out.commit(o - pair);
        }
        out.append("\r\n", 2);
    }
    return out.flush();
}
