#include "mainwindow/cyclesettingsdlg.h"
#include "mainwindow/refusedfield.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <cmath>

#include "acquisition/blockmath.h"
#include "datafiles/recordings.h"
#include "ui_cyclesettingsdlg.h"

namespace {

constexpr int fieldCount = 11;

// The settings' numbers in the dialog's order.
double *numberField(CycleSettings &s, int index)
{
    double *const fields[fieldCount] = {&s.ratedVoltage,
                                        &s.upperFraction,
                                        &s.lowerFraction,
                                        &s.currentThreshold,
                                        &s.minPhaseSeconds,
                                        &s.fitDelay,
                                        &s.fitLength,
                                        &s.reboundDelay,
                                        nullptr,
                                        &s.capacitanceFadeLimit,
                                        &s.esrRiseLimit};
    return fields[index];
}

const char *const fieldKeys[fieldCount] = {
    "ratedVoltage", "upperFraction", "lowerFraction", "currentThreshold", "minPhaseSeconds",
    "fitDelay",     "fitLength",     "reboundDelay",  "referenceCycle",   "capacitanceFadeLimit",
    "esrRiseLimit"};

constexpr int referenceField = 8;
// Far beyond any recording, and exact as a double.
constexpr double largestCycle = 1e9;

} // namespace

std::pair<int, CycleSettingRefusal> refusedCycleSetting(const CycleSettings &s)
{
    CycleSettings copy = s;
    for (int k = 0; k < fieldCount; ++k) {
        const double *value = numberField(copy, k);
        if (value && !std::isfinite(*value))
            return {k, CycleSettingRefusal::NotANumber};
    }
    if (s.ratedVoltage < 0)
        return {0, CycleSettingRefusal::Negative};
    if (!(s.upperFraction > 0 && s.upperFraction < 1))
        return {1, CycleSettingRefusal::FractionOrder};
    if (!(s.lowerFraction > 0 && s.lowerFraction < s.upperFraction))
        return {2, CycleSettingRefusal::FractionOrder};
    if (s.currentThreshold < 0)
        return {3, CycleSettingRefusal::Negative};
    if (s.minPhaseSeconds < 0)
        return {4, CycleSettingRefusal::Negative};
    if (s.fitDelay < 0)
        return {5, CycleSettingRefusal::Negative};
    if (!(s.fitLength > 0))
        return {6, CycleSettingRefusal::NotPositive};
    if (s.reboundDelay < 0)
        return {7, CycleSettingRefusal::Negative};
    if (s.referenceCycle < 0)
        return {referenceField, CycleSettingRefusal::Negative};
    if (!(s.capacitanceFadeLimit > 0 && s.capacitanceFadeLimit < 100))
        return {9, CycleSettingRefusal::FadeRange};
    if (!(s.esrRiseLimit > 1))
        return {10, CycleSettingRefusal::RiseRange};
    return {-1, CycleSettingRefusal::None};
}

CycleSettings savedCycleSettings()
{
    QSettings file = programSettings();
    file.beginGroup(QStringLiteral("cycles"));
    CycleSettings s;
    for (int k = 0; k < fieldCount; ++k) {
        bool ok = false;
        const double value = file.value(QLatin1String(fieldKeys[k])).toString().toDouble(&ok);
        if (!ok)
            continue;
        if (double *field = numberField(s, k))
            *field = value;
        else if (value >= 0 && value <= largestCycle && value == std::floor(value))
            s.referenceCycle = int(value);
    }
    s.startWithDischarge = file.value(QStringLiteral("startWithDischarge")).toBool();
    // A refused value (an edited file) goes back to its default; both
    // fractions together, as they are judged together.
    CycleSettings defaults;
    for (int guard = 0; guard <= fieldCount; ++guard) {
        const int k = refusedCycleSetting(s).first;
        if (k < 0)
            break;
        if (k == 1 || k == 2) {
            s.upperFraction = defaults.upperFraction;
            s.lowerFraction = defaults.lowerFraction;
        } else if (double *field = numberField(s, k)) {
            *field = *numberField(defaults, k);
        } else {
            s.referenceCycle = defaults.referenceCycle;
        }
    }
    return s;
}

void saveCycleSettings(const CycleSettings &settings)
{
    QSettings file = programSettings();
    file.beginGroup(QStringLiteral("cycles"));
    CycleSettings s = settings;
    for (int k = 0; k < fieldCount; ++k) {
        const double *field = numberField(s, k);
        file.setValue(QLatin1String(fieldKeys[k]),
                      field ? QString::number(*field, 'g', 17) : QString::number(s.referenceCycle));
    }
    file.setValue(QStringLiteral("startWithDischarge"), s.startWithDischarge);
}

