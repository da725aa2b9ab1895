#include "mainwindow/cyclewindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <qcustomplot.h>

#include "mainwindow/measurement.h"

namespace {

// The columns after the cycle's number and start: a figure each, the
// header's name with its unit on a second line.
struct FigureColumn
{
    const char *header;
    Figure CycleResult::*figure;
};

const FigureColumn figureColumns[] = {
    {QT_TRANSLATE_NOOP("CycleWindow", "充电\n(s)"), &CycleResult::chargeTime},
    {QT_TRANSLATE_NOOP("CycleWindow", "保持\n(s)"), &CycleResult::holdTime},
    {QT_TRANSLATE_NOOP("CycleWindow", "放电\n(s)"), &CycleResult::dischargeTime},
    {QT_TRANSLATE_NOOP("CycleWindow", "静置\n(s)"), &CycleResult::restTime},
    {QT_TRANSLATE_NOOP("CycleWindow", "充电结束 U1\n(V)"), &CycleResult::u1EndCharge},
    {QT_TRANSLATE_NOOP("CycleWindow", "放电结束 U1\n(V)"), &CycleResult::u1EndDischarge},
    {QT_TRANSLATE_NOOP("CycleWindow", "充入电荷 Q\n(C)"), &CycleResult::chargeIn},
    {QT_TRANSLATE_NOOP("CycleWindow", "放出电荷 Q\n(C)"), &CycleResult::chargeOut},
    {QT_TRANSLATE_NOOP("CycleWindow", "充入能量 E\n(J)"), &CycleResult::energyIn},
    {QT_TRANSLATE_NOOP("CycleWindow", "放出能量 E\n(J)"), &CycleResult::energyOut},
    {QT_TRANSLATE_NOOP("CycleWindow", "库仑效率\n(%)"), &CycleResult::coulombicEfficiency},
    {QT_TRANSLATE_NOOP("CycleWindow", "能量效率\n(%)"), &CycleResult::energyEfficiency},
    {QT_TRANSLATE_NOOP("CycleWindow", "恒流电容 C\n(F)"), &CycleResult::capacitance},
    {QT_TRANSLATE_NOOP("CycleWindow", "能量法电容 C\n(F)"), &CycleResult::capacitanceEnergy},
    {QT_TRANSLATE_NOOP("CycleWindow", "充电电容 C\n(F)"), &CycleResult::capacitanceCharge},
    {QT_TRANSLATE_NOOP("CycleWindow", "ESR 压降法\n(Ω)"), &CycleResult::esr},
    {QT_TRANSLATE_NOOP("CycleWindow", "ESR 回升法\n(Ω)"), &CycleResult::esrRebound},
    {QT_TRANSLATE_NOOP("CycleWindow", "T 最低\n(°C)"), &CycleResult::tMin},
    {QT_TRANSLATE_NOOP("CycleWindow", "T 最高\n(°C)"), &CycleResult::tMax},
    {QT_TRANSLATE_NOOP("CycleWindow", "T 平均\n(°C)"), &CycleResult::tMean},
    {QT_TRANSLATE_NOOP("CycleWindow", "U2 平均\n(V)"), &CycleResult::u2Mean},
    {QT_TRANSLATE_NOOP("CycleWindow", "ΔC\n(%)"), &CycleResult::capacitanceChange},
    {QT_TRANSLATE_NOOP("CycleWindow", "ΔESR\n(%)"), &CycleResult::esrChange},
};
constexpr int figureCount = int(std::size(figureColumns));
// Number, start, the figures, pass or fail.
constexpr int firstFigure = 2;
constexpr int verdictColumn = firstFigure + figureCount;
constexpr int columnCount = verdictColumn + 1;

const QColor partialText(150, 150, 150);
const QColor referenceBase(255, 244, 200);

QString whyMissing(Missing why)
{
    switch (why) {
    case Missing::None: break;
    case Missing::PartialCycle: return CycleWindow::tr("数据截断了这个循环");
    case Missing::NoSuchPhase: return CycleWindow::tr("这个循环没有该方法所需的阶段");
    case Missing::NoCurrent: return CycleWindow::tr("该阶段的电流未测量（读数为 0）");
    case Missing::NotReached: return CycleWindow::tr("放电未到达 U_b（或开始时已低于 U_a）");
    case Missing::TooFewPoints: return CycleWindow::tr("该阶段或窗口内的点太少");
    case Missing::NotANumber: return CycleWindow::tr("窗口内有非数值 (NaN)");
    case Missing::NoReference: return CycleWindow::tr("没有参考循环，或参考循环缺少此值");
    case Missing::ZeroDivisor: return CycleWindow::tr("电压差或电流差为零");
    }
    return QString();
}

QString shownNumber(double value)
{
    if (std::isnan(value))
        return QStringLiteral("—");
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 6);
}

