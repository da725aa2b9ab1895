#include "windowtexts.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>

#include "mainwindow/mainwindow.h"

QStringList takeMessages(MainWindow &w)
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

QString recordingStatus(MainWindow &w)
{
    return w.findChild<QLabel *>(QStringLiteral("recordingStatus"))->text();
}

QString statusMessage(MainWindow &w)
{
    return w.findChild<QStatusBar *>(QStringLiteral("statusbar"))->currentMessage();
}

void enterText(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}
