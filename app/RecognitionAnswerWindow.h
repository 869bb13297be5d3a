#pragma once

#include <QImage>
#include <QWidget>

class QLabel;

// The top-level window titled "Recognition" that shows the picture of the
// latest answer. Created on the first answer and reused; closing it only
// hides it until the next answer.
//
// Thread contract: GUI thread only.
class RecognitionAnswerWindow : public QWidget
{
    Q_OBJECT

public:
    RecognitionAnswerWindow();

    // Shows the picture at its own size and brings the window on screen.
    void showPicture(const QImage &picture);
    QImage picture() const { return m_shown; }

private:
    QLabel *m_label;
    QImage m_shown;
};
