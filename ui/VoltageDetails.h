#pragma once

#include <QDialog>

namespace Ui {
class VoltageDetails;
}

// Modal help for the four bias voltages of the Settings page: what each one
// drives, the value to start with, and two diagrams of the pixel.
class VoltageDetails : public QDialog
{
    Q_OBJECT

public:
    explicit VoltageDetails(QWidget *parent);
    ~VoltageDetails() override;

private:
    Ui::VoltageDetails *ui;
};
