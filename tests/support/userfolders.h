#pragma once

#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

// Keeps what the program stores per user (recordings, settings, the file
// dialogs' last folder) out of the developer's own folders: on Linux the
// data and configuration homes point into a temporary folder that lives as
// long as the process and is passed on to child processes; elsewhere Qt's
// test locations are used. Call before the application object exists.
inline void keepOutOfUserFolders()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/korvel-test-home-XXXXXX"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
#else
    QStandardPaths::setTestModeEnabled(true);
#endif
}
