#include "analysis/RegionStatistics.h"

#include "acquisition/FrameTypes.h"

#include <QStringList>

#include <opencv2/core.hpp>

namespace RegionStatistics {

namespace {

const QRect kMatrix(0, 0, Zk128::Side, Zk128::Side);

QString figure(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

RegionFigures measure(const std::vector<double> &currents, const QRect &region)
{
    RegionFigures figures;
    figures.region = region.isNull() ? kMatrix : region.intersected(kMatrix);
    if (currents.size() != std::size_t(Zk128::PixelCount) || figures.region.isEmpty())
        return figures;
    const QRect &r = figures.region;
    // OpenCV reads the frame in place; it is not written.
    const cv::Mat frame(Zk128::Side, Zk128::Side, CV_64F, const_cast<double *>(currents.data()));
    const cv::Mat cells = frame(cv::Rect(r.x(), r.y(), r.width(), r.height()));
    cv::Mat numbers; // NaN is the one value not equal to itself
    cv::compare(cells, cells, numbers, cv::CMP_EQ);
    figures.pixels = cv::countNonZero(numbers);
    figures.nanPixels = int(cells.total()) - figures.pixels;
    if (figures.pixels == 0)
        return figures;
    // meanStdDev sums squares: on currents of hundreds of nA that vary by
    // thousandths, that alone would swamp the deviation. Measured about the
    // mean, the sums stay small and the deviation exact (a flat frame gives 0).
    const double roughMean = cv::mean(cells, numbers)[0];
    const cv::Mat centred = cells - roughMean;
    cv::Scalar residual, deviation;
    cv::meanStdDev(centred, residual, deviation, numbers);
    cv::minMaxLoc(cells, &figures.minimum, &figures.maximum, nullptr, nullptr, numbers);
    figures.mean = roughMean + residual[0];
    figures.standardDeviation = deviation[0];
    figures.signalToNoise = figures.mean / figures.standardDeviation;
    return figures;
}

QString tabSeparated(const RegionFigures &figures)
{
    const QRect &r = figures.region;
    const QStringList header{QStringLiteral("Column"),    QStringLiteral("Row"),       QStringLiteral("Width"),
                             QStringLiteral("Height"),    QStringLiteral("Pixels"),    QStringLiteral("NaN pixels"),
                             QStringLiteral("Mean (nA)"), QStringLiteral("Std (nA)"), QStringLiteral("Min (nA)"),
                             QStringLiteral("Max (nA)"),  QStringLiteral("SNR")};
    const QStringList values{QString::number(r.x()),          QString::number(r.y()),
                             QString::number(r.width()),      QString::number(r.height()),
                             QString::number(figures.pixels), QString::number(figures.nanPixels),
                             figure(figures.mean),            figure(figures.standardDeviation),
                             figure(figures.minimum),         figure(figures.maximum),
                             figure(figures.signalToNoise)};
    return header.join(QLatin1Char('\t')) + QLatin1Char('\n') + values.join(QLatin1Char('\t')) + QLatin1Char('\n');
}

} // namespace RegionStatistics
