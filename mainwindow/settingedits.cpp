// The edits that set the block processing: the temperature limits and the
// sampling frequency. A value is put in force when its editing is finished
// (Enter, or the focus leaves), and only if it is accepted; a refused text
// stays in its field, marked, with a hint, and the value before stays in force.

#include "mainwindow/mainwindow.h"
#include "mainwindow/refusedfield.h"

#include <QLineEdit>
#include <QPalette>
#include <QToolTip>
#include <cmath>
#include <qcustomplot.h>

#include "acquisition/blockmath.h"
#include "acquisition/liverun.h"
#include "ui_mainwindow.h"

namespace {

// Background of a field whose text is not in force.

// Whether the plot can show the mapped temperature of every input within
// ±10 V: its ranges end at QCPRange::maxRange, which a fit also needs for
// the span, and the readout shows ten times the value.
bool temperatureScaleShowable(double minTemp, double maxTemp)
{
    const TemperatureScale scale = temperatureScale(minTemp, maxTemp);
    const double limit = QCPRange::maxRange / 10;
    return std::abs(scaleT(-10, scale)) < limit && std::abs(scaleT(10, scale)) < limit;
}

} // namespace

// Both limits as typed are tried together, so that a pair that is valid once
// both are typed goes into force whichever was finished last.
void MainWindow::applyTemperatureLimits(QLineEdit *edited)
{
    const QLocale locale;
    const double minTemp = run->minTemp(), maxTemp = run->maxTemp();
    const std::optional<double> typedMin = parseTemperatureLimit(ui->edit_mintemp->text(), locale);
    const std::optional<double> typedMax = parseTemperatureLimit(ui->edit_maxtemp->text(), locale);
    const double newMin = typedMin.value_or(minTemp);
    const double newMax = typedMax.value_or(maxTemp);

    const bool finite = temperatureScaleFinite(newMin, newMax);
    if (newMin < newMax && finite && temperatureScaleShowable(newMin, newMax)) {
        run->setTemperatureLimits(newMin, newMax);
        setRefusal(ui->edit_mintemp, typedMin ? Refusal::None : Refusal::NotANumber,
                   edited == ui->edit_mintemp);
        setRefusal(ui->edit_maxtemp, typedMax ? Refusal::None : Refusal::NotANumber,
                   edited == ui->edit_maxtemp);
        return;
    }
    // The order is wrong, or the range too wide for the numbers or the plot:
    // the field just finished is refused, nothing changes.
    const bool minEdited = edited == ui->edit_mintemp;
    const bool typed = minEdited ? typedMin.has_value() : typedMax.has_value();
    setRefusal(edited,
               !typed ? Refusal::NotANumber
               : !(newMin < newMax)
                   ? (minEdited ? Refusal::MinNotBelowMax : Refusal::MaxNotAboveMin)
               : !finite ? Refusal::RangeTooWide
                         : Refusal::BeyondPlot,
               true);
}

void MainWindow::on_edit_maxtemp_editingFinished()
{
    applyTemperatureLimits(ui->edit_maxtemp);
}

void MainWindow::on_edit_mintemp_editingFinished()
{
    applyTemperatureLimits(ui->edit_mintemp);
}

void MainWindow::on_edit_sample_editingFinished()
{
    const int rate = acceptedSampleRate(ui->edit_sample->text());
    if (rate != 0)
        run->setKeepEvery(keepInterval(QString::number(rate)));
    setRefusal(ui->edit_sample, rate != 0 ? Refusal::None : Refusal::NotASampleRate, true);
}

// Typing again takes the mark away; the text is judged when editing ends.
void MainWindow::on_edit_maxtemp_textChanged(QString)
{
    setRefusal(ui->edit_maxtemp, Refusal::None, false);
}

void MainWindow::on_edit_mintemp_textChanged(QString)
{
    setRefusal(ui->edit_mintemp, Refusal::None, false);
}

void MainWindow::on_edit_sample_textChanged(QString)
{
    setRefusal(ui->edit_sample, Refusal::None, false);
}

QString MainWindow::refusalHint(QLineEdit *edit, Refusal why) const
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator); // 3600, as typed
    const double minTemp = run->minTemp(), maxTemp = run->maxTemp();
    // The other limit as it stands in its field, the one the order was judged by.
    auto typedOr = [&](QLineEdit *field, double inForce) {
        return locale.toString(parseTemperatureLimit(field->text(), locale).value_or(inForce));
    };
    switch (why) {
    case Refusal::None: break;
    case Refusal::NotANumber:
        return tr("请输入一个数字（例如 %1）。仍使用 %2。")
            .arg(locale.toString(36.5),
                 locale.toString(edit == ui->edit_mintemp ? minTemp : maxTemp));
    case Refusal::MinNotBelowMax:
        return tr("最低温度必须低于最高温度 %1。仍使用 %2。")
            .arg(typedOr(ui->edit_maxtemp, maxTemp), locale.toString(minTemp));
    case Refusal::MaxNotAboveMin:
        return tr("最高温度必须高于最低温度 %1。仍使用 %2。")
            .arg(typedOr(ui->edit_mintemp, minTemp), locale.toString(maxTemp));
    case Refusal::RangeTooWide:
        return tr("温度范围太大，换算后的温度会溢出。仍使用 %1 到 %2。")
            .arg(locale.toString(minTemp), locale.toString(maxTemp));
    case Refusal::BeyondPlot:
        return tr("温度范围太大，换算后的温度超出图表能显示的范围。仍使用 %1 到 %2。")
            .arg(locale.toString(minTemp), locale.toString(maxTemp));
    case Refusal::NotASampleRate:
        return tr("采样频率只能是 1、10、100 或 1000。仍使用 %1。")
            .arg(locale.toString(1000 / run->keepEvery()));
    }
    return {};
}

// Marks the field (background, tool tip) or takes the mark away; tellNow also
// shows the hint at the field and in the status bar.
void MainWindow::setRefusal(QLineEdit *edit, Refusal why, bool tellNow)
{
    Refusal &state = edit == ui->edit_mintemp   ? minTempRefusal
                     : edit == ui->edit_maxtemp ? maxTempRefusal
                                                : sampleRefusal;
    const bool wasRefused = state != Refusal::None;
    state = why;
    QString &shownHint = hintShown[edit];
    if (why == Refusal::None) {
        // Accepted, or typed again: the field's hint in the status bar is over.
        if (!shownHint.isEmpty() && ui->statusbar->currentMessage() == shownHint)
            ui->statusbar->clearMessage();
        shownHint.clear();
        if (!wasRefused)
            return;
        edit->setPalette(QPalette());
        // The sampling field's own tip lists the accepted values.
        edit->setToolTip(edit == ui->edit_sample ? tr("1,10,100,1000") : QString());
        return;
    }
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, refusedBase);
    edit->setPalette(palette);
    const QString hint = refusalHint(edit, why);
    edit->setToolTip(hint);
    if (tellNow) {
        ui->statusbar->showMessage(hint);
        shownHint = hint;
        // Beside the field, over the plot's margin: the next field stays free.
        if (edit->isVisible())
            QToolTip::showText(edit->mapToGlobal(QPoint(edit->width(), 0)), hint, edit);
    }
}

// After a language switch: the hints again, in the new language.
void MainWindow::showRefusals()
{
    setRefusal(ui->edit_mintemp, minTempRefusal, false);
    setRefusal(ui->edit_maxtemp, maxTempRefusal, false);
    setRefusal(ui->edit_sample, sampleRefusal, false);
}
