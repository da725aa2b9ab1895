#include "mainwindow/limitsdlg.h"
#include "mainwindow/refusedfield.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <cmath>

#include "acquisition/blockmath.h"
#include "datafiles/recordings.h"
#include "ui_limitsdlg.h"

namespace {

// The channels' names in the form and in the settings file.
const char *const rowNames[LimitChannelCount] = {"u1", "i", "t", "u2", "p"};
const char *const fieldNames[LimitFieldCount] = {"low", "high", "deadband", "delay"};
const char *const actionNames[4] = {"show", "sound", "mark", "stop"};
const char *const fileChannels[LimitChannelCount] = {"U1", "I", "T", "U2", "P"};
constexpr unsigned allActions = Limit::Show | Limit::Sound | Limit::Mark | Limit::Stop;

std::optional<double> fieldValue(const Limit &limit, int field)
{
    switch (field) {
    case LimitLowField: return limit.low;
    case LimitHighField: return limit.high;
    case LimitDeadbandField: return limit.deadband;
    default: return limit.delay;
    }
}

void setFieldValue(Limit &limit, int field, std::optional<double> value)
{
    switch (field) {
    case LimitLowField: limit.low = value; break;
    case LimitHighField: limit.high = value; break;
    case LimitDeadbandField: limit.deadband = value.value_or(0); break;
    default: limit.delay = value.value_or(0); break;
    }
}

} // namespace

LimitRefusal refusedLimit(const LimitSettings &limits)
{
    for (int row = 0; row < LimitChannelCount; ++row) {
        const Limit &limit = limits[std::size_t(row)];
        const LimitProblem problem = checkLimit(limit);
        switch (problem) {
        case LimitProblem::None: continue;
        case LimitProblem::NotFinite:
            for (int f = 0; f < LimitFieldCount; ++f) {
                const std::optional<double> v = fieldValue(limit, f);
                if (v && !std::isfinite(*v))
                    return {row, f, problem};
            }
            break;
        case LimitProblem::LowNotBelowHigh: return {row, LimitLowField, problem};
        case LimitProblem::DeadbandTooLarge: return {row, LimitDeadbandField, problem};
        case LimitProblem::NegativeDelay: return {row, LimitDelayField, problem};
        }
    }
    return {};
}

LimitSettings savedLimits()
{
    QSettings file = programSettings();
    file.beginGroup(QStringLiteral("limits"));
    LimitSettings limits;
    for (int c = 0; c < LimitChannelCount; ++c) {
        file.beginGroup(QLatin1String(fileChannels[c]));
        Limit &limit = limits[std::size_t(c)];
        for (int f = 0; f < LimitFieldCount; ++f) {
            bool ok = false;
            const double value = file.value(QLatin1String(fieldNames[f])).toString().toDouble(&ok);
            if (ok)
                setFieldValue(limit, f, value);
        }
        bool ok = false;
        const uint actions = file.value(QStringLiteral("actions")).toString().toUInt(&ok);
        if (ok)
            limit.actions = actions & allActions;
        file.endGroup();
        // An edited file's refused limit is none at all, not half of one.
        if (checkLimit(limit) != LimitProblem::None)
            limit = Limit();
    }
    return limits;
}

void saveLimits(const LimitSettings &limits)
{
    QSettings file = programSettings();
    file.beginGroup(QStringLiteral("limits"));
    for (int c = 0; c < LimitChannelCount; ++c) {
        file.beginGroup(QLatin1String(fileChannels[c]));
        const Limit &limit = limits[std::size_t(c)];
        for (int f = 0; f < LimitFieldCount; ++f) {
            const std::optional<double> value = fieldValue(limit, f);
            file.setValue(QLatin1String(fieldNames[f]),
                          value ? QString::number(*value, 'g', 17) : QString());
        }
        file.setValue(QStringLiteral("actions"), QString::number(limit.actions));
        file.endGroup();
    }
}

QString limitChannelName(int channel)
{
    if (channel == LimitPower)
        return QCoreApplication::translate("LimitsDlg", "功率");
    return QLatin1String(fileChannels[channel]);
}

QString limitUnit(int channel)
{
    static const char *const units[LimitChannelCount] = {"V", "A", "\u00B0C", "V", "W"};
    return QString::fromUtf8(units[channel]);
}

