#include "userfolders.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

void keepOutOfUserFolders()
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
