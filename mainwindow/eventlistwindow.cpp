#include "mainwindow/eventlistwindow.h"

#include <QAbstractItemDelegate>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "acquisition/blockmath.h"
#include "acquisition/liverun.h"

namespace {

const char *const channelNames[] = {"U1", "I", "T", "U2", "P"};
const char *const channelUnits[] = {"V", "A", "°C", "V", "W"};

QLocale shownLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

QString timeText(double time)
{
    return shownLocale().toString(time, 'f', 3);
}

QString valueText(double value, int channel)
{
    return shownLocale().toString(value, 'g', 6) + QLatin1Char(' ') +
           QString::fromUtf8(channelUnits[channel]);
}

// The list's symbols for control characters back to the characters, for a
// text the user changed.
QString storedText(const QString &shown)
{
    QString text = shown;
    for (QChar &c : text) {
        if (c.unicode() >= 0x2400 && c.unicode() < 0x2420)
            c = QChar(ushort(c.unicode() - 0x2400));
        else if (c.unicode() == 0x2421)
            c = QChar(0x7F);
    }
    return text;
}

// Whether a cell's editor is open, which the view keeps to itself.
class EventTable : public QTableWidget
{
public:
    bool editing() const { return state() == EditingState; }
};

bool editing(const QTableWidget *grid)
{
    return static_cast<const EventTable *>(grid)->editing();
}

} // namespace

EventListWindow::EventListWindow(LiveRun &liveRun, QWidget *parent)
    : QWidget(parent, Qt::Tool), run(liveRun), grid(new EventTable), refusalLine(new QLabel),
      removeButton(new QPushButton)
{
    setObjectName(QStringLiteral("eventListWindow"));
    grid->setObjectName(QStringLiteral("eventTable"));
    grid->setColumnCount(ColumnCount);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    // Whole texts: the plot cuts long ones short, the list does not.
    grid->setTextElideMode(Qt::ElideNone);
    grid->setWordWrap(true);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->installEventFilter(this);
    refusalLine->setObjectName(QStringLiteral("eventRefusal"));
    refusalLine->setTextFormat(Qt::PlainText);
    refusalLine->setWordWrap(true);
    QPalette refusal = refusalLine->palette();
    refusal.setColor(QPalette::WindowText, QColor(180, 0, 0));
    refusalLine->setPalette(refusal);
    removeButton->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(refusalLine, 1);
    buttons->addWidget(removeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(grid, 1);
    layout->addLayout(buttons);

    connect(grid, &QTableWidget::itemChanged, this, &EventListWindow::itemEdited);
    connect(grid, &QTableWidget::itemSelectionChanged, this, &EventListWindow::selectionChanged);
    connect(removeButton, &QPushButton::clicked, this, &EventListWindow::removeSelectedMarker);
    // A change that came while a cell was edited waited: the rows stayed
    // where the editor writes.
    connect(grid->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        QMetaObject::invokeMethod(this, &EventListWindow::refill, Qt::QueuedConnection);
    });
    // The texts wrap in the width the window gives them, whole.
    connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
        if (column == TextColumn)
            QMetaObject::invokeMethod(this, &EventListWindow::fitRowHeights, Qt::QueuedConnection);
    });
    connect(&run, &LiveRun::notesChanged, this, [this] {
        if (isVisible())
            refill();
    });

    resize(600, 380);
    retranslate();
}

void EventListWindow::retranslate()
{
    setWindowTitle(tr("标记与事件"));
    removeButton->setText(tr("删除标记"));
    fillHeader();
    refill();
}

void EventListWindow::fillHeader()
{
    grid->setHorizontalHeaderLabels({tr("时间 (s)"), tr("时刻"), tr("类别"), tr("内容")});
}

QString EventListWindow::shownText(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(ushort(0x2400 + c.unicode()));
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
        else if (c.category() == QChar::Other_Control)
            c = QChar(0xFFFD);
    }
    return shown;
}

void EventListWindow::addProblem(const QString &text)
{
    problemList.push_back({QDateTime::currentMSecsSinceEpoch(), run.store().lastKey(), text});
    if (isVisible())
        refill();
}