bool sameFigure(const Figure &a, const Figure &b)
{
    return a.why == b.why && a.value.has_value() == b.value.has_value() &&
           (!a.value || *a.value == *b.value);
}

// Whether a row shows the same: what is drawn of it too.
bool sameRow(const CycleResult &a, const CycleResult &b)
{
    if (a.number != b.number || a.partial != b.partial || a.start != b.start || a.end != b.end ||
        a.reference != b.reference || a.endOfLife != b.endOfLife ||
        a.phases.size() != b.phases.size() || a.method.t1 != b.method.t1 ||
        a.method.t2 != b.method.t2 || a.method.switchTime != b.method.switchTime)
        return false;
    for (const FigureColumn &c : figureColumns) {
        if (!sameFigure(a.*c.figure, b.*c.figure))
            return false;
    }
    return true;
}

QString verdictText(const CycleResult &c)
{
    if (!c.endOfLife)
        return QStringLiteral("—");
    return *c.endOfLife ? CycleWindow::tr("寿命终止") : CycleWindow::tr("合格");
}

} // namespace

CycleWindow::CycleWindow(QWidget *parent)
    : QWidget(parent, Qt::Tool), grid(new QTableWidget), fade(new QCustomPlot),
      noticeLine(new QLabel), settingsButton(new QPushButton), copyButton(new QPushButton),
      exportButton(new QPushButton)
{
    setObjectName(QStringLiteral("cycleWindow"));
    grid->setObjectName(QStringLiteral("cycleTable"));
    fade->setObjectName(QStringLiteral("cycleFade"));
    noticeLine->setObjectName(QStringLiteral("cycleNotice"));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setColumnCount(columnCount);
    grid->verticalHeader()->hide();
    grid->installEventFilter(this);
    noticeLine->setWordWrap(true);
    noticeLine->setTextFormat(Qt::PlainText);
    noticeLine->hide();

    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(grid);
    split->addWidget(fade);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(settingsButton);
    buttons->addWidget(copyButton);
    buttons->addWidget(exportButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(noticeLine);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    // The fade: C and the energy efficiency on the left in % of the
    // reference (the efficiency as it is), the ESR on the right.
    fade->yAxis2->setVisible(true);
    fade->legend->setVisible(true);
    // The legend in a row of its own above the curves, which it never covers.
    fade->plotLayout()->insertRow(0);
    fade->plotLayout()->addElement(0, 0, fade->legend);
    fade->legend->setFillOrder(QCPLegend::foColumnsFirst);
    fade->legend->setBorderPen(Qt::NoPen);
    fade->plotLayout()->setRowStretchFactor(0, 0.001);
    fade->setMinimumHeight(200);
    const QColor colours[] = {{50, 120, 200}, {220, 120, 30}, {40, 160, 90}};
    for (int k = 0; k < 3; ++k) {
        QCPGraph *g = fade->addGraph(fade->xAxis, k == 1 ? fade->yAxis2 : fade->yAxis);
        g->setPen(QPen(colours[k], 2));
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    }
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    fade->xAxis->setTicker(ticker);

    connect(grid, &QTableWidget::itemSelectionChanged, this, &CycleWindow::selectionChanged);
    connect(settingsButton, &QPushButton::clicked, this, &CycleWindow::settingsRequested);
    connect(copyButton, &QPushButton::clicked, this, &CycleWindow::copyTable);
    connect(exportButton, &QPushButton::clicked, this, &CycleWindow::exportRequested);
    auto *copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WindowShortcut);
    connect(copy, &QAction::triggered, this, &CycleWindow::copyTable);
    addAction(copy);

    resize(960, 620);
    retranslate();
}

