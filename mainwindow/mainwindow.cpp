#include "mainwindow/mainwindow.h"

#include <QDesktopServices>
#include <QPixmap>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QTranslator>
#include <QUrl>

#include "app/aboutdlg.h"
#include "app/logfile.h"
#include "app/shell.h"
#include "mainwindow/lodgraph.h"
#include "ui_mainwindow.h"

namespace {

// Which catalogue the most recent language switch loaded; true at start.
bool languageIsChinese = true;
// The switch's translator stays in force until the next switch replaces it.
QTranslator *switchTranslator = nullptr;

QPixmap channelIcon(const char *resource)
{
    return QPixmap(QString::fromLatin1(resource))
        .scaled(50, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), zoomMode(false), ui(new Ui_MainWindow), timerId(0), daq(),
      graphU1(nullptr), graphU2(nullptr), graphI(nullptr), graphT(nullptr), resetTimeBase(false)
{
    ui->setupUi(this);
    daq.owner = this;

    ui->label_2->setPixmap(channelIcon(":/img/u1-01.png"));
    ui->label_3->setPixmap(channelIcon(":/img/I-01.png"));
    ui->label_4->setPixmap(channelIcon(":/img/t-01.png"));
    ui->label_5->setPixmap(channelIcon(":/img/u2-01.png"));

    ui->edit_physical_channel->setText(QStringLiteral("Dev1/ai0:3"));
    ui->edit_sample->setText(QStringLiteral("100"));
    ui->edit_mintemp->setText(QStringLiteral("400"));
    ui->edit_maxtemp->setText(QStringLiteral("3600"));

    graphU1 = addChannelGraph(ui->customPlot_VIT);
    graphI = addChannelGraph(ui->customPlot_VIT);
    graphT = addChannelGraph(ui->customPlot_VIT);
    graphU2 = addChannelGraph(ui->customPlot_VIT);

    setupPlot(ui->customPlot_VIT);

    openLogForAppend(dataLog, logPathBesideExecutable(QStringLiteral("data.txt")));
}

MainWindow::~MainWindow()
{
    // No block may reach the window while it is torn down.
    daq.stop();
    closeLog(dataLog);
    delete ui;
}

QCPGraph *MainWindow::channelGraph(int channel) const
{
    switch (channel) {
    case 0: return graphU1;
    case 1: return graphI;
    case 2: return graphT;
    case 3: return graphU2;
    default: return nullptr;
    }
}

void MainWindow::onUpdateData() {}

void MainWindow::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == timerId)
        ui->customPlot_VIT->replot(QCustomPlot::rpQueuedReplot);
}

void MainWindow::resizeEvent(QResizeEvent *)
{
    // The panel keeps its place; only the plot follows, never below zero.
    const QSize size = this->size();
    ui->customPlot_VIT->resize(qMax(0, size.width() - 190), qMax(0, size.height() - 80));
}

void MainWindow::on_menu_exit_triggered()
{
    close();
}

void MainWindow::on_menu_cop_www_address_triggered()
{
    // Follows the system locale, not the interface language.
    QDesktopServices::openUrl(QUrl(websiteAddress(QLocale()), QUrl::TolerantMode));
}

void MainWindow::on_menu_about_triggered()
{
    AboutDlg dialog(this);
    dialog.exec();
}

void MainWindow::on_actionLanguage_triggered()
{
    languageIsChinese = !languageIsChinese;
    auto *translator = new QTranslator(QCoreApplication::instance());
    (void)translator->load(languageIsChinese ? QStringLiteral(":/res/KorvelDAQ_zh_CN")
                                             : QStringLiteral(":/res/KorvelDAQ_en"));
    if (switchTranslator) {
        QCoreApplication::removeTranslator(switchTranslator);
        delete switchTranslator;
    }
    switchTranslator = translator;
    QCoreApplication::installTranslator(translator);
    ui->retranslateUi(this);
}
