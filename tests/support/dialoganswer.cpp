#include "dialoganswer.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "mainwindow/filework.h"
#include "mainwindow/mainwindow.h"

DialogAnswer::DialogAnswer(QString fileName, QString filter)
    : fileName(std::move(fileName)), filter(std::move(filter))
{
    connect(&timer, &QTimer::timeout, this, &DialogAnswer::poll);
    timer.start(1);
}

void DialogAnswer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        if (dialog == answered)
            return; // answer still queued
        answered = dialog;
        ++dialogs;
        caption = dialog->windowTitle();
        filters = dialog->nameFilters();
        directory = dialog->directory().absolutePath();
        if (fileName.isNull()) {
            dialog->reject();
            return;
        }
        if (!filter.isEmpty()) { // chosen in the file type list, as a user does
            auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int k = 0; k < types->count() && types->currentText() != filter; ++k)
                QTest::keyClick(types, Qt::Key_Down);
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        // Queued: its "replace?" question must not run inside this timer.
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (qobject_cast<QFileDialog *>(box->parent()) && box->button(QMessageBox::Yes)) {
            box->button(QMessageBox::Yes)->click(); // the dialog's "replace?" question
        } else {
            ++otherBoxes;
            box->reject();
        }
    }
}

bool waitForFileWork(MainWindow &window)
{
    return QTest::qWaitFor([&window] { return !window.fileWork().busy(); }, 60000);
}
