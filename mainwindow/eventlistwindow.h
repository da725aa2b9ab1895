#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class LiveRun;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// A problem the window told the user during this session: when, the latest
// time held then (none before the first point) and the text shown.
struct ProblemRecord
{
    qint64 wallMs = 0;
    std::optional<double> time;
    QString text;
};

// The markers, the limit alarms and the problems of this session in one
// table, in time order. Markers are edited in place (text, and the time as a
// number in the interface's locale) and deleted; selecting a row with a time
// asks for the plot to centre on it. Follows the run's notes as they change.
// A tool window beside the plot, not modal. GUI thread only.
class EventListWindow : public QWidget
{
    Q_OBJECT

public:
    enum Column { TimeColumn, WallColumn, KindColumn, TextColumn, ColumnCount };

    EventListWindow(LiveRun &run, QWidget *parent);

    // Kept for the session: a clear keeps them, as they concern the program.
    void addProblem(const QString &text);
    const std::vector<ProblemRecord> &problems() const { return problemList; }

    // The table again from the run's notes and the problems.
    void refill();
    void retranslate();
    // The selected marker goes; false if the selection holds none.
    bool removeSelectedMarker();
    // The last refusal of an edit, empty when the last edit was taken.
    QString refusalText() const;

    QTableWidget *table() const { return grid; }
    QPushButton *deleteButton() const { return removeButton; }

    // A marker's text as the list shows it: whole, control characters as
    // their visible symbols, markup as typed.
    static QString shownText(const QString &text);

signals:
    // The user selected a row with this time on the axis.
    void timeSelected(double time);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Kind { Marker, Alarm, Problem };
    struct Entry
    {
        Kind kind;
        int index; // in the run's markers or alarms, or the problems
        std::optional<double> time;
    };

    void fillRow(int row);
    void fillHeader();
    void fitRowHeights();
    void itemEdited(QTableWidgetItem *item);
    void selectionChanged();
    void refuse(const QString &why);
    int selectedRow() const;

    LiveRun &run;
    QTableWidget *grid;
    QLabel *refusalLine;
    QPushButton *removeButton;
    std::vector<Entry> entries;
    std::vector<ProblemRecord> problemList;
};
