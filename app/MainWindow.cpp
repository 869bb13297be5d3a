#include "MainWindow.h"

#include "CaptureControl.h"
#include "ColourScaleBar.h"
#include "DeviceStatusStrip.h"
#include "RunFolderLink.h"
#include "ComboBoxDelegate.h"
#include "ConsoleContext.h"
#include "DeviceConnection.h"
#include "DisplayPipeline.h"
#include "ItCurvePage.h"
#include "LiveAnalysisPage.h"
#include "KeepRatioWidget.h"
#include "Log.h"
#include "ParameterPanel.h"
#include "BiasVoltages.h"
#include "ParameterSummary.h"
#include "RecognitionPage.h"
#include "SavePanel.h"
#include "SimulatorControlWindow.h"
#include "WorkerGate.h"
#include "ResourceBundle.h"
#include "VoltageDetails.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#include <dbt.h>
#endif

namespace {

const char *const MaximizeSheet =
    "QPushButton { border-image: url(:/image/image_resource/Maximize-1.png);\nmargin:7px;}";
const char *const RestoreSheet =
    "QPushButton { border-image: url(:/image/image_resource/Maximize-3.png);\nmargin:7px;}";

const char *const ExitBoxSheet =
    "QMessageBox {  background-color: #F0F3F6;  color:black;  padding:20px;  border-style: solid;  "
    "border-width: 1px;  border-color: grey;  border-radius: 5px;}";

// Whole numbers 1 to 800.
const char *const GearPattern = "^(?:[1-9]|[1-9]\\d|[1-7]\\d{2}|800)$";
// -15 to 15: the ends with optional zero decimals, 1..14 either sign with any
// decimals, and 0 with any decimals (the validator matches the whole text).
const char *const VoltagePattern =
    "^-15(\\.0+)?|15(\\.0+)?|-?1[0-4](\\.\\d+)?|-?[1-9](\\.\\d+)?|0(\\.\\d+)?$";
const char *const FrameCountPattern = "^[0-9]+$";

struct NavigationRow {
    const char *text;
    const char *icon;
    const char *selectedIcon;
};

const NavigationRow NavigationRows[] = {
    {"System", ":/image/image_resource/control_1.png", ":/image/image_resource/control_2.png"},
    {"Settings", ":/image/image_resource/current_1.png", ":/image/image_resource/current_2.png"},
    {"Display", ":/image/image_resource/calibration_1.png", ":/image/image_resource/calibration_2.png"},
    {"Save", ":/image/image_resource/save_table.png", ":/image/image_resource/save_table_1.png"},
    {"About", ":/image/image_resource/about_1.png", ":/image/image_resource/about_2.png"},
};

// Boolean keys act only when their text form is exactly "true"; a missing key
// reads as the empty string and so leaves the widget alone.
bool storedTrue(const QSettings &settings, const QString &key)
{
    return settings.value(key, QString()).toString() == QLatin1String("true");
}

} // namespace

MainWindow::MainWindow(const ConsoleContext &context, QWidget *parent)
    : QMainWindow(parent)
    , context(context)
    , ui(new Ui::MainWindow)
    , worker(context)
    , session(context.backend())
{
    ResourceBundle::ensureRegistered();
    ui->setupUi(this);
    buildStatusViews();
    fpsTimer = new QTimer(this);
    batteryTimer.setInterval(DeviceConnection::BatteryIntervalMs);
    buildControllers();
    deviceConnection->refreshDeviceList();
    connectButtons();
    connectWorker();
    buildNavigation();
    applyInputConstraints();
    ui->widget_play->hide();
    ui->widget_bat->hide();
    ui->widget_range->hide();
    setIconToolTips();

    // Arrival and removal of devices; on Windows nativeEvent hears them instead.
    deviceConnection->watchDevices(context.sharedBackend());
    // The simulator's controls sit in a window of their own, so the layout
    // of this one stays as it is.
    auto *simulatorShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")), this);
    connect(simulatorShortcut, &QShortcut::activated, this, &MainWindow::openSimulatorControls);

    loadSettings();
    parameterPanel->showRangeTiming();
    connect(&m_statusTimer, &QTimer::timeout, this, &MainWindow::refreshStatus);
    m_statusTimer.start(250);
    refreshStatus();
    // Once the window runs: a message about them must not hold up construction.
    QTimer::singleShot(0, analysisPage, &LiveAnalysisPage::loadReferencesAtStart);
}

