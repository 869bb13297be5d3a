#include "tools/draw_resources/ResourceArtist.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

const QColor kAccent(0x89, 0x68, 0x27);
const QColor kAccentDark(0x6E, 0x53, 0x1F);
const QColor kWhite(Qt::white);
const QColor kBar(0x89, 0x68, 0x27);               // title bar and tiles
const QColor kPanel(0xF0, 0xF3, 0xF6);             // left column
const QColor kItem(0xFF, 0xFF, 0xFF);              // navigation row at rest
const QColor kPicked(0x89, 0x68, 0x27, 0xCC);      // selected navigation row (#CC896827)
const QColor kStopRed(208, 61, 79);                // play area while a capture runs
const QColor kWhiteBg(0xFF, 0xFF, 0xFF);
const QColor kGrey(0x9E, 0x9E, 0x9E);               // directory button

QPen roundPen(const QColor &c, qreal width)
{
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small "sensor matrix" mark: a 3 x 3 grid of cells with a bright centre,
// the picture of a photodetector matrix catching a spot of light.
void matrixCells(QPainter &p, const QRectF &area, const QColor &c)
{
    const qreal gap = area.width() * 0.1;
    const qreal cell = (area.width() - 2 * gap) / 3;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            QColor fill = c;
            fill.setAlphaF((row == 1 && col == 1) ? 1.0 : 0.55);
            const QRectF r(area.left() + col * (cell + gap), area.top() + row * (cell + gap), cell, cell);
            p.fillRect(r, fill);
        }
    }
}

void arrowHead(QPainter &p, QPointF tip, qreal angleDeg, qreal size, const QColor &c)
{
    const qreal a = qDegreesToRadians(angleDeg);
    const QPointF back(tip.x() - size * qCos(a), tip.y() + size * qSin(a));
    const QPointF side(-qSin(a) * size * 0.5, -qCos(a) * size * 0.5);
    QPolygonF head;
    head << tip << back + side << back - side;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(head);
}

void text(QPainter &p, const QRectF &r, const QString &s, qreal pixelSize, const QColor &c,
          Qt::Alignment align = Qt::AlignCenter, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qRound(pixelSize));
    f.setBold(bold);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, align, s);
}

void terminal(QPainter &p, QPointF at, const QColor &c)
{
    p.setPen(QPen(c, 1.6));
    p.setBrush(Qt::white);
    p.drawEllipse(at, 4, 4);
}

void junction(QPainter &p, QPointF at, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(at, 3, 3);
}

void diagramCard(QPainter &p, const QSize &s)
{
    p.setPen(QPen(QColor(0xD6, 0xD6, 0xD6), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 8, 8);
}

} // namespace

