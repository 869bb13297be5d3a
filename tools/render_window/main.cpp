// Renders the main window offscreen, one PNG per navigation page, plus the
// voltage help dialog, so the look can be checked by eye without a display.
// With --live it also connects to the built-in simulator, captures for a
// moment and renders the live picture in gray, rgb and heat.
//   render_window <output folder> [width height] [--live]
// Settings are read from (and written to) a throw-away store, never the
// operator's own.
#include "analysis/LiveAnalysisWindow.h"
#include "app/LiveAnalysisPage.h"
#include "app/MainWindow.h"
#include "app/WindowChrome.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "simulator/SimulatorBackend.h"
#include "ui/VoltageDetails.h"

#include <QApplication>
#include <QDir>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

namespace {

void waitFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Connect, set 0 V at 800 nA, start a capture and grab the window once per
// display mode. Message boxes (the set flow's report) are answered at once.
int renderLive(MainWindow &window, const QDir &out)
{
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->accept();
    });
    answerer.start(50);

    auto *devices = window.findChild<QComboBox *>(QStringLiteral("comboBox"));
    QDeadlineTimer listed(5000);
    while (devices->findText(QStringLiteral("ZK128")) < 0 && !listed.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_Connect"))->click();
    for (const char *field : {"lineEdit_vc", "lineEdit_vd", "lineEdit_von", "lineEdit_voff"})
        window.findChild<QLineEdit *>(QLatin1String(field))->setText(QStringLiteral("0"));
    window.findChild<QRadioButton *>(QStringLiteral("radioButton_800"))->click();
    window.findChild<QPushButton *>(QStringLiteral("pushButton_set"))->click();
    window.findChild<QPushButton *>(QStringLiteral("pushButton_play"))->click();
    window.findChild<QListWidget *>(QStringLiteral("listWidget"))->setCurrentRow(2);
    int failures = 0;
    for (const char *mode : {"gray", "rgb", "heat"}) {
        window.findChild<QRadioButton *>(QStringLiteral("radioButton_") + QLatin1String(mode))->click();
        waitFor(2500);
        if (!window.grab().save(out.filePath(QStringLiteral("live_%1.png").arg(QLatin1String(mode)))))
            ++failures;
    }
    // The live analysis window beside it, with levels and a region.
    window.liveAnalysis().openWindow();
    window.displayPipeline().rotate(); // the region follows the rotated picture
    waitFor(300);
    emit window.displayPipeline().regionSelected(QRect(32, 40, 48, 40));
    waitFor(1500);
    if (LiveAnalysisWindow *analysis = window.liveAnalysis().window()) {
        if (!analysis->grab().save(out.filePath(QStringLiteral("live_analysis.png"))))
            ++failures;
    } else {
        ++failures;
    }
    window.findChild<QPushButton *>(QStringLiteral("pushButton_play"))->click();
    waitFor(600);
    // Stopped: the last picture stays, marked as not live.
    if (!window.grab().save(out.filePath(QStringLiteral("live_stopped.png"))))
        ++failures;
    return failures;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    QApplication app(argc, argv);

    QTextStream err(stderr);
    QStringList args = app.arguments();
    const bool live = args.removeAll(QStringLiteral("--live")) > 0;
    if (args.size() != 2 && args.size() != 4) {
        err << "usage: render_window <output folder> [width height] [--live]\n";
        return 2;
    }
    QDir out(args.at(1));
    out.mkpath(QStringLiteral("."));

    std::shared_ptr<SimulatorBackend> simulator = live ? SimulatorBackend::fromEnvironment() : nullptr;
    const ConsoleContext context(simulator, ConsolePaths::forApplication(), SettingsIdentity(),
                                 simulator ? simulator->device() : nullptr);
    auto window = std::make_unique<MainWindow>(context);
    WindowChrome::install(app, *window);
    if (args.size() == 4)
        window->resize(args.at(2).toInt(), args.at(3).toInt());
    window->show();

    static const char *const pages[] = {"system", "settings", "display", "save", "about"};
    auto *navigation = window->findChild<QListWidget *>(QStringLiteral("listWidget"));
    int failures = 0;
    for (int row = 0; row < 5; ++row) {
        navigation->setCurrentRow(row);
        QApplication::processEvents();
        const QString path = out.filePath(QStringLiteral("page_%1_%2.png").arg(row).arg(QLatin1String(pages[row])));
        if (!window->grab().save(path))
            ++failures;
    }

    auto *help = new VoltageDetails(window.get()); // released with the window
    help->show();
    QApplication::processEvents();
    if (!help->grab().save(out.filePath(QStringLiteral("voltage_details.png"))))
        ++failures;
    help->hide();

    if (live)
        failures += renderLive(*window, out);

    window.reset();
    return failures == 0 ? 0 : 1;
}
