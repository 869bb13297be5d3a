#include "tools/train_digits/DigitSampleFactory.h"

#include "recognition/DigitPreprocessor.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {
constexpr int Side = MatrixFrameModel::Side;
constexpr double Pi = 3.14159265358979323846;
} // namespace

DigitSampleFactory::DigitSampleFactory(unsigned seed) : generator(seed) {}

double DigitSampleFactory::uniform(double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(generator);
}

MatrixFrameModel::Conditions DigitSampleFactory::randomConditions()
{
    static const double ranges[] = {800.0, 200.0, 100.0, 10.0, 1.0};
    MatrixFrameModel::Conditions c;
    const int pick = std::uniform_int_distribution<int>(0, 5)(generator);
    c.rangeNa = pick < 5 ? ranges[pick] : uniform(1.0, 800.0);
    // The operator picks a range at which the lamp shows: from a dim picture
    // to a moderately over-driven one.
    c.lampNa = c.rangeNa * std::exp(uniform(std::log(0.25), std::log(2.0)));
    c.gainSpread = uniform(0.01, 0.12);
    c.offsetSpreadNa = c.rangeNa * uniform(0.0, 0.03);
    c.offsetMeanNa = c.rangeNa * uniform(0.0, 0.06);
    c.offsetSlopeNa = c.rangeNa * uniform(-0.05, 0.05);
    c.rim = uniform(0.0, 0.3);
    c.noiseNa = c.rangeNa * uniform(0.0, 0.03);
    c.tilt = uniform(0.0, 0.4);
    c.tiltAngle = uniform(0.0, 2 * Pi);
    return c;
}

cv::Mat DigitSampleFactory::distorted(const cv::Mat &ink)
{
    // Most hands are a little wobbly: a smooth random displacement field.
    if (uniform(0.0, 1.0) < 0.4)
        return ink;
    const double size = std::max(ink.rows, ink.cols);
    cv::Mat dx(ink.size(), CV_32F), dy(ink.size(), CV_32F);
    for (auto it = dx.begin<float>(); it != dx.end<float>(); ++it)
        *it = float(uniform(-1.0, 1.0));
    for (auto it = dy.begin<float>(); it != dy.end<float>(); ++it)
        *it = float(uniform(-1.0, 1.0));
    const double sigma = 0.15 * size, strength = uniform(0.0, 0.12) * size / 0.1;
    cv::GaussianBlur(dx, dx, cv::Size(0, 0), sigma);
    cv::GaussianBlur(dy, dy, cv::Size(0, 0), sigma);
    cv::Mat mapX(ink.size(), CV_32F), mapY(ink.size(), CV_32F);
    for (int y = 0; y < ink.rows; ++y)
        for (int x = 0; x < ink.cols; ++x) {
            mapX.at<float>(y, x) = float(x + strength * dx.at<float>(y, x));
            mapY.at<float>(y, x) = float(y + strength * dy.at<float>(y, x));
        }
    cv::Mat out;
    cv::remap(ink, out, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    return out;
}

cv::Mat DigitSampleFactory::shadowOf(const cv::Mat &ink, double maxLeak)
{
    cv::Mat mask;
    cv::threshold(ink, mask, 0.05, 1.0, cv::THRESH_BINARY);
    mask.convertTo(mask, CV_8U);
    cv::Rect box = cv::boundingRect(mask);
    if (box.empty())
        box = cv::Rect(0, 0, ink.cols, ink.rows);
    box = (box + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(0, 0, ink.cols, ink.rows);
    const cv::Mat crop = distorted(ink(box));

    // Digit height on the matrix and where it sits.
    const double height = uniform(64.0, 112.0);
    const double scaleY = height / box.height;
    const double scaleX = std::min(scaleY * uniform(0.85, 1.15), 118.0 / box.width);
    const double width = box.width * scaleX;
    const double angle = uniform(-10.0, 10.0);
    const double halfDiag = 0.5 * std::max(width, height);
    // Held roughly over the middle of the matrix, never cut off by its edge.
    const double cx = std::clamp(64.0 + uniform(-15.0, 15.0), std::min(halfDiag, 64.0), std::max(Side - halfDiag, 64.0));
    const double cy = std::clamp(64.0 + uniform(-15.0, 15.0), std::min(height / 2, 64.0), std::max(Side - height / 2, 64.0));

    cv::Mat rotation = cv::getRotationMatrix2D(cv::Point2f(0, 0), angle, 1.0);
    cv::Mat affine = (cv::Mat_<double>(2, 3) << scaleX, 0, -scaleX * box.width / 2.0, 0, scaleY,
                      -scaleY * box.height / 2.0);
    cv::Mat rot3 = cv::Mat::eye(3, 3, CV_64F), aff3 = cv::Mat::eye(3, 3, CV_64F);
    rotation.copyTo(rot3.rowRange(0, 2));
    affine.copyTo(aff3.rowRange(0, 2));
    cv::Mat full = rot3 * aff3;
    full.at<double>(0, 2) += cx;
    full.at<double>(1, 2) += cy;

    cv::Mat placed;
    cv::warpAffine(crop, placed, full.rowRange(0, 2), cv::Size(Side, Side), cv::INTER_LINEAR,
                   cv::BORDER_CONSTANT, 0);

    // Thicker or thinner strokes, then the soft edge of the shadow.
    const double stroke = uniform(0.0, 1.0);
    // Thinning only where the strokes are wide enough to survive it.
    if (stroke < 0.25 && height >= 80.0)
        cv::erode(placed, placed, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)));
    else if (stroke > 0.75)
        cv::dilate(placed, placed,
                   cv::getStructuringElement(cv::MORPH_ELLIPSE, stroke > 0.93 ? cv::Size(7, 7) : cv::Size(5, 5)));
    cv::GaussianBlur(placed, placed, cv::Size(0, 0), uniform(0.3, 1.5));

    const double leak = uniform(0.0, maxLeak);
    cv::Mat transmission = 1.0 - placed * (1.0 - leak);
    return cv::min(cv::max(transmission, 0.0), 1.0);
}