LimitsDlg::LimitsDlg(const LimitSettings &current, QWidget *parent)
    : QDialog(parent), ui(new Ui_LimitsDlg), accepted(current)
{
    ui->setupUi(this);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    for (int c = 0; c < LimitChannelCount; ++c) {
        const Limit &limit = current[std::size_t(c)];
        for (int f = 0; f < LimitFieldCount; ++f) {
            QLineEdit *edit = findChild<QLineEdit *>(
                QStringLiteral("edit_%1_%2")
                    .arg(QLatin1String(fieldNames[f]), QLatin1String(rowNames[c])));
            edits[c][f] = edit;
            const std::optional<double> value = fieldValue(limit, f);
            edit->setText(value ? locale.toString(*value, 'g', 15) : QString());
            connect(edit, &QLineEdit::textChanged, this, [this, edit] {
                edit->setPalette(QPalette());
                ui->label_refusal->clear();
            });
        }
        for (int a = 0; a < 4; ++a) {
            boxes[c][a] = findChild<QCheckBox *>(
                QStringLiteral("check_%1_%2")
                    .arg(QLatin1String(actionNames[a]), QLatin1String(rowNames[c])));
            boxes[c][a]->setChecked(limit.actions & (1u << a));
        }
    }
    QPalette refusal = ui->label_refusal->palette();
    refusal.setColor(QPalette::WindowText, QColor(180, 0, 0));
    ui->label_refusal->setPalette(refusal);
    // OK judges the rows first; the dialog stays open on a refusal.
    disconnect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &LimitsDlg::tryAccept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

LimitsDlg::~LimitsDlg()
{
    delete ui;
}

void LimitsDlg::tryAccept()
{
    LimitSettings typed;
    LimitRefusal refused;
    for (int c = 0; c < LimitChannelCount; ++c) {
        Limit &limit = typed[std::size_t(c)];
        limit.actions = 0;
        for (int a = 0; a < 4; ++a)
            limit.actions |= boxes[c][a]->isChecked() ? 1u << a : 0u;
        for (int f = 0; f < LimitFieldCount; ++f) {
            const QString text = edits[c][f]->text().trimmed();
            if (text.isEmpty()) {
                setFieldValue(limit, f, std::nullopt); // no limit, or zero
                continue;
            }
            const std::optional<double> value = parseTemperatureLimit(text, QLocale());
            if (!value && refused.row < 0)
                refused = {c, f, LimitProblem::NotFinite};
            setFieldValue(limit, f, value.value_or(0));
        }
    }
    if (refused.row < 0)
        refused = refusedLimit(typed);
    if (refused.row < 0) {
        accepted = typed;
        accept();
        return;
    }
    refuse(refused, typed);
}

void LimitsDlg::refuse(const LimitRefusal &refused, const LimitSettings &typed)
{
    QLineEdit *edit = edits[refused.row][refused.field];
    markRefusedField(edit);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const Limit &limit = typed[std::size_t(refused.row)];
    QString why;
    switch (refused.problem) {
    case LimitProblem::None: break;
    case LimitProblem::NotFinite:
        why = refused.field <= LimitHighField ? tr("请输入一个数字，或留空表示不设此限值")
                                              : tr("请输入一个数字");
        break;
    case LimitProblem::LowNotBelowHigh:
        why = tr("必须低于上限 %1").arg(locale.toString(limit.high.value_or(0)));
        break;
    case LimitProblem::DeadbandTooLarge:
        why = limit.deadband < 0
                  ? tr("不能小于 0")
                  : tr("不能大于上限与下限之差 %1")
                        .arg(locale.toString(limit.high.value_or(0) - limit.low.value_or(0)));
        break;
    case LimitProblem::NegativeDelay: why = tr("不能小于 0"); break;
    }
    const auto label = [this](const char *name) {
        return findChild<QLabel *>(QLatin1String("label_") + QLatin1String(name))->text();
    };
    ui->label_refusal->setText(
        tr("%1 的%2：%3。")
            .arg(label(rowNames[refused.row]), label(fieldNames[refused.field]), why));
}

QString LimitsDlg::refusalText() const
{
    return ui->label_refusal->text();
}