void MainWindow::buildControllers()
{
    // In dependency order: each controller is built after those it uses.
    gate = new WorkerGate(worker, workerThread, this);
    buildLiveView();
    capture = new CaptureControl(CaptureWidgets{ui->pushButton_play, ui->widget_play, ui->pushButton_set, ui->widget_7},
                                 state, worker, *gate, *fpsTimer, batteryTimer, [this] { recognitionPage->reset(); },
                                 OperatorMessage::modalBox(), this);
    deviceConnection = new DeviceConnection(
        ConnectionWidgets{ui->comboBox, ui->pushButton_Connect, ui->widget_play, ui->widget_bat, ui->widget_8},
        state, worker, session, *gate, batteryTimer, [this] { capture->stop(); }, OperatorMessage::modalBox(), this);
    deviceConnection->setOnDeviceGivenUp([this](const QString &reason) { worker.endSaveRun(reason); });
    deviceConnection->setOnConnected([this] { parameterPanel->applyStored(); });
    parameterPanel = new ParameterPanel(
        ParameterWidgets{ui->radioButton_800, ui->radioButton_100, ui->radioButton_10, ui->radioButton_1,
                         ui->radioButton_optional_gear, ui->widget_range, ui->lineEdit_gear, ui->lineEdit_vc,
                         ui->lineEdit_vd, ui->lineEdit_von, ui->lineEdit_voff, m_rangeTiming},
        state, worker, session, *gate, parameterSummary, OperatorMessage::modalBox(), this);
    savePanel = new SavePanel(SaveWidgets{ui->comboBox_saveframes, ui->lineEdit_savename, ui->lineEdit_savepath,
                                          ui->checkBox_data, ui->checkBox_picture, ui->checkBox_video,
                                          ui->checkBox_hdf5, ui->progressBar, ui->label_savestate, m_runFolder},
                              state, worker.saveRuns(), parameterSummary, [this] { return runMetadata(); },
                              OperatorMessage::modalBox(), this);
    curvePage = new ItCurvePage(ui->widget_9, state, worker.readout(),
                                [this] { return parameterPanel->chosenRange(); }, OperatorMessage::modalBox(), this);
    recognitionPage = new RecognitionPage(ui->widget_24, state, worker.templatePicture(), context.paths(),
                                          [this] { pipeline->requestTestPicture(); }, OperatorMessage::modalBox(),
                                          this);
    connect(pipeline, &DisplayPipeline::testPictureFailed, recognitionPage, &RecognitionPage::testPictureFailed);
    analysisPage = new LiveAnalysisPage(
        ui->verticalLayout_10, ui->widget_9, worker, state,
        [this]() -> const BiasVoltages & { return parameterPanel->sentVoltages(); }, *pipeline, context.settings(),
        OperatorMessage::modalBox(), this);
}

void MainWindow::buildLiveView()
{
    display = new KeepRatioWidget;
    displayLayout = new QHBoxLayout;
    displayLayout->addWidget(display);
    displayLayout->addWidget(m_colourScale);
    ui->widget_display->setLayout(displayLayout);
    connect(display, &KeepRatioWidget::click_coor, this, &MainWindow::SetClickedLocate);
    connect(display, &KeepRatioWidget::dblClick_coor, this, &MainWindow::SetDoubleClickedLocate);

    pipeline = new DisplayPipeline(DisplayWidgets{ui->label_fps, ui->label_clicked_locate, ui->label_clicked_current,
                                                  ui->radioButton_gray, ui->radioButton_rgb, ui->radioButton_heat},
                                   display, worker.rendering(), worker.readout(), context.paths().detectFolder,
                                   this);
    connect(pipeline, &DisplayPipeline::frameShown, this, &MainWindow::showColourScale);
}

