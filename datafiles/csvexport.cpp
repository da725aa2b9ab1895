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

bool writeCsvFile(QIODevice &device, const ChannelSet &channels)
{
    BufferedWriter out(device);
    const QByteArray header = csvHeader(channels);
    out.append(header.constData(), header.size());
    out.append("\r\n", 2);

    qsizetype rows = 0;
    for (const ChannelView &channel : channels)
        rows = std::max(rows, channel.size());

    for (qsizetype i = 0; i < rows && !out.failed(); ++i) {
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
