#pragma once

#include <QColor>
#include <QLineEdit>
#include <QPalette>

// The base colour of a field whose text is refused, in every dialog.
inline const QColor refusedBase(255, 214, 214);

// Marks a dialog's refused field and puts the cursor there, its text selected.
inline void markRefusedField(QLineEdit *edit)
{
    QPalette marked = edit->palette();
    marked.setColor(QPalette::Base, refusedBase);
    edit->setPalette(marked);
    edit->setFocus();
    edit->selectAll();
}