void MainWindow::buildStatusViews()
{
    m_statusStrip = new DeviceStatusStrip(ui->widget_2);
    ui->verticalLayout_28->addWidget(m_statusStrip);
    m_colourScale = new ColourScaleBar;
    m_runFolder = new RunFolderLink(ui->widget_53);
    ui->verticalLayout_29->addWidget(m_runFolder);
    m_rangeTiming = new QLabel(ui->widget_14);
    m_rangeTiming->setObjectName(QStringLiteral("label_range_timing"));
    m_rangeTiming->setStyleSheet(QStringLiteral("QLabel { font-family: 'Arial'; color: #555555; }"));
    m_rangeTiming->setWordWrap(true);
    ui->verticalLayout_16->addWidget(m_rangeTiming);
}

void MainWindow::setIconToolTips()
{
    // The play button's tip follows the capture (CaptureControl); the
    // battery's carries its voltage (DeviceConnection).
    ui->pushButton_rotate->setToolTip(QStringLiteral("Rotate the picture by 90 degrees"));
    ui->pushButton_mirrorHorizontal->setToolTip(QStringLiteral("Mirror the picture left to right"));
    ui->pushButton_mirrorVertical->setToolTip(QStringLiteral("Mirror the picture top to bottom"));
    ui->pushButton_voltage_about->setToolTip(QStringLiteral("What the bias voltages do"));
    ui->pushButton_minimize->setToolTip(QStringLiteral("Minimise"));
    ui->pushButton_maxsize->setToolTip(QStringLiteral("Maximise"));
    ui->pushButton_close->setToolTip(QStringLiteral("Close"));
    ui->widget_bat->setToolTip(QStringLiteral("Battery: unknown"));
}

void MainWindow::showColourScale()
{
    m_colourScale->showScale(worker.rendering().shownScale(), pipeline->displayMode());
}

void MainWindow::refreshStatus()
{
    DeviceStatus status;
    status.backend = context.backendKind();
    if (state.connected) {
        status.serial = deviceConnection->serial();
        status.batteryVolts = deviceConnection->batteryVolts();
        if (!state.configured)
            status.state = DeviceStatus::State::NotConfigured;
        else
            status.state = state.running ? DeviceStatus::State::Capturing : DeviceStatus::State::Connected;
        if (state.configured) {
            status.rangeNa = worker.currentRangeValue();
            status.integrationCount = std::uint32_t(parameterPanel->searchState().integrationCount);
        }
    }
    m_statusStrip->showStatus(status);
    if (!state.running)
        pipeline->markNotLive();
}

SimulatorControlWindow *MainWindow::simulatorControls() const
{
    return simulatorWindow.data();
}

void MainWindow::openSimulatorControls()
{
    if (!context.simulator()) {
        logLine("The simulator controls are only available with the built-in simulator.");
        return;
    }
    if (!simulatorWindow)
        simulatorWindow = new SimulatorControlWindow(context.simulator(), this);
    simulatorWindow->show();
    simulatorWindow->raise();
    simulatorWindow->activateWindow();
}

MainWindow::~MainWindow()
{
    saveSettings();
    worker.endSaveRun(QStringLiteral("the console was closed"));
    worker.requestStop();
    worker.shutdown();
    workerThread.quit();
    workerThread.wait();
    deviceConnection->closeOnExit(); // the worker has ended: nothing else reads the device
    delete ui;
    ui = nullptr;
    // The remaining members die in reverse order; the worker (saving its own
    // settings) goes before its thread object.
}

