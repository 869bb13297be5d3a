#include "display/ColourScaleBar.h"

#include "acquisition/FrameRenderer.h"

#include <QPainter>

namespace {
constexpr int kBarWidth = 14;
constexpr int kMargin = 8; // above and below the bar, half a label high
}

ColourScaleBar::ColourScaleBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("colourScale"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setToolTip(QStringLiteral("Colour scale of the live picture"));
    showScale(m_scale, 0);
}

void ColourScaleBar::showScale(const DisplayScale &scale, int displayMode)
{
    if (scale == m_scale && displayMode == m_mode)
        return;
    const bool modeChanged = displayMode != m_mode;
    m_scale = scale;
    m_mode = displayMode;
    if (modeChanged)
        paintBar();
    updateGeometry();
    update();
}

void ColourScaleBar::paintBar()
{
    // The picture's own colouring, so the bar can never disagree with it.
    m_bar = QImage(1, 256, QImage::Format_RGB888);
    for (int row = 0; row < 256; ++row) {
        uchar painted[3] = {0, 0, 0};
        FrameRenderer::paint(m_mode, double(255 - row), painted);
        if (m_mode == 0)
            painted[1] = painted[2] = painted[0];
        std::copy(painted, painted + 3, m_bar.scanLine(row));
    }
}

QString ColourScaleBar::unitText() const
{
    return m_scale.unit == DisplayScale::Unit::PercentOfReferences ? QStringLiteral("%") : QStringLiteral("nA");
}

QStringList ColourScaleBar::tickTexts() const
{
    QStringList texts;
    const double span = m_scale.high - m_scale.low;
    for (int i = 0; i < kTicks; ++i) {
        const double value = m_scale.high - span * i / (kTicks - 1);
        texts << QString::number(value, 'g', 4);
    }
    return texts;
}

QSize ColourScaleBar::sizeHint() const
{
    int widest = fontMetrics().horizontalAdvance(unitText());
    for (const QString &text : tickTexts())
        widest = std::max(widest, fontMetrics().horizontalAdvance(text));
    return QSize(kBarWidth + 6 + widest + 2, 200);
}

void ColourScaleBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int lineHeight = fontMetrics().height();
    const QRect barRect(0, kMargin + lineHeight, kBarWidth, height() - 2 * kMargin - lineHeight);
    painter.drawImage(barRect, m_bar);
    painter.setPen(QColor(0xaa, 0xaa, 0xaa));
    painter.drawRect(barRect.adjusted(0, 0, -1, -1));
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(QRect(0, 0, width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter, unitText());
    const QStringList texts = tickTexts();
    for (int i = 0; i < texts.size(); ++i) {
        const int y = barRect.top() + barRect.height() * i / (kTicks - 1);
        painter.drawLine(kBarWidth, y, kBarWidth + 4, y);
        painter.drawText(QRect(kBarWidth + 6, y - lineHeight / 2, width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         texts[i]);
    }
}
