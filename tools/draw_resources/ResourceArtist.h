#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

class QPainter;

// Draws every image of the console's resource bundle. Each image is drawn at
// the size it is shown at (the widget size less its style-sheet margin), so a
// border-image never has to scale it and the lines stay crisp.
class ResourceArtist
{
public:
    struct Entry {
        QString fileName;
        QSize size;
        std::function<void(QPainter &, const QSize &)> draw;
        QColor shownOn; // the background the image sits on in the window
    };

    static std::vector<Entry> entries();

    // Renders one entry on a transparent, antialiased canvas.
    static QImage render(const Entry &entry);

    // All images enlarged on their backgrounds, for checking them by eye.
    static QImage previewSheet(int scale);

    // The application icon for desktops (menus, task bars): the title bar's
    // matrix mark, white on a rounded tile of the bar's colour, side pixels
    // square.
    static QImage applicationIcon(int side);
    // The sizes the hicolor theme gets.
    static std::vector<int> applicationIconSides() { return {16, 24, 32, 48, 64, 128, 256}; }

private:
    static void logo(QPainter &p, const QSize &s);
    static void makerLogo(QPainter &p, const QSize &s);
    static void play(QPainter &p, const QSize &s);
    static void stop(QPainter &p, const QSize &s);
    static void minimize(QPainter &p, const QSize &s);
    static void maximize(QPainter &p, const QSize &s);
    static void restore(QPainter &p, const QSize &s);
    static void closeCross(QPainter &p, const QSize &s);
    static void deviceChip(QPainter &p, const QSize &s, const QColor &c);
    static void gauge(QPainter &p, const QSize &s, const QColor &c);
    static void crosshair(QPainter &p, const QSize &s, const QColor &c);
    static void disk(QPainter &p, const QSize &s, const QColor &c);
    static void info(QPainter &p, const QSize &s, const QColor &c);
    static void chevron(QPainter &p, const QSize &s, bool down);
    static void checkBox(QPainter &p, const QSize &s, bool checked);
    static void help(QPainter &p, const QSize &s, bool pressed);
    static void rotate(QPainter &p, const QSize &s);
    static void mirror(QPainter &p, const QSize &s, bool vertical);
    static void folder(QPainter &p, const QSize &s);
    static void pixelCircuit(QPainter &p, const QSize &s);
    static void gateTiming(QPainter &p, const QSize &s);
};
