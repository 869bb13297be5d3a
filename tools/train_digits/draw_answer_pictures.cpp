// Draws the answer pictures the recognition page shows: one per digit
// ("0.png" .. "9.png") and "error.png" for "no valid digit".
//
//   draw_answer_pictures <output folder>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {
constexpr int Side = 240;
const QColor Paper(0xF7, 0xF3, 0xEA);
const QColor Accent(0x89, 0x68, 0x27);
const QColor Ink(0x33, 0x2A, 0x1A);

QImage frame()
{
    QImage image(Side, Side, QImage::Format_RGB32);
    image.fill(Paper);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Accent, 8));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(10, 10, Side - 20, Side - 20), 24, 24);
    return image;
}

QImage digitPicture(int digit, const QString &family)
{
    QImage image = frame();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(family);
    font.setPixelSize(170);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Ink);
    p.drawText(QRect(0, 0, Side, Side - 16), Qt::AlignCenter, QString::number(digit));
    // The accent bar under the glyph.
    p.fillRect(QRectF(Side / 2.0 - 40, Side - 52, 80, 8), Accent);
    return image;
}

QImage errorPicture(const QString &family)
{
    QImage image = frame();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A crossed-out circle: nothing recognisable was seen.
    const QRectF circle(Side / 2.0 - 62, 38, 124, 124);
    p.setPen(QPen(Accent, 14, Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(circle);
    p.drawLine(circle.topLeft() + QPointF(22, 22), circle.bottomRight() - QPointF(22, 22));
    QFont font(family);
    font.setPixelSize(26);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Ink);
    p.drawText(QRect(0, 170, Side, 44), Qt::AlignCenter, "No valid digit");
    return image;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: draw_answer_pictures <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "Cannot create the folder %s.\n", argv[1]);
        return 1;
    }
    // A font file of its own, so the pictures do not depend on the desktop's fonts.
    const int id = QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    const QString family = id >= 0 ? QFontDatabase::applicationFontFamilies(id).value(0) : QString("Sans");

    bool ok = true;
    for (int d = 0; d <= 9; ++d)
        ok &= digitPicture(d, family).save(out.filePath(QString("%1.png").arg(d)));
    ok &= errorPicture(family).save(out.filePath("error.png"));
    if (!ok) {
        std::fprintf(stderr, "Cannot write the pictures into %s.\n", argv[1]);
        return 1;
    }
    return 0;
}
