#include "app/SimulatorControlWindow.h"

#include "simulator/ZK128Device.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

SimulatorControlWindow::SimulatorControlWindow(std::shared_ptr<ZK128Device> simulated, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , device(std::move(simulated))
{
    setWindowTitle(QStringLiteral("ZK128 simulator"));
    setObjectName(QStringLiteral("SimulatorControlWindow"));

    lamp = new QCheckBox(QStringLiteral("Lamp on"), this);
    scene = new QComboBox(this);
    scene->addItems({QStringLiteral("Cycling digits"), QStringLiteral("Fixed digit"), QStringLiteral("Uniform light")});
    digit = new QSpinBox(this);
    digit->setRange(0, 9);
    plug = new QPushButton(this);
    status = new QLabel(this);

    auto *form = new QFormLayout;
    form->addRow(lamp);
    form->addRow(QStringLiteral("Scene"), scene);
    form->addRow(QStringLiteral("Digit"), digit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(plug);
    layout->addWidget(status);

    connect(lamp, &QCheckBox::toggled, this, [this](bool on) {
        device->setLampOn(on);
        refresh();
    });
    connect(scene, qOverload<int>(&QComboBox::currentIndexChanged), this, &SimulatorControlWindow::applyScene);
    connect(digit, qOverload<int>(&QSpinBox::valueChanged), this, &SimulatorControlWindow::applyScene);
    connect(plug, &QPushButton::clicked, this, &SimulatorControlWindow::togglePlug);

    statusTimer = new QTimer(this);
    statusTimer->setInterval(500);
    connect(statusTimer, &QTimer::timeout, this, &SimulatorControlWindow::refresh);
    statusTimer->start();
    refresh();
}

SimulatorControlWindow::~SimulatorControlWindow() = default;

void SimulatorControlWindow::applyScene()
{
    switch (scene->currentIndex()) {
    case FixedDigit:
        device->setFixedDigit(digit->value());
        device->setScene(ZK128Device::Scene::FixedDigit);
        break;
    case UniformLight:
        device->setScene(ZK128Device::Scene::Uniform);
        break;
    default:
        device->setScene(ZK128Device::Scene::CyclingDigits);
        break;
    }
    refresh();
}

void SimulatorControlWindow::togglePlug()
{
    if (device->isPlugged())
        device->unplug();
    else
        device->replug();
    refresh();
}

void SimulatorControlWindow::refresh()
{
    {
        const QSignalBlocker quiet(lamp);
        lamp->setChecked(device->lampOn());
    }
    {
        const QSignalBlocker quiet(scene);
        switch (device->scene()) {
        case ZK128Device::Scene::FixedDigit:
            scene->setCurrentIndex(FixedDigit);
            break;
        case ZK128Device::Scene::Uniform:
            scene->setCurrentIndex(UniformLight);
            break;
        case ZK128Device::Scene::CyclingDigits:
            scene->setCurrentIndex(CyclingDigits);
            break;
        }
    }
    digit->setEnabled(scene->currentIndex() == FixedDigit);
    const bool plugged = device->isPlugged();
    plug->setText(plugged ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
    const int shown = device->digitShown();
    status->setText(QStringLiteral("%1; %2")
                        .arg(plugged ? QStringLiteral("plugged in") : QStringLiteral("unplugged"),
                             shown < 0 ? QStringLiteral("uniform light") : QStringLiteral("digit %1 in view").arg(shown)));
}
