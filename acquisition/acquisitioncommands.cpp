#include "mainwindow/mainwindow.h"

#include <qcustomplot.h>

#include <algorithm>

#include "acquisition/blockmath.h"
#include "ui_mainwindow.h"

namespace {

// Process-wide time base of the live plot; GUI thread only. Reset only through
// the window's resetTimeBase flag.
double elapsedMs = 0.0;
int32_t sampleCounter = 0;

} // namespace

void MainWindow::on_btn_start_collect_clicked()
{
    ui->btn_start_collect->setEnabled(false);
    timerId = startTimer(600, Qt::CoarseTimer);
    daq.start();
}

void MainWindow::on_btn_stop_collect_clicked()
{
    killTimer(timerId);
    daq.stop();
    ui->btn_start_collect->setEnabled(true);
}

void MainWindow::processBlock(const QVector<double> &u1, const QVector<double> &i,
                              const QVector<double> &t, const QVector<double> &u2, double elapsed)
{
    if (resetTimeBase) {
        resetTimeBase = false;
        elapsedMs = 0.0;
        sampleCounter = 0;
    }
    const int n = u1.size();
    if (n == 0)
        return;
    // The lists come from one split and have equal length; stay inside the shortest.
    const int samples = std::min({n, int(i.size()), int(t.size()), int(u2.size())});

    const double step = sampleStepMs(elapsed, n);
    const TemperatureScale tScale = temperatureScale(editNumber(ui->edit_mintemp->text()),
                                                     editNumber(ui->edit_maxtemp->text()));
    const int interval = keepInterval(ui->edit_sample->text());

    for (int j = 0; j < samples; ++j) {
        elapsedMs += step;
        if (keepSample(sampleCounter, interval)) {
            const double key = elapsedMs / 1000.0;
            graphU1->addData(key, clampBelowZero(scaleU(u1[j])));
            graphI->addData(key, clampBelowZero(scaleI(i[j])));
            graphT->addData(key, clampBelowZero(scaleT(t[j], tScale)));
            graphU2->addData(key, clampBelowZero(scaleU(u2[j])));
        }
        sampleCounter = nextSampleCounter(sampleCounter);
    }

    graphU1->rescaleKeyAxis(false);
    graphI->rescaleKeyAxis(false);
    graphT->rescaleKeyAxis(false);
    graphU2->rescaleKeyAxis(false);
    emit updateData();
}