std::vector<ResourceArtist::Entry> ResourceArtist::entries()
{
    using namespace std::placeholders;
    const QColor rest = kAccent;
    const QColor picked = kWhite;
    return {
        {QStringLiteral("logo.png"), {24, 24}, &ResourceArtist::logo, kBar},
        {QStringLiteral("Velmoray.png"), {101, 25}, &ResourceArtist::makerLogo, kPanel},
        {QStringLiteral("play.png"), {22, 22}, &ResourceArtist::play, kBar},
        {QStringLiteral("stop.png"), {22, 22}, &ResourceArtist::stop, kStopRed},
        {QStringLiteral("Minimize-1.png"), {16, 16}, &ResourceArtist::minimize, kBar},
        {QStringLiteral("Maximize-1.png"), {16, 16}, &ResourceArtist::maximize, kBar},
        {QStringLiteral("Maximize-3.png"), {16, 16}, &ResourceArtist::restore, kBar},
        {QStringLiteral("Shut down-1.png"), {14, 14}, &ResourceArtist::closeCross, kBar},
        {QStringLiteral("control_1.png"), {32, 32}, std::bind(&ResourceArtist::deviceChip, _1, _2, rest), kItem},
        {QStringLiteral("control_2.png"), {32, 32}, std::bind(&ResourceArtist::deviceChip, _1, _2, picked), kPicked},
        {QStringLiteral("current_1.png"), {32, 32}, std::bind(&ResourceArtist::gauge, _1, _2, rest), kItem},
        {QStringLiteral("current_2.png"), {32, 32}, std::bind(&ResourceArtist::gauge, _1, _2, picked), kPicked},
        {QStringLiteral("calibration_1.png"), {32, 32}, std::bind(&ResourceArtist::crosshair, _1, _2, rest), kItem},
        {QStringLiteral("calibration_2.png"), {32, 32}, std::bind(&ResourceArtist::crosshair, _1, _2, picked), kPicked},
        {QStringLiteral("save_table.png"), {32, 32}, std::bind(&ResourceArtist::disk, _1, _2, rest), kItem},
        {QStringLiteral("save_table_1.png"), {32, 32}, std::bind(&ResourceArtist::disk, _1, _2, picked), kPicked},
        {QStringLiteral("about_1.png"), {32, 32}, std::bind(&ResourceArtist::info, _1, _2, rest), kItem},
        {QStringLiteral("about_2.png"), {32, 32}, std::bind(&ResourceArtist::info, _1, _2, picked), kPicked},
        {QStringLiteral("down_arrow.png"), {12, 12}, std::bind(&ResourceArtist::chevron, _1, _2, true), kWhite},
        {QStringLiteral("up_arrow.png"), {12, 12}, std::bind(&ResourceArtist::chevron, _1, _2, false), kWhite},
        {QStringLiteral("checkbox.png"), {14, 14}, std::bind(&ResourceArtist::checkBox, _1, _2, false), kWhite},
        {QStringLiteral("checkbox-checked.png"), {14, 14}, std::bind(&ResourceArtist::checkBox, _1, _2, true), kWhite},
        {QStringLiteral("wenhao.png"), {15, 15}, std::bind(&ResourceArtist::help, _1, _2, false), kWhite},
        {QStringLiteral("wenhao_press.png"), {15, 15}, std::bind(&ResourceArtist::help, _1, _2, true), kWhite},
        {QStringLiteral("rotate.png"), {20, 20}, &ResourceArtist::rotate, kBar},
        {QStringLiteral("mirror.png"), {20, 20}, std::bind(&ResourceArtist::mirror, _1, _2, false), kBar},
        {QStringLiteral("mirror_top.png"), {20, 20}, std::bind(&ResourceArtist::mirror, _1, _2, true), kBar},
        {QStringLiteral("file.png"), {16, 16}, &ResourceArtist::folder, kGrey},
        {QStringLiteral("v1.png"), {278, 210}, &ResourceArtist::pixelCircuit, kWhite},
        {QStringLiteral("v2.png"), {278, 170}, &ResourceArtist::gateTiming, kWhite},
    };
}