void EventListWindow::refill()
{
    if (editing(grid))
        return; // when the editor closes
    // The selection stays on its entry where it is still there.
    const int selected = selectedRow();
    std::optional<Entry> before;
    QString beforeText;
    if (selected >= 0) {
        before = entries[std::size_t(selected)];
        beforeText = grid->item(selected, TextColumn)->text();
    }

    const RunNotes &notes = run.notes();
    entries.clear();
    for (int k = 0; k < int(notes.markers.size()); ++k)
        entries.push_back({Kind::Marker, k, notes.markers[std::size_t(k)].time});
    for (int k = 0; k < int(notes.alarms.size()); ++k)
        entries.push_back({Kind::Alarm, k, notes.alarms[std::size_t(k)].time});
    for (int k = 0; k < int(problemList.size()); ++k)
        entries.push_back({Kind::Problem, k, problemList[std::size_t(k)].time});
    // Problems before the first point come first.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.time.value_or(-HUGE_VAL) < b.time.value_or(-HUGE_VAL);
    });

    const QSignalBlocker quiet(grid);
    grid->setRowCount(int(entries.size()));
    int reselect = -1;
    for (int row = 0; row < int(entries.size()); ++row) {
        fillRow(row);
        const Entry &e = entries[std::size_t(row)];
        if (before && reselect < 0 && e.kind == before->kind && e.time == before->time &&
            grid->item(row, TextColumn)->text() == beforeText)
            reselect = row;
    }
    if (reselect >= 0)
        grid->selectRow(reselect);
    else
        grid->clearSelection();
    for (int column = 0; column < TextColumn; ++column)
        grid->resizeColumnToContents(column);
    fitRowHeights();
    removeButton->setEnabled(reselect >= 0 && entries[std::size_t(reselect)].kind == Kind::Marker);
}

void EventListWindow::fillRow(int row)
{
    const Entry &e = entries[std::size_t(row)];
    QString texts[ColumnCount];
    texts[TimeColumn] = e.time ? timeText(*e.time) : QStringLiteral("—");
    std::optional<qint64> wallMs;
    QString tip;
    switch (e.kind) {
    case Kind::Marker:
        texts[KindColumn] = tr("标记");
        texts[TextColumn] = shownText(run.notes().markers[std::size_t(e.index)].text);
        break;
    case Kind::Alarm: {
        const AlarmRecord &a = run.notes().alarms[std::size_t(e.index)];
        const int channel = std::clamp(a.channel, 0, 4);
        const QString name = QString::fromLatin1(channelNames[channel]);
        wallMs = a.wallMs;
        switch (a.change) {
        case AlarmRecord::High:
            texts[KindColumn] = tr("报警");
            texts[TextColumn] =
                tr("%1 高于上限 %2：%3")
                    .arg(name, valueText(a.limit, channel), valueText(a.value, channel));
            break;
        case AlarmRecord::Low:
            texts[KindColumn] = tr("报警");
            texts[TextColumn] =
                tr("%1 低于下限 %2：%3")
                    .arg(name, valueText(a.limit, channel), valueText(a.value, channel));
            break;
        case AlarmRecord::Normal:
            texts[KindColumn] = tr("恢复正常");
            texts[TextColumn] = tr("%1 回到限值以内：%2").arg(name, valueText(a.value, channel));
            break;
        case AlarmRecord::Acknowledged:
            texts[KindColumn] = tr("已确认");
            texts[TextColumn] = tr("%1 的报警已确认").arg(name);
            break;
        }
        break;
    }
    case Kind::Problem: {
        const ProblemRecord &p = problemList[std::size_t(e.index)];
        wallMs = p.wallMs;
        texts[KindColumn] = tr("问题");
        // In one line, as the status bar shows it; whole in the tool tip.
        texts[TextColumn] = QString(p.text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        tip = p.text;
        break;
    }
    }
    texts[WallColumn] = wallMs ? QDateTime::fromMSecsSinceEpoch(*wallMs).toString(
                                     QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                               : QStringLiteral("—");

    for (int column = 0; column < ColumnCount; ++column) {
        QTableWidgetItem *item = grid->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            grid->setItem(row, column, item);
        }
        item->setText(texts[column]);
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        if (e.kind == Kind::Marker && (column == TimeColumn || column == TextColumn))
            flags |= Qt::ItemIsEditable;
        item->setFlags(flags);
        item->setTextAlignment(column == TimeColumn ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter);
        item->setToolTip(column != TextColumn ? QString() : tip.isEmpty() ? texts[column] : tip);
    }
}

// Each row as high as its text needs in the text column's width, wrapped
// at words or anywhere. Measured a little narrower than the cell: a line more
// than measured would be cut, a line less only leaves room.
void EventListWindow::fitRowHeights()
{
    const int margin =
        2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 4;
    const int width = std::max(1, (grid->columnWidth(TextColumn) - margin) * 15 / 16);
    const QFontMetrics metrics(grid->font());
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QRect needed = metrics.boundingRect(
            QRect(0, 0, width, 1 << 20), Qt::TextWordWrap | Qt::TextWrapAnywhere | Qt::AlignLeft,
            grid->item(row, TextColumn)->text());
        grid->setRowHeight(row, std::max(needed.height(), metrics.height()) + 6);
    }
}

