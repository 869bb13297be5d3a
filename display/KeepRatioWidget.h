#pragma once

#include <QFrame>
#include <QImage>

class QEvent;
class QHBoxLayout;
class QLabel;
class QResizeEvent;

// The frame that shows the live sensor picture. It keeps a square inner area
// centred in whatever space the layout gives it, shows the last picture scaled
// into that area, and turns left-button presses and double-clicks on the
// picture into sensor cells (column, row), 0 to 127.
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

    // The cell under a position of a label of the given size.
    static QPoint cellAt(QPoint labelPosition, QSize labelSize);
    // Where the inner area of the given ratio sits in a frame of the given size.
    static QRect innerGeometry(QSize frameSize, int ratioWidth, int ratioHeight);

signals:
    void click_coor(int x, int y);
    void dblClick_coor(int x, int y);

public slots:
    bool eventFilter(QObject *obj, QEvent *event) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showScaled();

    int ratioWidth = 1;
    int ratioHeight = 1;
    QWidget *container = nullptr;
    QHBoxLayout *containerLayout = nullptr;
    QLabel *label = nullptr;
    QImage image;
};
