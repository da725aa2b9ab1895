#include "mainwindow/plotoverlay.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <qcustomplot.h>

namespace {

constexpr int gap = 6; // between the labels, the line and the plot area's edges

QLabel *overlayLabel(QWidget *parent, const char *name, const char *style)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QLatin1String(style));
    label->hide();
    return label;
}

} // namespace

PlotOverlay::PlotOverlay(QCustomPlot *plot)
    : QWidget(plot), plot(plot),
      readoutLabel(overlayLabel(this, "plotReadout",
                                "QLabel { background: rgba(255, 255, 255, 230);"
                                " border: 1px solid rgb(150, 150, 150); padding: 2px 4px; }")),
      noticeLabel(overlayLabel(this, "followNotice",
                               "QLabel { background: rgba(255, 240, 200, 240);"
                               " border: 1px solid rgb(220, 160, 60); padding: 2px 4px; }"))
{
    setObjectName(QStringLiteral("plotOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(plot->rect());
    plot->installEventFilter(this);
    // The plot area moves when the axes' margins change with a replot.
    connect(plot, &QCustomPlot::afterReplot, this, &PlotOverlay::placeLabels);
}

QRect PlotOverlay::lineRect(int x) const
{
    const QRect area = plot->axisRect()->rect();
    return QRect(x - 1, area.top(), 3, area.height());
}

void PlotOverlay::showCursor(int x, const QString &text)
{
    if (cursorX != x) {
        if (cursorX >= 0)
            update(lineRect(cursorX));
        cursorX = x;
        update(lineRect(cursorX));
    }
    if (readoutLabel->text() != text) {
        readoutLabel->setText(text);
        readoutLabel->adjustSize();
    }
    readoutLabel->show();
    placeLabels();
}

void PlotOverlay::hideCursor()
{
    if (cursorX < 0)
        return;
    update(lineRect(cursorX));
    cursorX = -1;
    readoutLabel->hide();
}

void PlotOverlay::setNotice(const QString &text)
{
    if (text.isEmpty()) {
        noticeLabel->hide();
        return;
    }
    if (noticeLabel->text() != text) {
        noticeLabel->setText(text);
        noticeLabel->adjustSize();
    }
    noticeLabel->show();
    placeLabels();
}

// The notice at the top right; the readout at the top, beside the line, on
// its left where the right side has no room, and below the notice.
void PlotOverlay::placeLabels()
{
    const QRect area = plot->axisRect()->rect();
    int top = area.top() + gap;
    if (noticeLabel->isVisibleTo(this)) {
        noticeLabel->move(area.right() - gap - noticeLabel->width(), top);
        top += noticeLabel->height() + gap;
    }
    if (cursorX >= 0) {
        int x = cursorX + gap;
        if (x + readoutLabel->width() > area.right() - gap)
            x = cursorX - gap - readoutLabel->width();
        readoutLabel->move(qMax(area.left() + 1, x), top);
    }
}

void PlotOverlay::paintEvent(QPaintEvent *)
{
    if (cursorX < 0)
        return;
    const QRect area = plot->axisRect()->rect();
    QPainter painter(this);
    painter.setPen(QPen(QColor(60, 60, 60, 200), 1));
    painter.drawLine(cursorX, area.top(), cursorX, area.bottom());
}

bool PlotOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == plot) {
        if (event->type() == QEvent::Resize)
            setGeometry(plot->rect());
        else if (event->type() == QEvent::Leave)
            hideCursor();
    }
    return QWidget::eventFilter(watched, event);
}
