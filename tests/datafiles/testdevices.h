#pragma once

#include "datafiles/datafile.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <memory>

// A write-only device that accepts `capacity` bytes and then fails every
// write, like a disk that fills up; it counts the writes tried after that.
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 capacity) : capacity(capacity) { open(QIODevice::WriteOnly); }

    QByteArray written;
    int writesAfterFailure = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (failed) {
            ++writesAfterFailure;
            return -1;
        }
        const qint64 room = capacity - written.size();
        if (size > room) {
            failed = true;
            written.append(data, room);
            return -1;
        }
        written.append(data, size);
        return size;
    }

private:
    qint64 capacity;
    bool failed = false;
};

// A sequential read-only device that hands out its bytes a few at a time and
// can fail once `failAt` bytes have been read.
class TrickleDevice : public QIODevice
{
public:
    TrickleDevice(QByteArray bytes, qint64 piece, qint64 failAt = -1)
        : bytes(std::move(bytes)), piece(piece), failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (failAt >= 0 && position >= failAt)
            return -1;
        qint64 n = std::min({maxSize, piece, qint64(bytes.size()) - position});
        if (failAt >= 0)
            n = std::min(n, failAt - position);
        std::copy_n(bytes.constData() + position, n, data);
        position += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes;
    qint64 piece;
    qint64 failAt;
    qint64 position = 0;
};

// The plain reader over bytes, `threads` devices of their own; the points
// land in lists.
inline PlainRead readPlain(const QByteArray &bytes, int threads,
                           std::array<PointList, ChannelCount> &points,
                           FileJobControl *control = nullptr)
{
    points = {};
    std::array<qsizetype, ChannelCount> counts{};
    return readPlainDataFile(
        [&bytes]() -> std::unique_ptr<QIODevice> {
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData(bytes);
            buffer->open(QIODevice::ReadOnly);
            return buffer;
        },
        bytes.size(), threads,
        [&points](int c, qsizetype count) -> void * {
            points[std::size_t(c)].resize(std::size_t(count));
            return points[std::size_t(c)].data();
        },
        counts, control);
}
