#include "mainwindow/cycledrawing.h"

#include <QCoreApplication>
#include <QLocale>
#include <qcustomplot.h>

#include "acquisition/cycleanalysis.h"

namespace {

const QColor phaseColour(90, 90, 90);
const QColor crossingColour(200, 30, 40);
const QColor fitColour(170, 0, 170);

QString phaseName(PhaseKind kind)
{
    switch (kind) {
    case PhaseKind::Charge: return QCoreApplication::translate("CycleDrawing", "充电");
    case PhaseKind::Hold: return QCoreApplication::translate("CycleDrawing", "保持");
    case PhaseKind::Discharge: return QCoreApplication::translate("CycleDrawing", "放电");
    case PhaseKind::Rest: break;
    }
    return QCoreApplication::translate("CycleDrawing", "静置");
}

QString volts(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 4) + QStringLiteral(" V");
}

} // namespace

CycleDrawing::CycleDrawing(QCustomPlot *plot) : plot(plot) {}

CycleDrawing::~CycleDrawing() = default; // the plot owns the items

void CycleDrawing::clear()
{
    for (QCPAbstractItem *item : std::as_const(items))
        plot->removeItem(item);
    items.clear();
}

void CycleDrawing::show(const CycleResult *cycle)
{
    clear();
    if (!cycle)
        return;
    auto text = [this](double x, double y, const QString &s, Qt::Alignment at, QColor colour) {
        auto *label = new QCPItemText(plot);
        label->setText(s);
        label->setColor(colour);
        label->setPositionAlignment(at);
        label->setPadding(QMargins(3, 1, 3, 1));
        label->setSelectable(false);
        label->position->setCoords(x, y);
        items << label;
        return label;
    };
    auto line = [this](double x1, double y1, double x2, double y2, const QPen &pen) {
        auto *segment = new QCPItemLine(plot);
        segment->setPen(pen);
        segment->setSelectable(false);
        segment->start->setCoords(x1, y1);
        segment->end->setCoords(x2, y2);
        items << segment;
        return segment;
    };

    // The phases: a thin line where each begins and at the cycle's end, the
    // name at the top between.
    const QPen phasePen(phaseColour, 1);
    std::vector<double> bounds;
    for (const CyclePhase &p : cycle->phases)
        bounds.push_back(p.start);
    bounds.push_back(cycle->phases.empty() ? cycle->end : cycle->phases.back().end);
    for (double t : bounds) {
        auto *boundary = new QCPItemStraightLine(plot);
        boundary->setPen(phasePen);
        boundary->setSelectable(false);
        for (QCPItemPosition *p : {boundary->point1, boundary->point2}) {
            p->setTypeX(QCPItemPosition::ptPlotCoords);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        boundary->point1->setCoords(t, 0);
        boundary->point2->setCoords(t, 1);
        items << boundary;
    }
    for (const CyclePhase &p : cycle->phases) {
        QCPItemText *name =
            text((p.start + p.end) / 2, 0.06, phaseName(p.kind), Qt::AlignCenter, phaseColour);
        name->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        name->position->setCoords((p.start + p.end) / 2, 0.06); // the type change kept the pixels
    }

    // The constant-current method: U_a and U_b over the discharge, t1 and t2 on them.
    const CycleMethod &m = cycle->method;
    if (m.t1 || m.t2) {
        const QPen level(crossingColour, 1, Qt::DashLine);
        const double from = m.t1.value_or(*m.t2), to = m.t2.value_or(*m.t1);
        const double reach = std::max((to - from) * 0.15, 1e-9);
        line(from - reach, m.ua, to + reach, m.ua, level);
        line(from - reach, m.ub, to + reach, m.ub, level);
        const std::pair<const std::optional<double> *, const char *> marks[] = {{&m.t1, "t1"},
                                                                                {&m.t2, "t2"}};
        for (const auto &[time, name] : marks) {
            if (!*time)
                continue;
            const double u = time == &m.t1 ? m.ua : m.ub;
            auto *dot = new QCPItemTracer(plot);
            dot->setStyle(QCPItemTracer::tsCircle);
            dot->setSize(9);
            dot->setPen(QPen(crossingColour, 2));
            dot->setSelectable(false);
            dot->position->setCoords(**time, u);
            items << dot;
            text(**time, u,
                 QLatin1String(name) + QStringLiteral("  ") +
                     (time == &m.t1 ? QStringLiteral("U_a = ") : QStringLiteral("U_b = ")) +
                     volts(u),
                 Qt::AlignLeft | Qt::AlignBottom, crossingColour);
        }
    }

    // The IR drop: the line fitted over the window, extrapolated back to the
    // switch, and the drop there between U1 before it and the line.
    if (m.switchTime) {
        const double at = *m.switchTime;
        auto lineAt = [&m, at](double t) { return m.fitAt + m.fitSlope * (t - at); };
        line(at, lineAt(at), m.fitFrom, lineAt(m.fitFrom), QPen(fitColour, 1.5, Qt::DashLine));
        line(m.fitFrom, lineAt(m.fitFrom), m.fitTo, lineAt(m.fitTo), QPen(fitColour, 2.5));
        QCPItemLine *bracket = line(at, m.uBefore, at, m.fitAt, QPen(fitColour, 1.5));
        bracket->setHead(QCPLineEnding(QCPLineEnding::esBar, 10));
        bracket->setTail(QCPLineEnding(QCPLineEnding::esBar, 10));
        text(at, (m.uBefore + m.fitAt) / 2, QStringLiteral("ΔU = ") + volts(m.uBefore - m.fitAt),
             Qt::AlignRight | Qt::AlignVCenter, fitColour);
    }
}