void MainWindow::connectButtons()
{
    connect(ui->pushButton_maxsize, SIGNAL(clicked()), this, SLOT(handle_max_size_button_click()));
    connect(ui->pushButton_minimize, SIGNAL(clicked()), this, SLOT(handle_mini_size_button_click()));
    connect(ui->pushButton_close, SIGNAL(clicked()), this, SLOT(handle_close_button_click()));
    connect(ui->pushButton_play, SIGNAL(clicked()), this, SLOT(handle_play_button_click()));
    connect(ui->pushButton_savepath, SIGNAL(clicked()), this, SLOT(handle_save_path_button_click()));
    connect(ui->pushButton_Connect, SIGNAL(clicked()), this, SLOT(handle_connect_button_click()));
    connect(ui->pushButton_save, SIGNAL(clicked()), this, SLOT(handle_save_data_click()));
    connect(ui->pushButton_set, SIGNAL(clicked()), this, SLOT(handle_set_button_click()));
    connect(ui->pushButton_voltage_about, SIGNAL(clicked()), this, SLOT(handle_voltage_about_button_click()));

    connect(fpsTimer, &QTimer::timeout, this, &MainWindow::updateFPS);

    for (QRadioButton *range : {ui->radioButton_optional_gear, ui->radioButton_800, ui->radioButton_100,
                                ui->radioButton_10, ui->radioButton_1}) {
        connect(range, &QRadioButton::toggled, this, &MainWindow::handle_radio_button_toggled);
    }
    for (QRadioButton *mode : {ui->radioButton_gray, ui->radioButton_rgb, ui->radioButton_heat})
        connect(mode, &QRadioButton::toggled, this, &MainWindow::handle_Display_show_mode);

    connect(ui->pushButton_rotate, SIGNAL(clicked()), this, SLOT(handle_display_image_rotate()));
    connect(ui->pushButton_mirrorHorizontal, SIGNAL(clicked()), this, SLOT(handle_display_image_mirrorHorizontal()));
    connect(ui->pushButton_mirrorVertical, SIGNAL(clicked()), this, SLOT(handle_display_image_mirrorVertical()));

    connect(&batteryTimer, &QTimer::timeout, this, &MainWindow::getBattery);
}

void MainWindow::connectWorker()
{
    worker.moveToThread(&workerThread);
    connect(&workerThread, &QThread::started, &worker, &ReceiverThread::process);
    connect(&worker, &ReceiverThread::errorOccurred, this, &MainWindow::receive_errorOccurred);
    connect(&worker, &ReceiverThread::deviceFailed, deviceConnection, &DeviceConnection::workerDeviceFailure);
    connect(&worker, &ReceiverThread::setMaxSuccess, this, &MainWindow::handleSetMaxSuccess);
    connect(&worker, &ReceiverThread::setMinSuccess, this, &MainWindow::handleSetMinSuccess);
    connect(&worker, &ReceiverThread::saveFailed, savePanel, &SavePanel::showFailure);
    connect(&worker, &ReceiverThread::saveFinished, savePanel, &SavePanel::showOutcome);
    workerThread.start();
    // The loop must not touch the device before the first capture: the
    // connect handshake reads the same handle from this thread.
    worker.pause();
    refreshTimer.setInterval(refreshIntervalMs());
    connect(&refreshTimer, &QTimer::timeout, this, &MainWindow::refreshFromCapture);
    refreshTimer.start();
}

int MainWindow::refreshIntervalMs() const
{
    const QScreen *screen = this->screen();
    const double rate = screen ? screen->refreshRate() : 0.0;
    const double hertz = rate > 0.0 ? std::min(rate, kMaxRefreshHz) : kMaxRefreshHz;
    return int(std::ceil(1000.0 / hertz));
}

void MainWindow::refreshFromCapture()
{
    pipeline->refresh();
    for (PixelReadout::SeriesStep &step : worker.readout().takeSeries())
        savedata(std::move(step.samples), step.elapsedSeconds);
    const int gathered = worker.saveRuns().gathered();
    if (gathered != shownSaveProgress) {
        shownSaveProgress = gathered;
        handleSaveMessage(gathered);
    }
}

