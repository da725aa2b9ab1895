#include "mainwindow/statusbar.h"

#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>

namespace {

constexpr int kMargin = 4; // between the message and the figures, and at the left

} // namespace

StatusBar::StatusBar(QWidget *parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, &StatusBar::updateToolTip);
}

// Left of the leftmost widget shown beside the message (the permanent ones).
QRect StatusBar::messageRect() const
{
    int right = width() - kMargin;
    for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !qobject_cast<QSizeGrip *>(child))
            right = std::min(right, child->x() - kMargin);
    }
    return QRect(kMargin, 0, std::max(0, right - kMargin), height());
}

QString StatusBar::shownMessage() const
{
    return fontMetrics().elidedText(currentMessage(), Qt::ElideRight, messageRect().width());
}

void StatusBar::paintEvent(QPaintEvent *event)
{
    if (currentMessage().isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &painter, this);
    painter.setPen(palette().windowText().color());
    painter.drawText(messageRect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                     shownMessage());
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QStatusBar::resizeEvent(event);
    updateToolTip();
}

void StatusBar::updateToolTip()
{
    const QString message = currentMessage();
    setToolTip(shownMessage() != message ? message : QString());
}
