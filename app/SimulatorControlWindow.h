#pragma once

#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class ZK128Device;

// A small window beside the console for the built-in simulator: the lamp, the
// scene in front of the matrix (cycling digits, one fixed digit, uniform
// light) and the USB plug. With it a person can take full-on and full-off
// references and try recognition by hand.
//
// Thread contract: GUI thread; the simulated device is itself thread-safe.
class SimulatorControlWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SimulatorControlWindow(std::shared_ptr<ZK128Device> device, QWidget *parent = nullptr);
    ~SimulatorControlWindow() override;

    // Scene choices in the order of the scene box.
    enum SceneChoice { CyclingDigits = 0, FixedDigit = 1, UniformLight = 2 };

    QCheckBox *lampBox() const { return m_lamp; }
    QComboBox *sceneBox() const { return m_scene; }
    QSpinBox *digitBox() const { return m_digit; }
    QPushButton *plugButton() const { return m_plug; }
    QLabel *statusLabel() const { return m_status; }

    // Reads the device's state back into the controls.
    void refresh();

private:
    void applyScene();
    void togglePlug();

    std::shared_ptr<ZK128Device> m_device;
    QCheckBox *m_lamp = nullptr;
    QComboBox *m_scene = nullptr;
    QSpinBox *m_digit = nullptr;
    QPushButton *m_plug = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_statusTimer = nullptr; // the digit in view changes on its own
};
