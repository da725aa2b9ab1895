#pragma once

#include <QWidget>

#include <vector>

#include "acquisition/cycleanalysis.h"

class QCustomPlot;
class QLabel;
class QPushButton;
class QTableWidget;

// The cycle table: one row per cycle with its figures, the partial ones
// greyed, the reference marked, a missing figure "—" with its reason in the
// tool tip; below it the fade of capacitance, ESR and energy efficiency over
// the cycles against the reference and the end-of-life limits. A tool window
// beside the plot, not modal. Copies the table as tab-separated text and
// writes it as CSV, numbers exact with a full stop. GUI thread only.
class CycleWindow : public QWidget
{
    Q_OBJECT

public:
    explicit CycleWindow(QWidget *parent);

    // The cycles as the analysis has them now: rows that changed are filled
    // again, new ones appended; the selection stays on its cycle.
    void setCycles(std::vector<CycleResult> cycles, const CycleSettings &settings);
    const std::vector<CycleResult> &cycles() const { return shown; }
    // A line above the table (the analysis runs, cannot follow the points);
    // empty hides it.
    void setNotice(const QString &text);
    QString notice() const;
    void retranslate();

    // The whole table with its header line, as a spreadsheet pastes it.
    QString tabSeparated() const;
    // The same as CSV: commas, quoted where needed, CR LF line ends.
    QString commaSeparated() const;

    QTableWidget *table() const { return grid; }
    QCustomPlot *fadePlot() const { return fade; }

signals:
    // The user selected a cycle (null: none); zoom is false when the
    // selected row was only refreshed.
    void cycleSelected(const CycleResult *cycle, bool zoom);
    void settingsRequested();
    void exportRequested();
    // The table went to the clipboard.
    void copied();
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillRow(int row);
    void fillHeader();
    void drawFade();
    void selectionChanged();
    QStringList rowTexts(const CycleResult &cycle) const;
    QString separated(QChar separator) const;
    void copyTable();

    QTableWidget *grid;
    QCustomPlot *fade;
    QLabel *noticeLine;
    QPushButton *settingsButton;
    QPushButton *copyButton;
    QPushButton *exportButton;
    std::vector<CycleResult> shown;
    CycleSettings settingsShown;
    int selectedNumber = 0; // the cycle number selected, 0 none
};