void MainWindow::buildNavigation()
{
    for (const NavigationRow &row : NavigationRows) {
        auto *item = new QListWidgetItem(QIcon(QString::fromLatin1(row.icon)), QString::fromLatin1(row.text));
        QFont font = item->font();
        font.setWeight(QFont::Bold);
        item->setFont(font);
        ui->listWidget->addItem(item);
    }
    ui->listWidget->setFocusPolicy(Qt::NoFocus);
    ui->listWidget->setCurrentRow(0);
    ui->stackedWidget->setCurrentIndex(0);
    ui->listWidget->item(0)->setIcon(QIcon(QString::fromLatin1(NavigationRows[0].selectedIcon)));

    connect(ui->listWidget, &QListWidget::currentRowChanged, ui->stackedWidget, &QStackedWidget::setCurrentIndex);
    connect(ui->listWidget, &QListWidget::itemSelectionChanged, this, &MainWindow::updateNavigationIcons);
}

void MainWindow::updateNavigationIcons()
{
    for (int i = 0; i < ui->listWidget->count(); ++i) {
        QListWidgetItem *item = ui->listWidget->item(i);
        const NavigationRow &row = NavigationRows[i];
        item->setIcon(QIcon(QString::fromLatin1(item->isSelected() ? row.selectedIcon : row.icon)));
    }
}

void MainWindow::applyInputConstraints()
{
    ui->lineEdit_gear->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(GearPattern)), ui->lineEdit_gear));
    for (QLineEdit *edit : {ui->lineEdit_vc, ui->lineEdit_vd, ui->lineEdit_von, ui->lineEdit_voff}) {
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(VoltagePattern)), edit));
    }

    QComboBox *frames = ui->comboBox_saveframes;
    frames->addItems({QStringLiteral("1"), QStringLiteral("5"), QStringLiteral("30"), QStringLiteral("50"),
                      QStringLiteral("100"), QStringLiteral("500"), QStringLiteral("1000")});
    frames->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(FrameCountPattern)), frames));
    frames->setFocusPolicy(Qt::StrongFocus);
    frames->setCompleter(nullptr);
    frames->setItemDelegate(new ComboBoxDelegate(frames));
    ui->comboBox->setItemDelegate(new ComboBoxDelegate(ui->comboBox));
}

// ---- Window buttons ------------------------------------------------------------

RunMetadata MainWindow::runMetadata() const
{
    const BiasVoltages &sent = parameterPanel->sentVoltages();
    RunMetadata metadata;
    metadata.vbias1Volts = sent.vbias1;
    metadata.vbias2Volts = sent.vbias2;
    metadata.vonVolts = sent.von;
    metadata.voffVolts = sent.voff;
    metadata.currentRangeNa = worker.currentRangeValue();
    metadata.integrationCount = std::uint32_t(parameterPanel->searchState().integrationCount);
    metadata.deviceSerial = QString::fromLatin1(DeviceSession::kSerialNumber);
    metadata.backend = context.backendKind();
    metadata.consoleVersion = QStringLiteral(TESSIVO_VERSION);
    metadata.startTime = std::chrono::system_clock::now();
    return metadata;
}

