#include "tools/train_digits/PrintedDigits.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <stdexcept>

QStringList PrintedDigits::installedFontFiles()
{
    static const char *const candidates[] = {
        "dejavu/DejaVuSans.ttf",           "dejavu/DejaVuSans-Bold.ttf",
        "dejavu/DejaVuSerif.ttf",          "dejavu/DejaVuSansMono.ttf",
        "dejavu/DejaVuSansCondensed.ttf",  "dejavu/DejaVuSans-ExtraLight.ttf",
        "liberation/LiberationSans-Regular.ttf", "liberation/LiberationSans-Bold.ttf",
        "liberation/LiberationSerif-Regular.ttf", "liberation/LiberationMono-Regular.ttf",
        "liberation/LiberationSansNarrow-Regular.ttf",
        "freefont/FreeSans.ttf",           "freefont/FreeSerif.ttf",
        "freefont/FreeMono.ttf",           "freefont/FreeSansBold.ttf",
        "freefont/FreeSerifItalic.ttf",
    };
    QStringList files;
    for (const char *name : candidates) {
        const QString path = QStringLiteral("/usr/share/fonts/truetype/") + name;
        if (QFileInfo::exists(path))
            files << path;
    }
    return files;
}

PrintedDigits::PrintedDigits(const QStringList &fontFiles)
{
    for (const QString &file : fontFiles) {
        QRawFont font(file, 100.0);
        if (!font.isValid())
            throw std::runtime_error("Cannot load the font file " + file.toStdString() + ".");
        fonts.push_back(font);
    }
}

cv::Mat PrintedDigits::ink(int digit, int font, double strokeWidth, double shear) const
{
    const QRawFont &raw = fonts.at(font);
    const QList<quint32> glyphs = raw.glyphIndexesForString(QString::number(digit));
    QPainterPath path = raw.pathForGlyph(glyphs.value(0));
    path = QTransform().shear(-shear, 0).map(path);

    const QRectF bounds = path.boundingRect().adjusted(-strokeWidth - 2, -strokeWidth - 2,
                                                       strokeWidth + 2, strokeWidth + 2);
    QImage canvas(bounds.size().toSize() + QSize(1, 1), QImage::Format_Grayscale8);
    canvas.fill(0);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-bounds.topLeft());
    painter.setBrush(Qt::white);
    painter.setPen(strokeWidth > 0 ? QPen(Qt::white, strokeWidth) : QPen(Qt::NoPen));
    painter.drawPath(path);
    painter.end();

    const cv::Mat view(canvas.height(), canvas.width(), CV_8U, canvas.bits(), canvas.bytesPerLine());
    cv::Mat mask;
    view.convertTo(mask, CV_32F, 1.0 / 255.0);
    return mask;
}