void CycleWindow::retranslate()
{
    setWindowTitle(tr("循环分析"));
    settingsButton->setText(tr("设置…"));
    copyButton->setText(tr("复制"));
    exportButton->setText(tr("导出…"));
    fillHeader();
    for (int row = 0; row < int(shown.size()); ++row)
        fillRow(row);
    grid->resizeColumnsToContents();
    drawFade();
}

void CycleWindow::fillHeader()
{
    QStringList headers{tr("编号"), tr("开始\n(s)")};
    for (const FigureColumn &c : figureColumns)
        headers << tr(c.header);
    headers << tr("判定");
    grid->setHorizontalHeaderLabels(headers);
}

void CycleWindow::setNotice(const QString &text)
{
    noticeLine->setText(text);
    noticeLine->setVisible(!text.isEmpty());
}

QString CycleWindow::notice() const
{
    return noticeLine->text();
}

void CycleWindow::setCycles(std::vector<CycleResult> cycles, const CycleSettings &settings)
{
    const bool settingsChanged = !(settings == settingsShown);
    settingsShown = settings;
    std::vector<int> changed;
    for (int row = 0; row < int(cycles.size()); ++row) {
        if (settingsChanged || row >= int(shown.size()) ||
            !sameRow(shown[std::size_t(row)], cycles[std::size_t(row)]))
            changed.push_back(row);
    }
    const bool sizeChanged = cycles.size() != shown.size();
    if (changed.empty() && !sizeChanged && !settingsChanged)
        return; // the fade's limits follow the settings even without a row
    shown = std::move(cycles);
    {
        const QSignalBlocker quiet(grid); // the selection follows its cycle below
        const bool first = grid->rowCount() == 0;
        grid->setRowCount(int(shown.size()));
        for (int row : changed)
            fillRow(row);
        if (first)
            grid->resizeColumnsToContents();
    }
    drawFade();
    // The selected cycle keeps its row; its method is drawn again if it changed.
    int selectedRow = -1;
    for (int row = 0; row < int(shown.size()); ++row) {
        if (shown[std::size_t(row)].number == selectedNumber)
            selectedRow = row;
    }
    if (selectedRow < 0) {
        if (selectedNumber != 0) {
            selectedNumber = 0;
            const QSignalBlocker quiet(grid);
            grid->clearSelection();
            emit cycleSelected(nullptr, false);
        }
        return;
    }
    if (grid->currentRow() != selectedRow) {
        const QSignalBlocker quiet(grid);
        grid->selectRow(selectedRow);
    }
    if (std::find(changed.begin(), changed.end(), selectedRow) != changed.end())
        emit cycleSelected(&shown[std::size_t(selectedRow)], false);
}

QStringList CycleWindow::rowTexts(const CycleResult &c) const
{
    QStringList texts{QString::number(c.number), exactNumberText(c.start)};
    for (const FigureColumn &column : figureColumns) {
        const Figure &f = c.*column.figure;
        texts << (f.value ? exactNumberText(*f.value) : QStringLiteral("—"));
    }
    texts << verdictText(c);
    return texts;
}

