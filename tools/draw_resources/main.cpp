// Draws the console's resource images and writes them as PNG files.
//   draw_resources <output folder>        (normally resources/image_resource)
//   draw_resources --preview <file.png>   all images enlarged on their backgrounds
// Runs without a display: QT_QPA_PLATFORM=offscreen is set when unset.
#include "ResourceArtist.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--preview"))
        return ResourceArtist::previewSheet(4).save(args.at(2), "PNG") ? 0 : 1;
    if (args.size() != 2) {
        err << "usage: draw_resources <output folder> | --preview <file.png>\n";
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