CycleSettingsDlg::CycleSettingsDlg(const CycleSettings &current, double ratedInForce,
                                   double thresholdInForce, QWidget *parent)
    : QDialog(parent), ui(new Ui_CycleSettingsDlg), accepted(current)
{
    ui->setupUi(this);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    CycleSettings s = current;
    for (int k = 0; k < fieldCount; ++k) {
        const double *value = numberField(s, k);
        field(k)->setText(value ? locale.toString(*value, 'g', 15)
                                : locale.toString(current.referenceCycle));
        connect(field(k), &QLineEdit::textChanged, this, [this, k] {
            field(k)->setPalette(QPalette());
            ui->label_refusal->clear();
        });
    }
    ui->radio_startDischarge->setChecked(current.startWithDischarge);
    ui->radio_startCharge->setChecked(!current.startWithDischarge);
    const auto inForce = [&locale](double value, const char *unit) {
        return value > 0
                   ? tr("当前使用 %1 %2").arg(locale.toString(value, 'g', 6), QLatin1String(unit))
                   : tr("当前尚未确定");
    };
    ui->label_ratedInForce->setText(inForce(ratedInForce, "V"));
    ui->label_thresholdInForce->setText(inForce(thresholdInForce, "A"));
    QPalette refusal = ui->label_refusal->palette();
    refusal.setColor(QPalette::WindowText, QColor(180, 0, 0));
    ui->label_refusal->setPalette(refusal);
    // OK judges the fields first; the dialog stays open on a refusal.
    disconnect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &CycleSettingsDlg::tryAccept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CycleSettingsDlg::~CycleSettingsDlg()
{
    delete ui;
}

QLineEdit *CycleSettingsDlg::field(int index) const
{
    QLineEdit *const fields[fieldCount] = {ui->edit_ratedVoltage,    ui->edit_upperFraction,
                                           ui->edit_lowerFraction,   ui->edit_currentThreshold,
                                           ui->edit_minPhaseSeconds, ui->edit_fitDelay,
                                           ui->edit_fitLength,       ui->edit_reboundDelay,
                                           ui->edit_referenceCycle,  ui->edit_capacitanceFadeLimit,
                                           ui->edit_esrRiseLimit};
    return fields[index];
}

void CycleSettingsDlg::tryAccept()
{
    CycleSettings s = accepted;
    std::pair<int, CycleSettingRefusal> refused{-1, CycleSettingRefusal::None};
    for (int k = 0; k < fieldCount && refused.first < 0; ++k) {
        const std::optional<double> value = parseTemperatureLimit(field(k)->text(), QLocale());
        if (!value || (k == referenceField &&
                       (*value != std::floor(*value) || std::abs(*value) > largestCycle)))
            refused = {k, CycleSettingRefusal::NotANumber};
        else if (double *number = numberField(s, k))
            *number = *value;
        else
            s.referenceCycle = int(*value);
    }
    s.startWithDischarge = ui->radio_startDischarge->isChecked();
    if (refused.first < 0)
        refused = refusedCycleSetting(s);
    if (refused.first < 0) {
        accepted = s;
        accept();
        return;
    }
    QLineEdit *edit = field(refused.first);
    markRefusedField(edit);
    const QString name = qobject_cast<QLabel *>(ui->form->labelForField(edit))->text();
    QString why;
    switch (refused.second) {
    case CycleSettingRefusal::None: break;
    case CycleSettingRefusal::NotANumber:
        why = refused.first == referenceField ? tr("请输入一个整数") : tr("请输入一个数字");
        break;
    case CycleSettingRefusal::Negative: why = tr("不能小于 0"); break;
    case CycleSettingRefusal::NotPositive: why = tr("必须大于 0"); break;
    case CycleSettingRefusal::FractionOrder: why = tr("须满足 0 < 下限 < 上限 < 1"); break;
    case CycleSettingRefusal::FadeRange: why = tr("须在 0 到 100 之间"); break;
    case CycleSettingRefusal::RiseRange: why = tr("须大于 1"); break;
    }
    ui->label_refusal->setText(tr("%1：%2。").arg(name, why));
}

QString CycleSettingsDlg::refusalText() const
{
    return ui->label_refusal->text();
}