cv::Mat DigitSampleFactory::emptyShadow(bool *lampOn)
{
    *lampOn = true;
    const double kind = uniform(0.0, 1.0);
    if (kind < 0.35)
        return {};
    if (kind < 0.5) {
        *lampOn = false;
        return {};
    }
    const double leak = uniform(0.0, 0.3);
    cv::Mat block = cv::Mat::zeros(Side, Side, CV_32F);
    if (kind < 0.75) {
        // The edge of a hand or a card over part of the matrix.
        const double angle = uniform(0.0, 2 * Pi);
        const double nx = std::cos(angle), ny = std::sin(angle);
        const double edge = uniform(-0.6, 0.1) * Side;
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x)
                if ((x - Side / 2.0) * nx + (y - Side / 2.0) * ny > -edge)
                    block.at<float>(y, x) = 1.0f;
    } else {
        // A large blob, often partly off the matrix.
        const cv::Point centre(int(uniform(-20, Side + 20)), int(uniform(-20, Side + 20)));
        const cv::Size axes(int(uniform(25, 75)), int(uniform(25, 75)));
        cv::ellipse(block, centre, axes, uniform(0, 180), 0, 360, cv::Scalar(1.0), cv::FILLED);
    }
    cv::GaussianBlur(block, block, cv::Size(0, 0), uniform(0.5, 6.0));
    cv::Mat transmission = 1.0 - block * (1.0 - leak);
    return transmission;
}

DigitSampleFactory::Scene DigitSampleFactory::digitScene(const cv::Mat &ink, bool withTemplate)
{
    const MatrixFrameModel::Conditions c = randomConditions();
    const MatrixFrameModel matrix(c, generator);
    // Light leaking through the shadow must stay well below the display's top.
    const double ratio = c.lampNa / c.rangeNa;
    const double maxLeak = std::min(0.2, 0.4 / ratio);
    Scene scene;
    scene.withTemplate = withTemplate;
    scene.test = matrix.frame(shadowOf(ink, maxLeak), generator);
    scene.templ = matrix.frame({}, generator);
    return scene;
}

DigitSampleFactory::Scene DigitSampleFactory::emptyScene(bool withTemplate)
{
    MatrixFrameModel::Conditions c = randomConditions();
    // Without a digit any lamp level may be set, even one that saturates.
    c.lampNa = c.rangeNa * std::exp(uniform(std::log(0.05), std::log(20.0)));
    const MatrixFrameModel matrix(c, generator);
    bool lampOn = true;
    const cv::Mat transmission = emptyShadow(&lampOn);
    Scene scene;
    scene.withTemplate = withTemplate;
    scene.test = matrix.frame(transmission, generator, lampOn);
    scene.templ = matrix.frame({}, generator);
    return scene;
}

cv::Mat DigitSampleFactory::reduce(const Scene &scene)
{
    return DigitPreprocessor::reduce(scene.test, scene.templ, true, scene.withTemplate);
}
