#include "app/RecognitionAnswerWindow.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

RecognitionAnswerWindow::RecognitionAnswerWindow()
    : QWidget(nullptr)
    , m_label(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Recognition"));
    // Closing the main window ends the application even while this one shows.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    m_label->setAlignment(Qt::AlignCenter);
}

void RecognitionAnswerWindow::showPicture(const QImage &picture)
{
    m_shown = picture;
    m_label->setPixmap(QPixmap::fromImage(picture));
    adjustSize();
    show();
}