void MainWindow::handle_close_button_click()
{
    QMessageBox box;
    box.setStyleSheet(QString::fromLatin1(ExitBoxSheet));
    // A run in progress is kept with the frames saved so far.
    const QString runNote = worker.isSaveRunArmed()
        ? QStringLiteral("A save run is in progress; closing keeps the frames saved so far.\n")
        : QString();
    box.setText(runNote + QStringLiteral("Are you sure you want to exit\uFF1F"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (box.exec() == QMessageBox::Yes)
        close();
}

void MainWindow::handle_max_size_button_click()
{
    if (isMaximized()) {
        showNormal();
        ui->pushButton_maxsize->setStyleSheet(QString::fromLatin1(MaximizeSheet));
        ui->pushButton_maxsize->setToolTip(QStringLiteral("Maximise"));
    } else {
        showMaximized();
        ui->pushButton_maxsize->setStyleSheet(QString::fromLatin1(RestoreSheet));
        ui->pushButton_maxsize->setToolTip(QStringLiteral("Restore"));
    }
}

void MainWindow::handle_mini_size_button_click()
{
    showMinimized();
}

void MainWindow::handle_voltage_about_button_click()
{
    // Parented to the window, so it is released with it; closing only hides it.
    auto *dialog = new VoltageDetails(this);
    dialog->exec();
}

// ---- Settings ------------------------------------------------------------------

void MainWindow::loadSettings()
{
    const std::unique_ptr<QSettings> stored = context.settings().open();
    QSettings &settings = *stored;

    ui->comboBox_saveframes->setCurrentText(QString::number(settings.value(QStringLiteral("saveFrames"), 0).toInt()));

    const std::pair<const char *, QLineEdit *> texts[] = {
        {"saveDirectory", ui->lineEdit_savepath}, {"saveNames", ui->lineEdit_savename},
        {"lineEdit_vc", ui->lineEdit_vc},         {"lineEdit_vd", ui->lineEdit_vd},
        {"lineEdit_von", ui->lineEdit_von},       {"lineEdit_voff", ui->lineEdit_voff},
        {"lineEdit_gear", ui->lineEdit_gear},
    };
    for (const auto &[key, edit] : texts)
        edit->setText(settings.value(QString::fromLatin1(key), QString()).toString());

    const std::vector<ParameterPanel::FixedRange> ranges = parameterPanel->fixedRanges();
    bool rangeRestored = false;
    for (const auto &[button, range] : ranges) {
        if (storedTrue(settings, button->objectName())) {
            button->setChecked(true);
            parameterPanel->chooseRange(range);
            rangeRestored = true;
        }
    }
    if (storedTrue(settings, QStringLiteral("radioButton_optional_gear"))) {
        ui->radioButton_optional_gear->setChecked(true);
        parameterPanel->chooseRange(ui->lineEdit_gear->text().toInt());
        rangeRestored = true;
    }
    // With no stored range the form shows 800 nA checked; the range the first
    // Setting sends must be the one the operator sees, not the start value.
    if (!rangeRestored) {
        for (const auto &[button, range] : ranges) {
            if (button->isChecked())
                parameterPanel->chooseRange(range);
        }
    }

    parameterSummary += ParameterSummary::compose(parameterPanel->chosenRange(), ui->lineEdit_vc->text(),
                                                  ui->lineEdit_vd->text(), ui->lineEdit_von->text(),
                                                  ui->lineEdit_voff->text());

    for (QCheckBox *box : {ui->checkBox_data, ui->checkBox_picture, ui->checkBox_video, ui->checkBox_hdf5}) {
        if (storedTrue(settings, box->objectName()))
            box->setChecked(true);
    }

    // Show the beginning of a long path rather than its end.
    ui->lineEdit_savepath->setCursorPosition(0);
    ui->lineEdit_savename->setCursorPosition(0);
}

void MainWindow::saveSettings()
{
    const std::unique_ptr<QSettings> stored = context.settings().open();
    QSettings &settings = *stored;

    settings.setValue(QStringLiteral("saveFrames"), ui->comboBox_saveframes->currentText().toInt());
    settings.setValue(QStringLiteral("saveDirectory"), ui->lineEdit_savepath->text());
    settings.setValue(QStringLiteral("saveNames"), ui->lineEdit_savename->text());
    for (QLineEdit *edit : {ui->lineEdit_vc, ui->lineEdit_vd, ui->lineEdit_von, ui->lineEdit_voff, ui->lineEdit_gear})
        settings.setValue(edit->objectName(), edit->text());
    for (QAbstractButton *button :
         std::initializer_list<QAbstractButton *>{ui->radioButton_800, ui->radioButton_100, ui->radioButton_10,
                                                  ui->radioButton_1, ui->radioButton_optional_gear, ui->checkBox_data,
                                                  ui->checkBox_picture, ui->checkBox_video, ui->checkBox_hdf5}) {
        settings.setValue(button->objectName(), button->isChecked());
    }
}

// ---- Parameter panel -----------------------------------------------------------

void MainWindow::handle_radio_button_toggled(bool checked)
{
    parameterPanel->rangeToggled(sender(), checked);
}

void MainWindow::handle_set_button_click()
{
    parameterPanel->applySettings();
}

// ---- The flows behind the slots ---------------------------------------------------

void MainWindow::handleSetMaxSuccess()
{
    capture->fullOnDone();
}

void MainWindow::handleSetMinSuccess()
{
    capture->fullOffDone();
}

void MainWindow::handleSaveMessage(int index)
{
    savePanel->showProgress(index);
}

void MainWindow::handle_connect_button_click()
{
    deviceConnection->toggleConnection();
}

void MainWindow::handle_play_button_click()
{
    capture->playClicked();
}

void MainWindow::handle_stop_button_click()
{
    capture->stop();
}

void MainWindow::handle_set_full_off_click()
{
    capture->requestFullOff();
}

void MainWindow::handle_set_full_on_click()
{
    capture->requestFullOn();
}

void MainWindow::getBattery()
{
    deviceConnection->pollBattery();
}

void MainWindow::handle_save_path_button_click()
{
    savePanel->choosePath();
}

void MainWindow::receive_errorOccurred(QString errormessage)
{
    deviceConnection->workerError(errormessage);
}

void MainWindow::updateFPS()
{
    pipeline->updateFps();
}

void MainWindow::handle_display_image_rotate()
{
    pipeline->rotate();
}

void MainWindow::handle_display_image_mirrorHorizontal()
{
    pipeline->mirrorHorizontal();
}

void MainWindow::handle_display_image_mirrorVertical()
{
    pipeline->mirrorVertical();
}

void MainWindow::handle_save_data_click()
{
    savePanel->saveClicked();
}

void MainWindow::handle_cali_data_click()
{
    capture->calibrationClicked();
}

void MainWindow::handle_Display_show_mode(bool checked)
{
    pipeline->showMode(sender(), checked);
    showColourScale();
}

void MainWindow::slotTest()
{
    recognitionPage->attempt();
}

void MainWindow::OpenCanvas()
{
    curvePage->openWindow();
}

void MainWindow::Fillcoordinates(int index)
{
    curvePage->pickChannel(index);
}

void MainWindow::StartCollect()
{
    curvePage->startSeries();
}

void MainWindow::StopCollect()
{
    curvePage->stopSeries();
}

void MainWindow::onCanvasClosed()
{
    curvePage->windowClosed();
}

void MainWindow::SlotSaveModePicture()
{
    recognitionPage->collectTemplate();
}

void MainWindow::SlotOFFSetOn()
{
    recognitionPage->offsetEnableClicked();
}

void MainWindow::SlotOFFSetOff()
{
    recognitionPage->offsetDisableClicked();
}

void MainWindow::Recognize()
{
    recognitionPage->tick();
}

void MainWindow::savedata(std::shared_ptr<std::vector<std::vector<double>>> data, double duration)
{
    curvePage->seriesArrived(std::move(data), duration);
}

void MainWindow::SetClickedLocate(int x, int y)
{
    pipeline->selectCell(x, y);
}

void MainWindow::SetDoubleClickedLocate(int x, int y)
{
    // The cell drawn under the pointer, whatever the rotation and mirroring.
    const QPoint cell = pipeline->sensorCell(x, y);
    curvePage->cellDoubleClicked(cell.x(), cell.y());
}

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
#ifdef Q_OS_WIN
    if (eventType == "windows_generic_MSG") {
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_DEVICECHANGE
            && (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE))
            deviceConnection->deviceChanged();
    }
#endif
    return QMainWindow::nativeEvent(eventType, message, result);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (display)
        display->rescale();
}
