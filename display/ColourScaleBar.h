#pragma once

#include "acquisition/DisplayScale.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

// The colour scale beside the live picture: a bar with the colours of the
// display mode from level 0 (bottom) to 255 (top), and the values they stand
// for, in nA or in % of the references. It shows what the last picture was
// drawn with, so it follows the range, calibration and the display levels.
//
// Thread contract: GUI thread only.
class ColourScaleBar : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kTicks = 5;

    explicit ColourScaleBar(QWidget *parent = nullptr);

    // displayMode: 0 gray, 1 rgb, 2 heat.
    void showScale(const DisplayScale &scale, int displayMode);

    const DisplayScale &scale() const { return m_scale; }
    int displayMode() const { return m_mode; }
    // The labels from the top (level 255) down, and the unit ("nA" or "%").
    QStringList tickTexts() const;
    QString unitText() const;
    // The bar's colours, 1 x 256, level 255 in the top row.
    const QImage &bar() const { return m_bar; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintBar();

    DisplayScale m_scale = DisplayScale::ofRange(800);
    int m_mode = -1;
    QImage m_bar;
};
