#include "app/aboutdlg.h"

#include "ui_aboutdlg.h"

namespace {

constexpr int margin = 40; // least room left and right of a widened label

// The label keeps its place while its text fits. A longer text (the company
// name in a wide font, the English lines) widens it, centred, and the dialog
// with it where needed, so that no line is cut.
void fitLabel(QDialog *dialog, QLabel *label)
{
    const QSize needed = label->sizeHint();
    const QRect place = label->geometry();
    if (needed.width() <= place.width() && needed.height() <= place.height())
        return;
    const QSize size = place.size().expandedTo(needed);
    const int dialogWidth = qMax(dialog->width(), size.width() + 2 * margin);
    label->setGeometry(QRect(QPoint((dialogWidth - size.width()) / 2, place.y()), size));
    dialog->resize(dialogWidth, qMax(dialog->height(), place.y() * 2 + size.height()));
}

} // namespace

AboutDlg::AboutDlg(QWidget *parent) : QDialog(parent), ui(new Ui_AboutDlg)
{
    ui->setupUi(this);
    fitLabel(this, ui->label);
}

AboutDlg::~AboutDlg()
{
    delete ui;
}
