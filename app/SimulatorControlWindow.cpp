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
    , m_device(std::move(simulated))
{
    setWindowTitle(QStringLiteral("ZK128 simulator"));
    setObjectName(QStringLiteral("SimulatorControlWindow"));

    m_lamp = new QCheckBox(QStringLiteral("Lamp on"), this);
    m_scene = new QComboBox(this);
    m_scene->addItems({QStringLiteral("Cycling digits"), QStringLiteral("Fixed digit"), QStringLiteral("Uniform light")});
    m_digit = new QSpinBox(this);
    m_digit->setRange(0, 9);
    m_plug = new QPushButton(this);
    m_status = new QLabel(this);

    auto *form = new QFormLayout;
    form->addRow(m_lamp);
    form->addRow(QStringLiteral("Scene"), m_scene);
    form->addRow(QStringLiteral("Digit"), m_digit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_plug);
    layout->addWidget(m_status);

    connect(m_lamp, &QCheckBox::toggled, this, [this](bool on) {
        m_device->setLampOn(on);
        refresh();
    });
    connect(m_scene, qOverload<int>(&QComboBox::currentIndexChanged), this, &SimulatorControlWindow::applyScene);
    connect(m_digit, qOverload<int>(&QSpinBox::valueChanged), this, &SimulatorControlWindow::applyScene);
    connect(m_plug, &QPushButton::clicked, this, &SimulatorControlWindow::togglePlug);

    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(500);
    connect(m_statusTimer, &QTimer::timeout, this, &SimulatorControlWindow::refresh);
    m_statusTimer->start();
    refresh();
}

SimulatorControlWindow::~SimulatorControlWindow() = default;

void SimulatorControlWindow::applyScene()
{
    switch (m_scene->currentIndex()) {
    case FixedDigit:
        m_device->setFixedDigit(m_digit->value());
        m_device->setScene(ZK128Device::Scene::FixedDigit);
        break;
    case UniformLight:
        m_device->setScene(ZK128Device::Scene::Uniform);
        break;
    default:
        m_device->setScene(ZK128Device::Scene::CyclingDigits);
        break;
    }
    refresh();
}

void SimulatorControlWindow::togglePlug()
{
    if (m_device->isPlugged())
        m_device->unplug();
    else
        m_device->replug();
    refresh();
}

void SimulatorControlWindow::refresh()
{
    {
        const QSignalBlocker quiet(m_lamp);
        m_lamp->setChecked(m_device->lampOn());
    }
    {
        const QSignalBlocker quiet(m_scene);
        switch (m_device->scene()) {
        case ZK128Device::Scene::FixedDigit:
            m_scene->setCurrentIndex(FixedDigit);
            break;
        case ZK128Device::Scene::Uniform:
            m_scene->setCurrentIndex(UniformLight);
            break;
        case ZK128Device::Scene::CyclingDigits:
            m_scene->setCurrentIndex(CyclingDigits);
            break;
        }
    }
    m_digit->setEnabled(m_scene->currentIndex() == FixedDigit);
    const bool plugged = m_device->isPlugged();
    m_plug->setText(plugged ? QStringLiteral("Unplug") : QStringLiteral("Plug in"));
    const int shown = m_device->digitShown();
    m_status->setText(QStringLiteral("%1; %2")
                        .arg(plugged ? QStringLiteral("plugged in") : QStringLiteral("unplugged"),
                             shown < 0 ? QStringLiteral("uniform light") : QStringLiteral("digit %1 in view").arg(shown)));
}
