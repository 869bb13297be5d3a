// Draws the console's resource images and writes them as PNG files.
//   draw_resources <output folder>        (normally resources/image_resource)
//   draw_resources --preview <file.png>   all images enlarged on their backgrounds
//   draw_resources --icons <folder>       the application icon as a hicolor theme
//                                         (normally resources/icons)
// Runs without a display: QT_QPA_PLATFORM=offscreen is set when unset.
#include "tools/draw_resources/ResourceArtist.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

namespace {

// The icon's file: the application's id, as the desktop entry names its icon.
constexpr char kIconName[] = TESSIVO_APP_ID ".png";

int writeIcons(const QDir &out, QTextStream &err)
{
    int failures = 0;
    for (int side : ResourceArtist::applicationIconSides()) {
        const QString folder = out.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(side));
        const QString path = folder + QLatin1Char('/') + QLatin1String(kIconName);
        if (!QDir().mkpath(folder) || !ResourceArtist::applicationIcon(side).save(path, "PNG")) {
            err << "Cannot write " << path << ".\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--preview"))
        return ResourceArtist::previewSheet(4).save(args.at(2), "PNG") ? 0 : 1;
    if (args.size() == 3 && args.at(1) == QLatin1String("--icons"))
        return writeIcons(QDir(args.at(2)), err);
    if (args.size() != 2) {
        err << "usage: draw_resources <output folder> | --preview <file.png> | --icons <folder>\n";
        return 2;
    }
    QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("."))) {
        err << "Cannot create the folder " << out.absolutePath() << ".\n";
        return 1;
    }

    int failures = 0;
    for (const ResourceArtist::Entry &entry : ResourceArtist::entries()) {
        const QString path = out.filePath(entry.fileName);
        if (!ResourceArtist::render(entry).save(path, "PNG")) {
            err << "Cannot write " << path << ".\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
