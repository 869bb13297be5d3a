#pragma once

#include <opencv2/core/mat.hpp>

#include <QRawFont>
#include <QStringList>

#include <vector>

// Printed digits drawn from font files, as ink masks for DigitSampleFactory.
// Needs a QGuiApplication (the font engine lives there).
class PrintedDigits
{
public:
    // The TrueType files of Debian's DejaVu, Liberation and FreeFont packages
    // that exist on this machine, in a fixed order.
    static QStringList installedFontFiles();

    explicit PrintedDigits(const QStringList &fontFiles);

    int fontCount() const { return int(fonts.size()); }

    // The glyph of digit in font number font, filled and outlined with a pen
    // of strokeWidth (relative to a 100-pixel glyph), sheared by shear: a
    // CV_32F mask, 1 = ink.
    cv::Mat ink(int digit, int font, double strokeWidth, double shear) const;

private:
    std::vector<QRawFont> fonts;
};
