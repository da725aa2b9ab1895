#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QTest>

#include "mainwindow/mainwindow.h"

// What the window tells the user, read as the user sees it, and typing into
// its fields as the user does.

// Texts of the messages the window shows, which are then closed. They must
// not be modal: a modal box would hold up acquisition while it waits. File
// names and card texts in them must never be taken for markup.
inline QStringList takeMessages(MainWindow &w)
{
    QStringList texts;
    for (QMessageBox *box : w.findChildren<QMessageBox *>()) {
        if (!box->isVisible())
            continue;
        texts << box->text();
        if (box->isModal() || box->windowModality() != Qt::NonModal)
            QTest::qFail(qPrintable(QStringLiteral("a modal message box: ") + box->text()),
                         __FILE__, __LINE__);
        if (box->textFormat() != Qt::PlainText)
            QTest::qFail(qPrintable(QStringLiteral("a message as rich text: ") + box->text()),
                         __FILE__, __LINE__);
        box->close();
    }
    return texts;
}

// The recording figures at the right of the status bar.
inline QString recordingStatus(MainWindow &w)
{
    return w.findChild<QLabel *>(QStringLiteral("recordingStatus"))->text();
}

// The status bar's message.
inline QString statusMessage(MainWindow &w)
{
    return w.findChild<QStatusBar *>(QStringLiteral("statusbar"))->currentMessage();
}

// Types text into a field and finishes with Enter, which puts it in force.
inline void enterText(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}
