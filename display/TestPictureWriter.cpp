#include "display/TestPictureWriter.h"

#include "display/DisplayLogging.h"

#include <QDebug>
#include <QDir>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <iostream>

TestPictureWriter::TestPictureWriter(QString folder)
    : m_folder(std::move(folder))
{
}

TestPictureWriter::Outcome TestPictureWriter::write(const QImage &picture) const
{
    QDir dir(m_folder);
    // No scratch folder at all: never the working directory instead.
    if (m_folder.isEmpty() || !dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        qCDebug(lcDisplay) << QStringLiteral("无法打开文件：") << m_folder;
        return Outcome::FolderMissing;
    }

    cv::Mat out;
    if (picture.format() == QImage::Format_Grayscale8) {
        // Wrapped, not copied: imwrite reads the picture's own pixel memory.
        out = cv::Mat(picture.height(), picture.width(), CV_8UC1, const_cast<uchar *>(picture.constBits()),
                      std::size_t(picture.bytesPerLine()));
    } else {
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        const cv::Mat wrapped(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                              std::size_t(rgb.bytesPerLine()));
        cv::cvtColor(wrapped, out, cv::COLOR_RGB2BGR); // the PNG writer expects blue first
    }

    bool written = false;
    try {
        written = !out.empty() && cv::imwrite(filePath().toStdString(), out);
    } catch (const cv::Exception &) {
        written = false;
    }
    if (!written) {
        std::cerr << "Error: Failed to save the image." << std::endl;
        return Outcome::WriteFailed;
    }
    return Outcome::Written;
}
