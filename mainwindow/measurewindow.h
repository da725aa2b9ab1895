#pragma once

#include <QWidget>

#include <array>

#include "mainwindow/measurement.h"

class QTableWidget;

// The measurement table: a small tool window beside the plot, not modal,
// which the user can move. Shows the cursors' times, each shown channel's
// figures in a column and the rig's quantities; the same rows go to the
// clipboard as tab-separated text. GUI thread only.
class MeasureWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MeasureWindow(QWidget *parent);

    // The figures, for the channels shown (U1, I, T, U2).
    void setMeasurement(const Measurement &m, const std::array<bool, ChannelCount> &shown);
    // The texts in the language in force.
    void retranslate();
    // The last figures as a spreadsheet pastes them: numbers exact and with
    // a full stop whatever the locale.
    QString tabSeparated() const;

    QTableWidget *table() const { return grid; }

signals:
    // The user closed the window.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void fill();
    void fitSize();

    QTableWidget *grid;
    Measurement shownFigures{};
    std::array<bool, ChannelCount> shownChannels{};
    bool haveFigures = false;
};
