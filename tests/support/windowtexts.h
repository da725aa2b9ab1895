#pragma once

#include <QString>
#include <QStringList>

class MainWindow;
class QLineEdit;

// What the window tells the user, read as the user sees it, and typing into
// its fields as the user does.

// Texts of the messages the window shows, which are then closed. They must
// not be modal: a modal box would hold up acquisition while it waits. File
// names and card texts in them must never be taken for markup.
QStringList takeMessages(MainWindow &w);

// The recording figures at the right of the status bar.
QString recordingStatus(MainWindow &w);

// The status bar's message.
QString statusMessage(MainWindow &w);

// Types text into a field and finishes with Enter, which puts it in force.
void enterText(QLineEdit *edit, const QString &text);
