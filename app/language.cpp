#include "app/language.h"

#include <QCoreApplication>
#include <QTranslator>

#include <memory>
#include <vector>

#include "app/shell.h"

namespace {

Language current = Language::Chinese;
std::vector<std::unique_ptr<QTranslator>> installed;

} // namespace

Language languageForLocale(const QLocale &locale)
{
    return locale.language() == QLocale::Chinese ? Language::Chinese : Language::English;
}

bool setInterfaceLanguage(Language language)
{
    resetInterfaceLanguage();
    auto translator = std::make_unique<QTranslator>();
    const bool loaded = translator->load(languageCatalogue(language));
    QCoreApplication::installTranslator(translator.get());
    installed.push_back(std::move(translator));
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
