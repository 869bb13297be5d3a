#include "recognition/DigitPreprocessor.h"

#include <opencv2/imgproc.hpp>

cv::Mat DigitPreprocessor::subtractTemplate(const cv::Mat &grey, const cv::Mat &templ)
{
    if (templ.empty() || templ.size() != grey.size() || templ.type() != grey.type())
        return grey.clone();
    cv::Mat grey16, templ16;
    grey.convertTo(grey16, CV_16S);
    templ.convertTo(templ16, CV_16S);
    cv::Mat difference = grey16 - templ16 + cv::Scalar(255);
    cv::Mat out;
    difference.convertTo(out, CV_8U); // saturates to 0..255
    return out;
}

cv::Mat DigitPreprocessor::reduce(const cv::Mat &grey, const cv::Mat &templ, bool applyClahe,
                                  bool subtract)
{
    CV_Assert(grey.type() == CV_8UC1);
    cv::Mat work = subtract ? subtractTemplate(grey, templ) : grey.clone();
    if (applyClahe) {
        cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(4.0, cv::Size(4, 4));
        clahe->apply(work, work);
    }
    cv::medianBlur(work, work, 5);
    cv::Mat small;
    cv::resize(work, small, cv::Size(InputSide, InputSide), 0, 0, cv::INTER_AREA);
    return small;
}

cv::Mat DigitPreprocessor::normalise(const cv::Mat &reduced)
{
    cv::Mat inverted;
    cv::bitwise_not(reduced, inverted);
    cv::Mat scaled;
    inverted.convertTo(scaled, CV_32F, 1.0 / 255.0);
    // Single-precision arithmetic, pixel by pixel, as the model was trained.
    for (auto it = scaled.begin<float>(); it != scaled.end<float>(); ++it)
        *it = (*it - MnistMean) / MnistStd;
    return scaled;
}

cv::Mat DigitPreprocessor::denormalise(const cv::Mat &normalised)
{
    cv::Mat levels = normalised.clone();
    for (auto it = levels.begin<float>(); it != levels.end<float>(); ++it)
        *it = (*it * MnistStd + MnistMean) * 255.0f;
    cv::Mat out;
    levels.convertTo(out, CV_8U, 1.0, 0.0);
    return out;
}
