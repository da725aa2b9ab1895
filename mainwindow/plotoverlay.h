#pragma once

#include <QWidget>

class QCustomPlot;
class QLabel;

// Drawn over the plot, never into it, so a saved picture leaves it out: the
// cursor line with the values under it, and the notice that the view no
// longer follows the recording. Lets every mouse event through to the plot.
// GUI thread only.
class PlotOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit PlotOverlay(QCustomPlot *plot);

    // The cursor line at x (plot pixels) and the readout beside it.
    void showCursor(int x, const QString &text);
    void hideCursor();
    bool cursorShown() const { return cursorX >= 0; }

    // The notice at the top right of the plot area; an empty text hides it.
    void setNotice(const QString &text);

    QLabel *readout() const { return readoutLabel; }
    QLabel *notice() const { return noticeLabel; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeLabels();
    QRect lineRect(int x) const;

    QCustomPlot *plot;
    QLabel *readoutLabel;
    QLabel *noticeLabel;
    int cursorX = -1; // -1: no cursor line
};
