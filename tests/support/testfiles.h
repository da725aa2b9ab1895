#pragma once

#include <QByteArray>
#include <QString>

// Whole-file reads and writes for the tests' own checks.

// The file's bytes, or "<missing>" when it cannot be read, so that a
// comparison with expected bytes fails visibly.
QByteArray readFile(const QString &name);

bool writeFile(const QString &name, const QByteArray &bytes);