void CycleWindow::fillRow(int row)
{
    const CycleResult &c = shown[std::size_t(row)];
    for (int column = 0; column < columnCount; ++column) {
        QTableWidgetItem *item = grid->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid->setItem(row, column, item);
        }
        QString text, tip;
        if (column == 0) {
            text = c.reference ? tr("%1（参考）").arg(c.number) : QString::number(c.number);
            tip = c.partial     ? tr("不完整的循环：数据截断了它，不计入衰减图")
                  : c.reference ? tr("参考循环：ΔC、ΔESR 与寿命判定以它为准")
                                : QString();
        } else if (column == 1) {
            text = shownNumber(c.start);
        } else if (column == verdictColumn) {
            text = verdictText(c);
            tip = c.endOfLife ? QString() : whyMissing(Missing::NoReference);
        } else {
            const Figure &f = c.*figureColumns[column - firstFigure].figure;
            text = f.value ? shownNumber(*f.value) : QStringLiteral("—");
            tip = f.value ? QString() : whyMissing(f.why);
        }
        item->setText(text);
        item->setToolTip(tip);
        item->setForeground(c.partial ? QBrush(partialText) : QBrush());
        item->setBackground(c.reference ? QBrush(referenceBase) : QBrush());
        QFont font = item->font();
        font.setBold(c.reference);
        item->setFont(font);
    }
}

// C (constant current, or from the charge where the discharge current is
// not measured) and the ESR in % of the reference's (a cycle's, or the
// sample's own figures), the energy efficiency as it is; partial cycles left
// out.
void CycleWindow::drawFade()
{
    const CycleResult *reference = nullptr;
    const CycleResult *firstFull = nullptr;
    for (const CycleResult &c : shown) {
        if (!firstFull && !c.partial)
            firstFull = &c;
        if (c.reference) {
            reference = &c;
            break;
        }
    }
    const CycleResult *typical = reference ? reference : firstFull;
    const bool constantCurrent = typical && typical->capacitance.value;
    // The analysis's changes against the reference, as shares.
    auto share = [](const Figure &change) { return change.value ? 100 + *change.value : NAN; };
    QVector<double> numbers, cs, esrs, efficiencies;
    for (const CycleResult &c : shown) {
        if (c.partial)
            continue;
        numbers << c.number;
        cs << share(c.capacitanceChange);
        esrs << share(c.esrChange);
        efficiencies << c.energyEfficiency.value.value_or(NAN);
    }
    fade->graph(0)->setData(numbers, cs, true);
    fade->graph(1)->setData(numbers, esrs, true);
    fade->graph(2)->setData(numbers, efficiencies, true);
    fade->graph(0)->setName(constantCurrent ? tr("C（恒流）/ 参考") : tr("C（充电）/ 参考"));
    fade->graph(1)->setName(tr("ESR / 参考（右轴）"));
    fade->graph(2)->setName(tr("能量效率"));
    fade->xAxis->setLabel(tr("循环"));
    fade->yAxis->setLabel(tr("C / 参考，能量效率 (%)"));
    fade->yAxis2->setLabel(tr("ESR / 参考 (%)"));

    // The reference and the end-of-life limits.
    fade->clearItems();
    const double cLimit = 100 - settingsShown.capacitanceFadeLimit;
    const double esrLimit = 100 * settingsShown.esrRiseLimit;
    const std::pair<QCPAxis *, double> limits[] = {{fade->yAxis, cLimit}, {fade->yAxis2, esrLimit}};
    for (const auto &[axis, value] : limits) {
        auto *line = new QCPItemStraightLine(fade);
        // Dashed in its curve's colour: clear whichever line it lies on.
        const QPen limitPen(fade->graph(axis == fade->yAxis ? 0 : 1)->pen().color(), 1.5,
                            Qt::DashLine);
        line->setPen(limitPen);
        line->point1->setAxes(fade->xAxis, axis);
        line->point2->setAxes(fade->xAxis, axis);
        line->point1->setCoords(0, value);
        line->point2->setCoords(1, value);
        auto *label = new QCPItemText(fade);
        label->position->setAxes(fade->xAxis, axis);
        label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(0.99, value);
        // At the right inside the plot: above the C limit near the bottom, below the ESR's near the
        // top.
        label->setPositionAlignment(axis == fade->yAxis ? Qt::AlignRight | Qt::AlignBottom
                                                        : Qt::AlignRight | Qt::AlignTop);
        label->setColor(limitPen.color());
        label->setText(axis == fade->yAxis ? tr("C 寿命限值") : tr("ESR 寿命限值"));
    }
    if (reference) {
        auto *line = new QCPItemStraightLine(fade);
        line->setPen(QPen(Qt::gray, 1.5));
        line->point1->setCoords(reference->number, 0);
        line->point2->setCoords(reference->number, 1);
        auto *label = new QCPItemText(fade);
        label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(reference->number, 0.5);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setText(tr("参考"));
    }

    // Both axes take in their curves and their limit.
    bool found = false;
    QCPRange cRange = fade->graph(0)->getValueRange(found);
    cRange = found ? cRange : QCPRange(cLimit, 100);
    bool foundEfficiency = false;
    const QCPRange eRange = fade->graph(2)->getValueRange(foundEfficiency);
    if (foundEfficiency)
        cRange.expand(eRange);
    cRange.expand(cLimit);
    cRange.expand(100);
    fade->yAxis->setRange(cRange.lower - 0.1 * cRange.size(), cRange.upper + 0.1 * cRange.size());
    QCPRange esrRange = fade->graph(1)->getValueRange(found);
    // From 0 and with room above the limit, so that the ESR's 100 % and its
    // limit stay clear of C's 100 % and limit on the other axis.
    esrRange = found ? esrRange : QCPRange(100, esrLimit);
    esrRange.expand(esrLimit);
    esrRange.expand(0);
    fade->yAxis2->setRange(std::min(0.0, esrRange.lower), esrRange.upper + 0.25 * esrRange.size());
    const double last = numbers.isEmpty() ? 1 : numbers.constLast();
    const double first = numbers.isEmpty() ? 1 : numbers.constFirst();
    fade->xAxis->setRange(first - 0.5, std::max(last, first + 1) + 0.5);
    fade->replot(QCustomPlot::rpQueuedReplot);
}

