#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole-file reads and writes for the tests' own checks.

// The file's bytes, or "<missing>" when it cannot be read, so that a
// comparison with expected bytes fails visibly.
inline QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
