#include "app/shell.h"

QString languageCatalogue(Language language)
{
    return language == Language::Chinese ? QStringLiteral(":/res/KorvelDAQ_zh_CN.qm")
                                         : QStringLiteral(":/res/KorvelDAQ_en.qm");
}

QString websiteAddress(const QLocale &locale)
{
    return locale.language() == QLocale::Chinese ? QStringLiteral("https://cn.korvel.example")
                                                 : QStringLiteral("https://www.korvel.example");
}
