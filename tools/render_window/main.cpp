// Renders the main window offscreen, one PNG per navigation page, plus the
// voltage help dialog, so the look can be checked by eye without a display.
//   render_window <output folder> [width height]
// Settings are read from (and written to) a throw-away store, never the
// operator's own.
#include "MainWindow.h"
#include "VoltageDetails.h"
#include "WindowChrome.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    QApplication app(argc, argv);

    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2 && args.size() != 4) {
        err << "usage: render_window <output folder> [width height]\n";
        return 2;
    }
    QDir out(args.at(1));
    out.mkpath(QStringLiteral("."));

    auto window = std::make_unique<MainWindow>();
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

    window.reset();
    return failures == 0 ? 0 : 1;
}
