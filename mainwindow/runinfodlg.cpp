#include "mainwindow/runinfodlg.h"
#include "mainwindow/refusedfield.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>

#include "acquisition/blockmath.h"
#include "ui_runinfodlg.h"

namespace {

constexpr int figureCount = 3;

std::optional<double> RunInfo::*const figures[figureCount] = {&RunInfo::ratedVoltage,
                                                              &RunInfo::capacitance, &RunInfo::esr};

} // namespace

RunInfoDlg::RunInfoDlg(const RunInfo &current, QWidget *parent)
    : QDialog(parent), ui(new Ui_RunInfoDlg), accepted(current)
{
    ui->setupUi(this);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    ui->edit_operator->setText(current.operatorName);
    ui->edit_sample->setText(current.sample);
    ui->edit_notes->setPlainText(current.notes);
    QLineEdit *const edits[figureCount] = {ui->edit_ratedVoltage, ui->edit_capacitance,
                                           ui->edit_esr};
    for (int k = 0; k < figureCount; ++k) {
        const std::optional<double> &value = current.*figures[k];
        edits[k]->setText(value ? locale.toString(*value, 'g', 15) : QString());
        QLineEdit *edit = edits[k];
        connect(edit, &QLineEdit::textChanged, this, [this, edit] {
            edit->setPalette(QPalette());
            ui->label_refusal->clear();
        });
    }
    QPalette refusal = ui->label_refusal->palette();
    refusal.setColor(QPalette::WindowText, QColor(180, 0, 0));
    ui->label_refusal->setPalette(refusal);
    // OK judges the figures first; the dialog stays open on a refusal.
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &RunInfoDlg::tryAccept);
}

RunInfoDlg::~RunInfoDlg()
{
    delete ui;
}

void RunInfoDlg::tryAccept()
{
    RunInfo info;
    info.operatorName = ui->edit_operator->text().trimmed();
    info.sample = ui->edit_sample->text().trimmed();
    info.notes = ui->edit_notes->toPlainText();
    QLineEdit *const edits[figureCount] = {ui->edit_ratedVoltage, ui->edit_capacitance,
                                           ui->edit_esr};
    for (int k = 0; k < figureCount; ++k) {
        QLineEdit *edit = edits[k];
        if (edit->text().trimmed().isEmpty())
            continue;
        const std::optional<double> value = parseTemperatureLimit(edit->text(), QLocale());
        if (value && *value > 0) {
            info.*figures[k] = value;
            continue;
        }
        markRefusedField(edit);
        const QString name = qobject_cast<QLabel *>(ui->form->labelForField(edit))->text();
        const QString why = value ? tr("必须大于 0，或留空") : tr("请输入一个数字，或留空");
        ui->label_refusal->setText(tr("%1：%2。").arg(name, why));
        return;
    }
    accepted = info;
    accept();
}

QString RunInfoDlg::refusalText() const
{
    return ui->label_refusal->text();
}
