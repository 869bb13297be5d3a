#pragma once

#include "context/ConsolePaths.h"

#include <QImage>
#include <QString>

// Writes the picture the operator sees (rotated, mirrored, native 128 x 128)
// as "test.png" in the console's scratch folder, for recognition to read. Gray
// frames are written as one channel; colour frames (rgb, heat) as the colour
// picture, since recognition converts to gray itself. GUI thread.
class TestPictureWriter
{
public:
    enum class Outcome {
        Written,
        FolderMissing, // the folder could not be created: the frame is not shown, the request stays
        WriteFailed,   // the file could not be written: the request is dropped all the same
    };

    explicit TestPictureWriter(QString folder);

    Outcome write(const QImage &picture) const;
    QString folder() const { return m_folder; }
    QString filePath() const { return ConsolePaths{QString(), m_folder}.testPicture(); }

private:
    QString m_folder;
};