// Only the user's edits arrive: the list fills its cells with the signals blocked.
void EventListWindow::itemEdited(QTableWidgetItem *item)
{
    const int row = item->row();
    if (row < 0 || row >= int(entries.size()) || entries[std::size_t(row)].kind != Kind::Marker)
        return;
    const int index = entries[std::size_t(row)].index;
    const Marker old = run.notes().markers[std::size_t(index)];
    Marker changed = old;
    if (item->column() == TimeColumn) {
        if (item->text() != timeText(old.time)) {
            const std::optional<double> time = parseTemperatureLimit(item->text(), QLocale());
            if (!time) {
                refuse(tr("标记的时间须是一个数字（秒），例如 %1。").arg(timeText(old.time)));
                const QSignalBlocker quiet(grid);
                fillRow(row);
                return;
            }
            changed.time = *time;
        }
    } else if (item->column() == TextColumn) {
        if (item->text() != shownText(old.text))
            changed.text = storedText(item->text());
    }
    refusalLine->clear();
    if (changed == old) {
        const QSignalBlocker quiet(grid);
        fillRow(row); // as it was shown
        return;
    }
    run.changeMarker(index, changed); // notesChanged fills the list again
}

void EventListWindow::refuse(const QString &why)
{
    refusalLine->setText(why);
}

QString EventListWindow::refusalText() const
{
    return refusalLine->text();
}

int EventListWindow::selectedRow() const
{
    const QList<QTableWidgetItem *> selected = grid->selectedItems();
    return selected.isEmpty() ? -1 : selected.constFirst()->row();
}

void EventListWindow::selectionChanged()
{
    const int row = selectedRow();
    const bool any = row >= 0 && row < int(entries.size());
    removeButton->setEnabled(any && entries[std::size_t(row)].kind == Kind::Marker);
    if (any && entries[std::size_t(row)].time)
        emit timeSelected(*entries[std::size_t(row)].time);
}

bool EventListWindow::removeSelectedMarker()
{
    const int row = selectedRow();
    if (row < 0 || row >= int(entries.size()) || entries[std::size_t(row)].kind != Kind::Marker)
        return false;
    refusalLine->clear();
    run.removeMarker(entries[std::size_t(row)].index);
    return true;
}

// Delete in the table removes the selected marker, unless a cell is edited.
bool EventListWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The text column's width follows the table's, after the table's own layout.
    if (watched == grid && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        QMetaObject::invokeMethod(this, &EventListWindow::fitRowHeights, Qt::QueuedConnection);
    if (watched == grid && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete && !editing(grid) &&
        removeSelectedMarker())
        return true;
    return QWidget::eventFilter(watched, event);
}
