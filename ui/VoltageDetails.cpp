#include "ui/VoltageDetails.h"

#include "ui_VoltageDetails.h"

VoltageDetails::VoltageDetails(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::VoltageDetails)
{
    ui->setupUi(this);
}

VoltageDetails::~VoltageDetails()
{
    delete ui;
}