void CycleWindow::selectionChanged()
{
    const QList<QTableWidgetItem *> selected = grid->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.constFirst()->row();
    if (row < 0 || row >= int(shown.size())) {
        selectedNumber = 0;
        emit cycleSelected(nullptr, false);
        return;
    }
    selectedNumber = shown[std::size_t(row)].number;
    emit cycleSelected(&shown[std::size_t(row)], true);
}

QString CycleWindow::separated(QChar separator) const
{
    const bool csv = separator == QLatin1Char(',');
    auto field = [csv](QString text) {
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (csv && (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')))) {
            text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            return QLatin1Char('"') + text + QLatin1Char('"');
        }
        return text;
    };
    QStringList lines;
    QStringList header;
    for (int column = 0; column < columnCount; ++column)
        header << field(grid->horizontalHeaderItem(column)->text());
    lines << header.join(separator);
    for (const CycleResult &c : shown) {
        QStringList texts = rowTexts(c);
        for (QString &text : texts)
            text = field(text);
        lines << texts.join(separator);
    }
    const QString end = csv ? QStringLiteral("\r\n") : QStringLiteral("\n");
    return lines.join(end) + end;
}

QString CycleWindow::tabSeparated() const
{
    return separated(QLatin1Char('\t'));
}

QString CycleWindow::commaSeparated() const
{
    return separated(QLatin1Char(','));
}

void CycleWindow::copyTable()
{
    QApplication::clipboard()->setText(tabSeparated());
    emit copied();
}

// Ctrl+C in the table copies the whole table, not the current cell.
bool CycleWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == grid &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        if (event->type() == QEvent::KeyPress)
            copyTable();
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CycleWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit closed();
}
