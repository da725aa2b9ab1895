#include "datafiles/safefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX // std::min stays a function
#endif
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// How many of the last bytes are read back to prove the file.
constexpr qint64 provenTail = 4096;
// With a watcher: bytes written between forced syncs. Even a slow disk takes
// them in a second or two.
constexpr qint64 syncChunk = qint64(8) << 20;

// Hands every write straight to the temporary file and remembers how much
// went in and how it ended, so that nothing waits in a buffer whose failed
// flush nobody would see.
class ProvingDevice : public QIODevice
{
public:
    ProvingDevice(QSaveFile &file, std::atomic<qint64> *progress) : file(file), progress(progress)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    qint64 bytes = 0;
    QByteArray tail; // the last provenTail bytes written
    bool failed = false;
    int errorCode = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (failed)
            return -1;
        errno = 0;
        if (!writeFully(file, data, size))
            return fail();
        bytes += size;
        if (progress) {
            progress->fetch_add(size, std::memory_order_relaxed);
            unsynced += size;
            if (unsynced >= syncChunk) {
                unsynced = 0;
                errno = 0;
                if (!syncFile(file))
                    return fail();
                progress->fetch_add(1, std::memory_order_relaxed);
            }
        }
        const qint64 keep = std::min(size, provenTail);
        tail.append(data + size - keep, keep);
        if (tail.size() > provenTail)
            tail.remove(0, tail.size() - provenTail);
        return size;
    }

private:
    qint64 fail()
    {
        failed = true;
        errorCode = errno;
        setErrorString(failureText(file, errno));
        return -1;
    }

    QSaveFile &file;
    std::atomic<qint64> *progress;
    qint64 unsynced = 0;
};

QString notProvenText()
{
    return QCoreApplication::translate("MainWindow", "写入后读回的文件与写入的内容不一致");
}

// Whether the file holds exactly `bytes` bytes ending in `tail`.
bool holdsWritten(const QString &fileName, qint64 bytes, const QByteArray &tail, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = failureText(file, errno);
        return false;
    }
    if (file.size() != bytes || !file.seek(bytes - tail.size()) || file.read(tail.size()) != tail) {
        error = notProvenText();
        return false;
    }
    return true;
}

} // namespace

bool writeFully(QIODevice &device, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = device.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

QString failureText(const QIODevice &device, int errorCode)
{
    const QString own = device.errorString();
    // Qt's text when a device was never told why.
    const QString unknown = QCoreApplication::translate("QIODevice", "Unknown error");
    if (!own.isEmpty() && own != unknown)
        return own;
    return errorCode != 0 ? qt_error_string(errorCode) : own;
}

FileWriteResult writeFileSafely(const QString &fileName,
                                const std::function<bool(QIODevice &)> &content,
                                std::atomic<qint64> *progress)
{
    FileWriteResult result;
    // A failure always carries a reason, so it is never taken for success.
    const auto fail = [&result](const QString &reason, int code = 0) {
        result.error = reason.isEmpty() ? notProvenText() : reason;
        result.systemError = code;
        return result;
    };
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int code = errno;
        return fail(failureText(file, code), code);
    }
    ProvingDevice device(file, progress);
    errno = 0;
    const bool written = content(device) && !device.failed;
    if (!written || !syncFile(file)) {
        const int code = device.failed ? device.errorCode : errno;
        const QString reason = device.failed ? device.errorString() : failureText(file, errno);
        file.cancelWriting();
        return fail(reason, code);
    }
    errno = 0;
    if (!file.commit()) {
        const int code = errno;
        return fail(failureText(file, code), code);
    }
    syncFolder(QFileInfo(fileName).absolutePath()); // the new name, where the system needs it
    QString unproven;
    if (!holdsWritten(fileName, device.bytes, device.tail, unproven))
        return fail(unproven);
    result.ok = true;
    result.bytes = device.bytes;
    return result;
}

bool syncFile(QFileDevice &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool syncFolder(const QString &folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder); // the file system keeps its entries on its own
    return true;
#else
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#endif
}
