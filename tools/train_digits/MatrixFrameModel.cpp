#include "tools/train_digits/MatrixFrameModel.h"

#include <algorithm>
#include <cmath>

MatrixFrameModel::MatrixFrameModel(const Conditions &conditions, std::mt19937 &rng)
    : cond(conditions), gain(Side, Side, CV_32F), offsetNa(Side, Side, CV_32F),
      illumination(Side, Side, CV_32F)
{
    std::normal_distribution<float> unit(0.0f, 1.0f);
    const double dx = std::cos(cond.tiltAngle), dy = std::sin(cond.tiltAngle);
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            // A linear fall-off from one side, centred on 1, and a darker rim.
            const double t = ((x - Side / 2.0) * dx + (y - Side / 2.0) * dy) / Side;
            const double r2 = ((x - Side / 2.0) * (x - Side / 2.0) + (y - Side / 2.0) * (y - Side / 2.0))
                / (Side * Side / 2.0);
            gain.at<float>(y, x) = std::max(0.0f, float(1.0 - cond.rim * r2) + float(cond.gainSpread) * unit(rng));
            offsetNa.at<float>(y, x) = float(cond.offsetMeanNa + cond.offsetSlopeNa * t)
                + float(cond.offsetSpreadNa) * unit(rng);
            illumination.at<float>(y, x) = float(1.0 - cond.tilt * t);
        }
    }
}

cv::Mat MatrixFrameModel::frame(const cv::Mat &transmission, std::mt19937 &rng, bool lampOn) const
{
    std::normal_distribution<float> noise(0.0f, float(cond.noiseNa));
    cv::Mat grey(Side, Side, CV_8U);
    const float lamp = lampOn ? float(cond.lampNa) : 0.0f;
    const float range = float(cond.rangeNa);
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            const float pass = transmission.empty() ? 1.0f : transmission.at<float>(y, x);
            const float current = gain.at<float>(y, x) * lamp * illumination.at<float>(y, x) * pass
                + offsetNa.at<float>(y, x) + noise(rng);
            // The device reports no negative current.
            const float level = std::clamp(std::max(0.0f, current) / range, 0.0f, 1.0f) * 255.0f;
            grey.at<uchar>(y, x) = static_cast<uchar>(level);
        }
    }
    return grey;
}
