#include "datafiles/runnotes.h"

#include <charconv>
#include <cmath>

namespace {

const char *const kHeader = "KorvelDAQ notes 1";
const char *const kChannels[5] = {"U1", "I", "T", "U2", "P"};
const char *const kChanges[4] = {"high", "low", "normal", "acknowledged"};

QByteArray number(double v)
{
    char out[32];
    const auto end = std::to_chars(out, out + sizeof out, v).ptr;
    return QByteArray(out, int(end - out));
}

std::optional<double> parseNumber(const QByteArray &text)
{
    double v = 0;
    const char *begin = text.constData(), *end = begin + text.size();
    const auto res = std::from_chars(begin, end, v);
    if (res.ec != std::errc() || res.ptr != end || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QByteArray escaped(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

QString unescaped(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype k = 0; k < text.size(); ++k) {
        char c = text[k];
        if (c == '\\' && k + 1 < text.size()) {
            const char n = text[++k];
            c = n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n;
        }
        out += c;
    }
    return QString::fromUtf8(out);
}

int indexOf(const char *const *names, int count, const QByteArray &name)
{
    for (int k = 0; k < count; ++k)
        if (name == names[k])
            return k;
    return -1;
}

} // namespace

RunNotes RunNotes::within(double low, double high) const
{
    RunNotes part;
    part.info = info;
    for (const Marker &m : markers)
        if (m.time >= low && m.time <= high)
            part.markers.push_back(m);
    for (const AlarmRecord &a : alarms)
        if (a.time >= low && a.time <= high)
            part.alarms.push_back(a);
    return part;
}

QString notesPathFor(const QString &dataFile)
{
    return dataFile + QStringLiteral(".notes");
}

QByteArray writeRunNotes(const RunNotes &notes)
{
    QByteArray out = QByteArray(kHeader) + "\r\n";
    const auto text = [&out](const char *key, const QString &value) {
        if (!value.isEmpty())
            out += QByteArray(key) + ": " + escaped(value) + "\r\n";
    };
    const auto num = [&out](const char *key, const std::optional<double> &value) {
        if (value)
            out += QByteArray(key) + ": " + number(*value) + "\r\n";
    };
    text("operator", notes.info.operatorName);
    text("sample", notes.info.sample);
    num("rated voltage", notes.info.ratedVoltage);
    num("capacitance", notes.info.capacitance);
    num("esr", notes.info.esr);
    text("notes", notes.info.notes);
    for (const Marker &m : notes.markers)
        out += "marker: " + number(m.time) + '\t' + escaped(m.text) + "\r\n";
    for (const AlarmRecord &a : notes.alarms)
        out += "alarm: " + number(a.time) + '\t' + kChannels[a.channel] + '\t' +
               kChanges[a.change] + '\t' + number(a.limit) + '\t' + number(a.value) + '\t' +
               QByteArray::number(a.wallMs) + "\r\n";
    return out;
}

RunNotesRead readRunNotes(const QByteArray &bytes)
{
    RunNotesRead read;
    const QList<QByteArray> lines = bytes.split('\n');
    int lineNo = 0;
    for (QByteArray line : lines) {
        ++lineNo;
        if (line.endsWith('\r'))
            line.chop(1);
        if (lineNo == 1) {
            read.recognised = line == kHeader;
            if (!read.recognised) {
                read.skipped << QStringLiteral("line 1: not a notes file");
                return read;
            }
            continue;
        }
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(": ");
        const QByteArray key = colon < 0 ? line : line.left(colon);
        const QByteArray value = colon < 0 ? QByteArray() : line.mid(colon + 2);
        const QList<QByteArray> fields = value.split('\t');
        bool taken = true;
        if (colon < 0) {
            taken = false;
        } else if (key == "operator") {
            read.notes.info.operatorName = unescaped(value);
        } else if (key == "sample") {
            read.notes.info.sample = unescaped(value);
        } else if (key == "notes") {
            read.notes.info.notes = unescaped(value);
        } else if (key == "rated voltage" || key == "capacitance" || key == "esr") {
            const auto v = parseNumber(value);
            auto &field = key == "esr"           ? read.notes.info.esr
                          : key == "capacitance" ? read.notes.info.capacitance
                                                 : read.notes.info.ratedVoltage;
            taken = v.has_value();
            if (v)
                field = v;
        } else if (key == "marker" && fields.size() >= 2) {
            const auto t = parseNumber(fields[0]);
            taken = t.has_value();
            if (t)
                read.notes.markers.push_back({*t, unescaped(value.mid(fields[0].size() + 1))});
        } else if (key == "alarm" && fields.size() == 6) {
            const auto t = parseNumber(fields[0]), limit = parseNumber(fields[3]),
                       v = parseNumber(fields[4]);
            const int channel = indexOf(kChannels, 5, fields[1]);
            const int change = indexOf(kChanges, 4, fields[2]);
            bool wallOk = false;
            const qint64 wall = fields[5].toLongLong(&wallOk);
            taken = t && limit && v && channel >= 0 && change >= 0 && wallOk;
            if (taken)
                read.notes.alarms.push_back(
                    {*t, channel, AlarmRecord::Change(change), *limit, *v, wall});
        } else {
            taken = false;
        }
        if (!taken)
            read.skipped
                << QStringLiteral("line %1: %2").arg(lineNo).arg(QString::fromUtf8(line.left(60)));
    }
    return read;
}