QImage ResourceArtist::render(const Entry &entry)
{
    QImage image(entry.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    entry.draw(p, entry.size);
    p.end();
    return image;
}

void ResourceArtist::logo(QPainter &p, const QSize &)
{
    p.setPen(roundPen(kWhite, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1.7, 1.7, 20.6, 20.6), 4.5, 4.5);
    matrixCells(p, QRectF(5.5, 5.5, 13, 13), kWhite);
}

void ResourceArtist::makerLogo(QPainter &p, const QSize &s)
{
    const QRectF mark(1.5, 2.5, 20, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(mark, 4.5, 4.5);
    matrixCells(p, mark.adjusted(4.5, 4.5, -4.5, -4.5), kWhite);

    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(15);
    const QRectF textArea(26, 0, s.width() - 27, s.height());
    while (QFontMetricsF(f).horizontalAdvance(QStringLiteral("Velmoray")) > textArea.width()
           && f.pixelSize() > 8) {
        f.setPixelSize(f.pixelSize() - 1);
    }
    p.setFont(f);
    p.setPen(kAccentDark);
    p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Velmoray"));
}

void ResourceArtist::play(QPainter &p, const QSize &)
{
    QPolygonF tri;
    tri << QPointF(7, 4.5) << QPointF(18, 11) << QPointF(7, 17.5);
    p.setPen(roundPen(kWhite, 1.5));
    p.setBrush(kWhite);
    p.drawPolygon(tri);
}

void ResourceArtist::stop(QPainter &p, const QSize &)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRoundedRect(QRectF(5.5, 5.5, 11, 11), 2, 2);
}

void ResourceArtist::minimize(QPainter &p, const QSize &)
{
    p.setPen(roundPen(kWhite, 1.5));
    p.drawLine(QPointF(3, 8.5), QPointF(13, 8.5));
}

void ResourceArtist::maximize(QPainter &p, const QSize &)
{
    p.setPen(roundPen(kWhite, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3.2, 3.2, 9.6, 9.6), 1.2, 1.2);
}

void ResourceArtist::restore(QPainter &p, const QSize &)
{
    p.setPen(roundPen(kWhite, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(2.5, 5.5, 8, 8), 1, 1);
    QPainterPath back;
    back.moveTo(5.5, 5.0);
    back.lineTo(5.5, 2.5);
    back.lineTo(13.5, 2.5);
    back.lineTo(13.5, 10.5);
    back.lineTo(11.0, 10.5);
    p.drawPath(back);
}

void ResourceArtist::closeCross(QPainter &p, const QSize &)
{
    p.setPen(roundPen(kWhite, 1.6));
    p.drawLine(QPointF(3, 3), QPointF(11, 11));
    p.drawLine(QPointF(11, 3), QPointF(3, 11));
}

void ResourceArtist::deviceChip(QPainter &p, const QSize &, const QColor &c)
{
    p.setPen(roundPen(c, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(8, 8, 16, 16), 3, 3);
    for (qreal x : {12.0, 16.0, 20.0}) {
        p.drawLine(QPointF(x, 3.5), QPointF(x, 7));
        p.drawLine(QPointF(x, 25), QPointF(x, 28.5));
        p.drawLine(QPointF(3.5, x), QPointF(7, x));
        p.drawLine(QPointF(25, x), QPointF(28.5, x));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(12.5, 12.5, 7, 7), 1.2, 1.2);
}

void ResourceArtist::gauge(QPainter &p, const QSize &, const QColor &c)
{
    const QPointF centre(16, 19);
    const qreal r = 12;
    p.setPen(roundPen(c, 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), -25 * 16, 230 * 16);
    p.setPen(roundPen(c, 1.6));
    for (int deg = 180; deg >= 0; deg -= 45) {
        const qreal a = qDegreesToRadians(qreal(deg));
        p.drawLine(QPointF(centre.x() + (r - 4) * qCos(a), centre.y() - (r - 4) * qSin(a)),
                   QPointF(centre.x() + (r - 2.2) * qCos(a), centre.y() - (r - 2.2) * qSin(a)));
    }
    const qreal needle = qDegreesToRadians(50.0);
    p.setPen(roundPen(c, 2.2));
    p.drawLine(centre, QPointF(centre.x() + 8 * qCos(needle), centre.y() - 8 * qSin(needle)));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(centre, 2.4, 2.4);
}

void ResourceArtist::crosshair(QPainter &p, const QSize &, const QColor &c)
{
    p.setPen(roundPen(c, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 9, 9);
    p.drawLine(QPointF(16, 2.5), QPointF(16, 10));
    p.drawLine(QPointF(16, 22), QPointF(16, 29.5));
    p.drawLine(QPointF(2.5, 16), QPointF(10, 16));
    p.drawLine(QPointF(22, 16), QPointF(29.5, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(16, 16), 2.5, 2.5);
}

void ResourceArtist::disk(QPainter &p, const QSize &, const QColor &c)
{
    QPainterPath body;
    body.moveTo(7, 5);
    body.lineTo(22, 5);
    body.lineTo(27, 10);
    body.lineTo(27, 25);
    body.quadTo(27, 27, 25, 27);
    body.lineTo(7, 27);
    body.quadTo(5, 27, 5, 25);
    body.lineTo(5, 7);
    body.quadTo(5, 5, 7, 5);
    p.setPen(roundPen(c, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);
    p.drawRect(QRectF(10, 5, 10, 6.5));
    p.drawRoundedRect(QRectF(9.5, 17, 13, 10), 1, 1);
    p.setPen(roundPen(c, 1.4));
    p.drawLine(QPointF(12.5, 21), QPointF(19.5, 21));
}

void ResourceArtist::info(QPainter &p, const QSize &, const QColor &c)
{
    p.setPen(roundPen(c, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 11.5, 11.5);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(16, 10.5), 1.8, 1.8);
    p.setPen(roundPen(c, 2.8));
    p.drawLine(QPointF(16, 15), QPointF(16, 22));
}

void ResourceArtist::chevron(QPainter &p, const QSize &, bool down)
{
    QPolygonF line;
    if (down)
        line << QPointF(2.5, 4.5) << QPointF(6, 8) << QPointF(9.5, 4.5);
    else
        line << QPointF(2.5, 7.5) << QPointF(6, 4) << QPointF(9.5, 7.5);
    p.setPen(roundPen(QColor(0x8C, 0x69, 0x27), 1.7));
    p.drawPolyline(line);
}

void ResourceArtist::checkBox(QPainter &p, const QSize &, bool checked)
{
    const QRectF box(0.75, 0.75, 12.5, 12.5);
    if (!checked) {
        p.setPen(QPen(QColor(0x88, 0x88, 0x88), 1.2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(box, 2.5, 2.5);
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(box.adjusted(-0.5, -0.5, 0.5, 0.5), 2.5, 2.5);
    QPolygonF tick;
    tick << QPointF(3.5, 7.2) << QPointF(6, 9.7) << QPointF(10.6, 4.5);
    p.setPen(roundPen(kWhite, 1.8));
    p.drawPolyline(tick);
}

void ResourceArtist::help(QPainter &p, const QSize &s, bool pressed)
{
    const QRectF circle(0.75, 0.75, 13.5, 13.5);
    if (pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
    } else {
        p.setPen(QPen(kAccent, 1.3));
        p.setBrush(Qt::white);
    }
    p.drawEllipse(circle);
    text(p, QRectF(0, 0, s.width(), s.height() + 0.5), QStringLiteral("?"), 10.5,
         pressed ? kWhite : kAccent, Qt::AlignCenter, true);
}

void ResourceArtist::rotate(QPainter &p, const QSize &)
{
    // A clockwise quarter-turn arrow around the centre.
    const QRectF ring(3.5, 4, 13, 13);
    p.setPen(roundPen(kWhite, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(ring, 120 * 16, 270 * 16);
    // Arc runs counter-clockwise in Qt angles from 120 to 390 (= 30) degrees;
    // the head sits at its start and points along the clockwise direction.
    const qreal a = qDegreesToRadians(120.0);
    const QPointF start(ring.center().x() + 6.5 * qCos(a), ring.center().y() - 6.5 * qSin(a));
    arrowHead(p, start + QPointF(2.6, 1.2), -20, 5.5, kWhite);
}

void ResourceArtist::mirror(QPainter &p, const QSize &, bool vertical)
{
    p.save();
    if (vertical) {
        // The same picture turned a quarter: mirror top to bottom.
        p.translate(20, 0);
        p.rotate(90);
    }
    QPen axis(kWhite, 1.2, Qt::CustomDashLine, Qt::FlatCap);
    axis.setDashPattern({1.6, 1.6});
    p.setPen(axis);
    p.drawLine(QPointF(10, 1.5), QPointF(10, 18.5));

    QPolygonF left;
    left << QPointF(7.5, 4.5) << QPointF(7.5, 15.5) << QPointF(2, 15.5);
    p.setPen(roundPen(kWhite, 1.2));
    p.setBrush(kWhite);
    p.drawPolygon(left);

    QPolygonF right;
    right << QPointF(12.5, 4.5) << QPointF(12.5, 15.5) << QPointF(18, 15.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(kWhite, 1.3));
    p.drawPolygon(right);
    p.restore();
}

void ResourceArtist::folder(QPainter &p, const QSize &)
{
    QPainterPath path;
    path.moveTo(2, 4);
    path.lineTo(6.2, 4);
    path.lineTo(7.7, 5.6);
    path.lineTo(14, 5.6);
    path.lineTo(14, 12.8);
    path.lineTo(2, 12.8);
    path.closeSubpath();
    p.setPen(roundPen(kWhite, 1.2));
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawPath(path);
    p.drawLine(QPointF(2, 7.4), QPointF(14, 7.4));
}

void ResourceArtist::pixelCircuit(QPainter &p, const QSize &s)
{
    diagramCard(p, s);
    const QColor wire(0x33, 0x33, 0x33);
    const QColor label(0x44, 0x44, 0x44);

    // Bias terminal at the top, feeding the photodiode's cathode.
    const QPointF bias(48, 24);
    terminal(p, bias, kAccent);
    text(p, QRectF(58, 14, 70, 20), QStringLiteral("Vbias1"), 13, kAccent, Qt::AlignLeft | Qt::AlignVCenter, true);

    p.setPen(roundPen(wire, 1.6));
    p.drawLine(bias + QPointF(0, 4), QPointF(48, 52));

    // Photodiode, cathode (bar) up, anode down.
    p.drawLine(QPointF(38, 52), QPointF(58, 52));
    QPolygonF diode;
    diode << QPointF(48, 52) << QPointF(38, 70) << QPointF(58, 70);
    p.setBrush(Qt::white);
    p.drawPolygon(diode);
    p.drawLine(QPointF(48, 70), QPointF(48, 112));
    text(p, QRectF(62, 52, 40, 20), QStringLiteral("PD"), 12, label, Qt::AlignLeft | Qt::AlignVCenter, true);

    // Incoming light.
    for (qreal dy : {0.0, 10.0}) {
        const QPointF from(14, 40 + dy), to(30, 54 + dy);
        p.setPen(roundPen(kAccent, 1.4));
        p.drawLine(from, to);
        arrowHead(p, to + QPointF(2, 1.75), -41, 6, kAccent);
    }
    text(p, QRectF(6, 72, 34, 16), QStringLiteral("light"), 10, kAccent, Qt::AlignLeft | Qt::AlignVCenter);

    // Storage node to the TFT's drain.
    p.setPen(roundPen(wire, 1.6));
    p.drawLine(QPointF(48, 112), QPointF(110, 112));
    junction(p, QPointF(48, 112), wire);

    // TFT: drain and source stubs on the channel, gate plate below it.
    p.setPen(roundPen(wire, 1.6));
    p.drawLine(QPointF(110, 112), QPointF(110, 124));
    p.drawLine(QPointF(150, 112), QPointF(150, 124));
    p.setPen(roundPen(wire, 2.6));
    p.drawLine(QPointF(104, 124), QPointF(156, 124));
    p.drawLine(QPointF(104, 132), QPointF(156, 132));
    p.setPen(roundPen(wire, 1.6));
    p.drawLine(QPointF(130, 132), QPointF(130, 170));
    text(p, QRectF(96, 96, 20, 14), QStringLiteral("D"), 10, label);
    text(p, QRectF(144, 96, 20, 14), QStringLiteral("S"), 10, label);
    text(p, QRectF(160, 122, 40, 14), QStringLiteral("TFT"), 12, label, Qt::AlignLeft | Qt::AlignVCenter, true);

    // Gate line driven between Von (row selected) and Voff (row held).
    p.setPen(roundPen(wire, 1.6));
    p.drawLine(QPointF(58, 170), QPointF(200, 170));
    junction(p, QPointF(130, 170), wire);
    terminal(p, QPointF(54, 170), kAccent);
    text(p, QRectF(20, 176, 140, 18), QStringLiteral("Gate: Von / Voff"), 12, kAccent,
         Qt::AlignLeft | Qt::AlignVCenter, true);

    // Source to the data line and the readout amplifier.
    p.setPen(roundPen(wire, 1.6));
    p.drawLine(QPointF(150, 112), QPointF(214, 112));
    QPolygonF amp;
    amp << QPointF(214, 96) << QPointF(246, 112) << QPointF(214, 128);
    p.setBrush(Qt::white);
    p.drawPolygon(amp);
    p.drawLine(QPointF(246, 112), QPointF(262, 112));
    text(p, QRectF(216, 104, 20, 16), QStringLiteral("∫"), 12, label);
    text(p, QRectF(176, 92, 40, 16), QStringLiteral("data"), 10, label);
    text(p, QRectF(198, 132, 72, 16), QStringLiteral("readout"), 11, label);

    text(p, QRectF(0, s.height() - 18, s.width() - 8, 14), QStringLiteral("1T0C pixel"), 10,
         QColor(0x88, 0x88, 0x88), Qt::AlignRight | Qt::AlignVCenter);
}

void ResourceArtist::gateTiming(QPainter &p, const QSize &s)
{
    diagramCard(p, s);
    const QColor grid(0xBB, 0xBB, 0xBB);
    const QColor label(0x44, 0x44, 0x44);
    const qreal left = 52, right = s.width() - 14;
    const qreal yOn = 30, yZero = 70, yOff = 110, yBias = 146;

    // Reference levels.
    QPen dashed(grid, 1, Qt::DashLine);
    p.setPen(dashed);
    for (qreal y : {yOn, yZero, yOff})
        p.drawLine(QPointF(left, y), QPointF(right, y));
    text(p, QRectF(6, yOn - 9, 44, 18), QStringLiteral("Von"), 12, kAccent, Qt::AlignLeft | Qt::AlignVCenter, true);
    text(p, QRectF(6, yZero - 9, 44, 18), QStringLiteral("0 V"), 11, label, Qt::AlignLeft | Qt::AlignVCenter);
    text(p, QRectF(6, yOff - 9, 44, 18), QStringLiteral("Voff"), 12, kAccent, Qt::AlignLeft | Qt::AlignVCenter, true);

    // Gate of one row: held at Voff, raised to Von while the row is read.
    QPolygonF gate;
    gate << QPointF(left, yOff) << QPointF(92, yOff) << QPointF(92, yOn) << QPointF(122, yOn)
         << QPointF(122, yOff) << QPointF(182, yOff) << QPointF(182, yOn) << QPointF(212, yOn)
         << QPointF(212, yOff) << QPointF(right, yOff);
    p.setPen(roundPen(kAccent, 2.2));
    p.drawPolyline(gate);
    text(p, QRectF(84, yOn - 22, 46, 16), QStringLiteral("read"), 10, label);
    text(p, QRectF(174, yOn - 22, 46, 16), QStringLiteral("read"), 10, label);

    // Photodiode bias: steady during the whole frame.
    p.setPen(roundPen(QColor(0x41, 0x69, 0xE1), 2));
    p.drawLine(QPointF(left, yBias), QPointF(right, yBias));
    text(p, QRectF(6, yBias - 9, 46, 18), QStringLiteral("Vbias"), 11, QColor(0x41, 0x69, 0xE1),
         Qt::AlignLeft | Qt::AlignVCenter, true);
    text(p, QRectF(left, yBias + 3, right - left, 16), QStringLiteral("Vbias2 = Vbias1"), 10, label,
         Qt::AlignRight | Qt::AlignVCenter);

    // Time axis arrow.
    p.setPen(roundPen(label, 1.2));
    p.drawLine(QPointF(left, yBias - 14), QPointF(right - 4, yBias - 14));
    arrowHead(p, QPointF(right, yBias - 14), 0, 6, label);
    text(p, QRectF(right - 22, yBias - 30, 20, 14), QStringLiteral("t"), 11, label);
}

QImage ResourceArtist::previewSheet(int scale)
{
    const std::vector<Entry> all = entries();
    const int cell = 32 * scale + 16;
    const int columns = 6;
    int iconRows = 0, diagramHeight = 0, diagramWidth = 0;
    for (const Entry &e : all) {
        if (e.size.width() > 101) {
            diagramHeight = qMax(diagramHeight, e.size.height());
            diagramWidth += e.size.width() + 16;
        } else {
            ++iconRows;
        }
    }
    iconRows = (iconRows + columns - 1) / columns;
    QImage sheet(qMax(columns * (cell + 110), diagramWidth + 16), iconRows * (cell + 20) + diagramHeight + 40,
                 QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0xE4, 0xE4, 0xE4));
    QPainter p(&sheet);
    int index = 0, diagramX = 16;
    const int diagramY = iconRows * (cell + 20) + 20;
    for (const Entry &e : all) {
        const QImage image = render(e);
        if (e.size.width() > 101) {
            p.fillRect(QRect(QPoint(diagramX, diagramY), e.size), e.shownOn);
            p.drawImage(diagramX, diagramY, image);
            diagramX += e.size.width() + 16;
            continue;
        }
        const QSize big = e.size * scale;
        const QPoint at((index % columns) * (cell + 110) + 8, (index / columns) * (cell + 20) + 8);
        p.fillRect(QRect(QPoint(at.x() - 4, at.y() - 4), big + QSize(8, 8)), kPanel);
        p.fillRect(QRect(QPoint(at.x() - 4, at.y() - 4), big + QSize(8, 8)), e.shownOn);
        p.drawImage(QRect(at, big), image);
        p.fillRect(QRect(at + QPoint(big.width() + 12, 0), e.size + QSize(4, 4)), e.shownOn);
        p.drawImage(at + QPoint(big.width() + 14, 2), image);
        p.setPen(Qt::black);
        p.drawText(QPoint(at.x(), at.y() + big.height() + 16), e.fileName);
        ++index;
    }
    p.end();
    return sheet;
}

QImage ResourceArtist::applicationIcon(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const qreal s = side;
    // A small margin, as icon themes leave around their tiles.
    const QRectF tile(s * 0.04, s * 0.04, s * 0.92, s * 0.92);
    p.setPen(Qt::NoPen);
    p.setBrush(kBar);
    p.drawRoundedRect(tile, s * 0.18, s * 0.18);
    // The logo's frame and cells, scaled from its 24 px drawing.
    p.translate(tile.topLeft());
    p.scale(tile.width() / 24.0, tile.height() / 24.0);
    logo(p, QSize(24, 24));
    return image;
}
