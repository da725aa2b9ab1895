#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

// Answers the window's next file dialog with fileName, as a user typing the
// path would, and confirms replacing an existing file.
class DialogAnswer : public QObject
{
public:
    explicit DialogAnswer(QString fileName) : fileName(std::move(fileName))
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *dialog = qobject_cast<QFileDialog *>(modal); dialog && dialog != answered) {
                answered = dialog;
                dialog->findChild<QLineEdit *>("fileNameEdit")->setText(this->fileName);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                if (QAbstractButton *yes = box->button(QMessageBox::Yes))
                    yes->click();
            }
        });
        timer.start(1);
    }

private:
    QString fileName;
    QTimer timer;
    QPointer<QFileDialog> answered;
};
