#include "app/RecognitionAnswerWindow.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

RecognitionAnswerWindow::RecognitionAnswerWindow()
    : QWidget(nullptr)
    , label(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Recognition"));
    // Closing the main window ends the application even while this one shows.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    label->setAlignment(Qt::AlignCenter);
}

void RecognitionAnswerWindow::showPicture(const QImage &picture)
{
    shown = picture;
    label->setPixmap(QPixmap::fromImage(picture));
    adjustSize();
    show();
}
