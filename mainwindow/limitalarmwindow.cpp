#include "mainwindow/limitalarmwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "mainwindow/limitsdlg.h"

namespace {

constexpr int columnCount = 8;

} // namespace

LimitAlarmWindow::LimitAlarmWindow(QWidget *parent)
    : QDialog(parent), heading(new QLabel), grid(new QTableWidget(0, columnCount)),
      acknowledge(new QPushButton)
{
    setObjectName(QStringLiteral("limitAlarms"));
    setWindowModality(Qt::NonModal);
    // Keys typed elsewhere (Enter) must not acknowledge an alarm not yet seen.
    setAttribute(Qt::WA_ShowWithoutActivating);
    acknowledge->setObjectName(QStringLiteral("acknowledge"));
    acknowledge->setDefault(true);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(acknowledge);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(grid);
    layout->addLayout(buttons);
    connect(acknowledge, &QPushButton::clicked, this, &LimitAlarmWindow::acknowledged);
    retranslate();
    resize(620, 200);
}

void LimitAlarmWindow::alarm(const LimitEvent &e, double limit)
{
    auto row = std::find_if(rows.begin(), rows.end(),
                            [&](const Row &r) { return r.alarm.channel == e.channel; });
    if (row == rows.end())
        row = rows.insert(rows.end(), Row{});
    row->alarm = e;
    row->limit = limit;
    row->wallMs = QDateTime::currentMSecsSinceEpoch();
    row->count += 1;
    row->normal = false;
    fill();
}

void LimitAlarmWindow::backToNormal(const LimitEvent &e)
{
    for (Row &row : rows)
        if (row.alarm.channel == e.channel)
            row.normal = true;
    fill();
}

std::vector<int> LimitAlarmWindow::channels() const
{
    std::vector<int> listed;
    for (const Row &row : rows)
        listed.push_back(row.alarm.channel);
    return listed;
}

bool LimitAlarmWindow::inAlarm(int channel) const
{
    return std::any_of(rows.begin(), rows.end(),
                       [channel](const Row &r) { return r.alarm.channel == channel && !r.normal; });
}

void LimitAlarmWindow::clear()
{
    rows.clear();
    fill();
}

void LimitAlarmWindow::retranslate()
{
    setWindowTitle(tr("限值报警"));
    heading->setText(tr("以下限值报警尚未确认："));
    acknowledge->setText(tr("确认"));
    grid->setHorizontalHeaderLabels({tr("通道"), tr("报警"), tr("限值"), tr("值"), tr("时间 (s)"),
                                     tr("时刻"), tr("次数"), tr("状态")});
    fill();
}

void LimitAlarmWindow::fill()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    grid->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const Row &row = rows[std::size_t(r)];
        const int c = row.alarm.channel;
        const QString unit = QLatin1Char(' ') + limitUnit(c);
        const QString texts[columnCount] = {
            limitChannelName(c),
            row.alarm.kind == LimitEvent::High ? tr("高于上限") : tr("低于下限"),
            locale.toString(row.limit, 'g', 7) + unit,
            locale.toString(row.alarm.value, 'g', 7) + unit,
            locale.toString(row.alarm.time, 'f', 3),
            QDateTime::fromMSecsSinceEpoch(row.wallMs).toString(QStringLiteral("HH:mm:ss")),
            locale.toString(row.count),
            row.normal ? tr("已恢复正常") : tr("报警中")};
        for (int k = 0; k < columnCount; ++k) {
            auto *item = new QTableWidgetItem(texts[k]);
            if (k == columnCount - 1 && !row.normal)
                item->setForeground(QColor(180, 0, 0));
            grid->setItem(r, k, item);
        }
    }
}

void LimitAlarmWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
