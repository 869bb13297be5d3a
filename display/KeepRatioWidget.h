#pragma once

#include <QEvent>
#include <QFrame>
#include <QImage>
#include <QRect>

#include <optional>

class QHBoxLayout;
class QLabel;
class QMouseEvent;
class QResizeEvent;
class QRubberBand;

// The frame that shows the live sensor picture. It keeps a square inner area
// centred in whatever space the layout gives it, shows the last picture scaled
// into that area, and turns left-button presses and double-clicks on the
// picture into cells (column, row) as displayed, 0 to 127. Dragging with the
// right button marks a rectangle of displayed cells (a rubber band follows
// the pointer); a right click that stays on one cell clears it. A region
// rectangle given with setRegionOverlay is drawn over the picture.
//
// Thread contract: GUI thread only.
class KeepRatioWidget : public QFrame
{
    Q_OBJECT

public:
    explicit KeepRatioWidget(QWidget *parent = nullptr);
    ~KeepRatioWidget() override;

    // Stores the picture and shows it scaled into the label.
    void setImage(const QImage &picture);
    // Scales the stored picture again to the label's present size; does
    // nothing before the first picture.
    void rescale();

    // For tests and the window: the inner area and the picture label.
    QWidget *innerArea() const { return container; }
    QLabel *pictureLabel() const { return label; }
    const QImage &lastImage() const { return image; }

    // The rectangle of displayed cells drawn over the picture from the next
    // scaling on (setImage or rescale); a null rectangle draws none.
    void setRegionOverlay(const QRect &displayedCells) { m_overlay = displayedCells; }
    QRect regionOverlay() const { return m_overlay; }

    // The picture scaled smoothly to fit the bounds, keeping its aspect ratio.
    static QImage smoothlyScaled(const QImage &picture, QSize bounds);
    // The cell under a position of a label of the given size.
    static QPoint cellAt(QPoint labelPosition, QSize labelSize);
    // Where the inner area of the given ratio sits in a frame of the given size.
    static QRect innerGeometry(QSize frameSize, int ratioWidth, int ratioHeight);
    // The pixels that show a rectangle of cells in a picture of the given size.
    static QRect cellPixels(const QRect &cells, QSize pictureSize);

signals:
    void cellClicked(int x, int y);
    void cellDoubleClicked(int x, int y);
    // A right-button drag ended; the rectangle spans both end cells.
    void regionDragged(const QRect &displayedCells);
    // A right click that did not leave its cell.
    void regionCleared();

public slots:
    bool eventFilter(QObject *obj, QEvent *event) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showScaled();
    void leftButton(QEvent::Type type, QPoint cell);
    void rightButton(QEvent::Type type, QPoint cell);
    QPoint clampedCellAt(const QMouseEvent *mouse) const;

    int ratioWidth = 1;
    int ratioHeight = 1;
    QWidget *container = nullptr;
    QHBoxLayout *containerLayout = nullptr;
    QLabel *label = nullptr;
    QImage image;
    QRect m_overlay;                   // displayed cells; null for none
    QRubberBand *m_rubberBand = nullptr; // shown while the right button drags
    std::optional<QPoint> m_dragStart; // the cell the right button went down on
};
