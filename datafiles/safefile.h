#pragma once

#include <QString>

#include <atomic>
#include <functional>

class QFileDevice;
class QIODevice;

// The one way the program writes a file (Save, Export, the picture, the
// recordings): what it says is on disk is on disk.

struct FileWriteResult
{
    bool ok = false;
    qint64 bytes = 0;    // written and proven
    QString error;       // the system's reason for a failure
    int systemError = 0; // its error code (errno), 0 when the system gave none
};

// Writes fileName through a temporary file beside it. content() writes
// everything into the device it is given and returns false on a failure of
// its own. The target is replaced only after every byte was written,
// flushed and forced onto the disk, and the replaced file is then proven to
// hold exactly what was written (its size and its last bytes). On any
// failure the previous file stays as it was and no temporary file remains.
// progress, if given, counts the bytes as they reach the file (any thread);
// then the file is also forced onto the disk every few megabytes, so that a
// watcher sees a slow disk move instead of one long final sync.
FileWriteResult writeFileSafely(const QString &fileName,
                                const std::function<bool(QIODevice &)> &content,
                                std::atomic<qint64> *progress = nullptr);

// Writes all of data, going on after a short write, so that a failure leaves
// the system's reason in the device instead of "Unknown error".
bool writeFully(QIODevice &device, const char *data, qint64 size);

// The device's reason for its last failure; where the device has none of its
// own, the system's text for errorCode.
QString failureText(const QIODevice &device, int errorCode);

// Forces what was written to the file onto the disk. False on failure.
bool syncFile(QFileDevice &file);
// Forces the folder's entries (a file just created) onto the disk, where the
// system needs that asked separately. False on failure.
bool syncFolder(const QString &folder);
