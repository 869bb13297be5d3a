#include "analysis/CurrentHistogram.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cfloat>
#include <cmath>

CurrentHistogram CurrentHistogram::of(const double *currents, int count, int bins)
{
    CurrentHistogram histogram;
    if (count <= 0 || bins <= 0)
        return histogram;
    // calcHist takes single precision; a histogram needs no more.
    cv::Mat values;
    cv::Mat(1, count, CV_64F, const_cast<double *>(currents)).convertTo(values, CV_32F);
    cv::Mat finite; // NaN and infinity fail the comparison
    cv::compare(cv::abs(values), FLT_MAX, finite, cv::CMP_LE);
    if (cv::countNonZero(finite) == 0)
        return histogram;
    double low = 0.0, high = 0.0;
    cv::minMaxLoc(values, &low, &high, nullptr, nullptr, finite);
    if (high - low < 1e-9) {
        low -= 0.5;
        high += 0.5;
    }
    // calcHist leaves out values at the upper edge: widen it by a hair.
    const float edges[] = {float(low), std::nextafter(float(high), FLT_MAX)};
    const float *ranges[] = {edges};
    const int channels[] = {0};
    cv::Mat counts;
    cv::calcHist(&values, 1, channels, finite, counts, 1, &bins, ranges);

    histogram.low = low;
    histogram.high = high;
    const double width = (high - low) / bins;
    histogram.centres.resize(std::size_t(bins));
    histogram.counts.resize(std::size_t(bins));
    for (int i = 0; i < bins; ++i) {
        histogram.centres[std::size_t(i)] = low + (i + 0.5) * width;
        histogram.counts[std::size_t(i)] = counts.at<float>(i);
    }
    return histogram;
}
