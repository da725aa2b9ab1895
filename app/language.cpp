#include "app/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <vector>

#include "app/shell.h"

namespace {

Language current = Language::Chinese;
std::vector<std::unique_ptr<QTranslator>> installed;

void install(std::unique_ptr<QTranslator> translator)
{
    QCoreApplication::installTranslator(translator.get());
    installed.push_back(std::move(translator));
}

} // namespace

Language languageForLocale(const QLocale &locale)
{
    return locale.language() == QLocale::Chinese ? Language::Chinese : Language::English;
}

// Qt's translations folder of the installation (Debian: qt6-translations-l10n),
// then "translations" beside the executable, where the Windows deployment
// tool puts them. qtbase_* holds the widgets' texts; qt_* is the file the
// deployment tool combines from the modules it deploys.
QString qtCatalogue(Language language)
{
    if (language == Language::English)
        return {};
    const QStringList folders = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                 QCoreApplication::applicationDirPath() +
                                     QStringLiteral("/translations")};
    for (const QString &folder : folders) {
        for (const char *name : {"qtbase_zh_CN.qm", "qt_zh_CN.qm"}) {
            const QString path = QDir(folder).filePath(QLatin1String(name));
            if (!folder.isEmpty() && QFileInfo::exists(path))
                return path;
        }
    }
    return {};
}

bool setInterfaceLanguage(Language language)
{
    resetInterfaceLanguage();
    // Qt's first, so that the program's own catalogue is asked before it.
    const QString qtFile = qtCatalogue(language);
    if (!qtFile.isEmpty()) {
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(qtFile))
            install(std::move(qt));
    }
    auto translator = std::make_unique<QTranslator>();
    const bool loaded = translator->load(languageCatalogue(language));
    install(std::move(translator));
    current = language;
    return loaded;
}

Language interfaceLanguage()
{
    return current;
}

Language otherLanguage(Language language)
{
    return language == Language::Chinese ? Language::English : Language::Chinese;
}

void resetInterfaceLanguage()
{
    for (const auto &translator : installed)
        QCoreApplication::removeTranslator(translator.get());
    installed.clear();
    current = Language::Chinese;
}
