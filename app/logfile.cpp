#include "app/logfile.h"

#include <QCoreApplication>
#include <QFile>
#include <locale>
#ifdef _WIN32
#include <filesystem>
#endif

QString logPathBesideExecutable(const QString &fileName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
}

void openLogForAppend(std::ofstream &stream, const QString &path)
{
    // Binary mode: the CR LF is written by writeLogLine, the same bytes everywhere.
    const auto mode = std::ios::out | std::ios::app | std::ios::binary;
#ifdef _WIN32
    stream.open(std::filesystem::path(path.toStdWString()), mode);
#else
    stream.open(QFile::encodeName(path).constData(), mode);
#endif
    stream.imbue(std::locale::classic());
}

void writeLogLine(std::ofstream &stream, std::string_view text)
{
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.write("\r\n", 2);
    stream.flush();
}

void closeLog(std::ofstream &stream)
{
    if (stream.is_open())
        writeLogLine(stream, {});
    stream.close();
}
