#pragma once

#include <QStatusBar>

// The window's status bar. A temporary message never runs under the figures
// at its right: where it does not fit the room left of them, it is elided
// and its tool tip holds it whole. GUI thread.
class StatusBar : public QStatusBar
{
public:
    explicit StatusBar(QWidget *parent = nullptr);

    // The temporary message as it is drawn.
    QString shownMessage() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect messageRect() const;
    void updateToolTip();
};
