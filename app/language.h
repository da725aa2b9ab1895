#pragma once

#include <QLocale>
#include <QString>

// The interface language. The program's translators, and Qt's own for its
// dialogs and buttons, are installed and removed here only, so that a switch
// always takes the previous language out of force, whatever start-up chose.
// GUI thread only.

enum class Language { Chinese, English };

// Chinese for any Chinese locale (any script or territory), English otherwise.
Language languageForLocale(const QLocale &locale);

// Puts the catalogue of `language` in force in place of the one installed
// before, together with Qt's own translations of that language where they are
// found (Qt's texts are English, so English needs none). False if the
// program's catalogue did not load; it is installed all the same, and the
// texts fall back to the Chinese sources.
bool setInterfaceLanguage(Language language);

// The language most recently set; Chinese (the source texts) before any.
Language interfaceLanguage();

// The other language, the one a switch turns to.
Language otherLanguage(Language language);

// Takes the installed translators out of force and deletes them.
void resetInterfaceLanguage();

// The file of Qt's own translations that setInterfaceLanguage installs for
// `language`, or an empty text when there is none (English, or not installed).
QString qtCatalogue(Language language);
