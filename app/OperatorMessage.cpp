#include "app/OperatorMessage.h"

#include <QMessageBox>

void OperatorMessage::showBox(const QString &text)
{
    QMessageBox box;
    box.setText(text);
    box.exec();
}
