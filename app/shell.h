#pragma once

#include <QLocale>
#include <QString>

#include "app/language.h"

// The program's catalogue of a language (":/res/KorvelDAQ_zh_CN.qm" or
// ":/res/KorvelDAQ_en.qm").
QString languageCatalogue(Language language);

// Root of the maker's web site that matches the locale's language.
QString websiteAddress(const QLocale &locale);
