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
#include "EventLog.h"
#include "ParameterPanel.h"
#include "app/PlaybackBar.h"
#include "app/RecordingPlayback.h"
#include "BiasVoltages.h"
#include "ParameterSummary.h"
#include "RecognitionPage.h"
#include "SavePanel.h"
#include "SimulatorControlWindow.h"
#include "WorkerGate.h"
#include "ResourceBundle.h"
#include "VoltageDetails.h"
#include "WindowAccessibility.h"
#include "WindowForm.h"
#include "WindowSettings.h"
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
    WindowAccessibility::install(*this, *ui);
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
    connect(&worker, &ReceiverThread::loopParked, gate, &WorkerGate::loopParked, Qt::QueuedConnection);
    buildLiveView();
    capture = new CaptureControl(CaptureWidgets{ui->pushButton_play, ui->widget_play, ui->pushButton_set, ui->widget_7},
                                 state,
                                 CaptureTargets{worker, worker.saveRuns(), worker.rendering(), worker.references()},
                                 *gate, *fpsTimer, batteryTimer, [this] { recognitionPage->reset(); },
                                 context.log(), OperatorMessage::modalBox(), this);
    deviceConnection = new DeviceConnection(
        ConnectionWidgets{ui->comboBox, ui->pushButton_Connect, ui->widget_play, ui->widget_bat, ui->widget_8},
        state, worker, session, *gate, batteryTimer, [this] { capture->stop(); }, context.log(),
        OperatorMessage::modalBox(), this);
    deviceConnection->setOnDeviceGivenUp([this](const QString &reason) { worker.endSaveRun(reason); });
    deviceConnection->setOnConnected([this] { parameterPanel->applyStored(); });
    parameterPanel = new ParameterPanel(
        ParameterWidgets{ui->radioButton_800, ui->radioButton_100, ui->radioButton_10, ui->radioButton_1,
                         ui->radioButton_optional_gear, ui->widget_range, ui->lineEdit_gear, ui->lineEdit_vc,
                         ui->lineEdit_vd, ui->lineEdit_von, ui->lineEdit_voff, m_rangeTiming},
        state, worker, session, *gate, parameterSummary, context.log(), OperatorMessage::modalBox(), this);
    savePanel = new SavePanel(SaveWidgets{ui->comboBox_saveframes, ui->lineEdit_savename, ui->lineEdit_savepath,
                                          ui->checkBox_data, ui->checkBox_picture, ui->checkBox_video,
                                          ui->checkBox_hdf5, ui->progressBar, ui->label_savestate, m_runFolder},
                              state, worker.saveRuns(), parameterSummary, [this] { return runMetadata(); },
                              context.log(), OperatorMessage::modalBox(), this);
    curvePage = new ItCurvePage(ui->widget_9, state, worker.readout(),
                                [this] { return parameterPanel->chosenRange(); }, OperatorMessage::modalBox(), this);
    recognitionPage = new RecognitionPage(ui->widget_24, state, worker.templatePicture(), context.paths(),
                                          [this] { pipeline->requestTestPicture(); }, OperatorMessage::modalBox(),
                                          this);
    connect(pipeline, &DisplayPipeline::testPictureFailed, recognitionPage, &RecognitionPage::testPictureFailed);
    analysisPage = new LiveAnalysisPage(
        ui->verticalLayout_10, ui->widget_9,
        AnalysisFeeds{worker.liveFrames(), worker, worker, worker.references(), worker.rendering()}, state,
        [this]() -> const BiasVoltages & { return parameterPanel->sentVoltages(); }, *pipeline, context.settings(),
        context.log(), OperatorMessage::modalBox(), this);
    buildPlayback();
}

void MainWindow::buildPlayback()
{
    const auto lockCapture = [this](bool open) {
        capture->setRecordingOpen(open);
        ui->pushButton_Connect->setEnabled(!open);
        curvePage->setRunSeries(open ? ItCurvePage::RunSeries([this](auto &&...series) {
            m_playback->wholeSeries(series...);
        })
                                     : ItCurvePage::RunSeries());
    };
    m_playback = new RecordingPlayback(PlaybackTargets{worker.readout(), worker.rendering(), worker.liveFrames(),
                                                       worker.references(), worker.saveRuns(), worker},
                                       state, *pipeline, lockCapture, context.log(), OperatorMessage::modalBox(),
                                       this);
    m_playback->attachTo(this);
    analysisPage->setRunSpan([this] { return m_playback->runSpan(); });
    // A cell picked on a still recorded frame is read from that frame at once.
    connect(display, &KeepRatioWidget::click_coor, m_playback, &RecordingPlayback::replayFrame);
    m_playback->buildOpenButton(ui->verticalLayout_10, analysisPage->button()->parentWidget());
    m_playbackBar = new PlaybackBar(*m_playback, this, ui->widget_2);
    ui->verticalLayout_28->addWidget(m_playbackBar);
    savePanel->setRecordingSource(SavePanel::RecordingSource{
        [this] { return m_playback->isOpen(); }, [this] { return m_playback->framesFromCurrent(); },
        [this] { return m_playback->metadata(); }, [this](int frames) { m_playback->exportFrames(frames); }});
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
                                   display, worker.rendering(), worker.readout(), context.paths().scratchFolder,
                                   this);
    connect(pipeline, &DisplayPipeline::frameShown, this, &MainWindow::showColourScale);
}

void MainWindow::buildStatusViews()
{
    m_statusStrip = new DeviceStatusStrip(ui->widget_2);
    ui->verticalLayout_28->addWidget(m_statusStrip);
    m_colourScale = new ColourScaleBar;
    m_runFolder = new RunFolderLink(context.log(), ui->widget_53);
    ui->verticalLayout_29->addWidget(m_runFolder);
    m_rangeTiming = new QLabel(ui->widget_14);
    m_rangeTiming->setObjectName(QStringLiteral("label_range_timing"));
    m_rangeTiming->setStyleSheet(QStringLiteral("QLabel { font-family: 'Arial'; color: #555555; }"));
    m_rangeTiming->setWordWrap(true);
    ui->verticalLayout_16->addWidget(m_rangeTiming);
}

void MainWindow::setIconToolTips()
{
    WindowForm::setIconToolTips(*ui);
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
    if (!state.running && !state.recordingOpen)
        pipeline->markNotLive();
}

SimulatorControlWindow *MainWindow::simulatorControls() const
{
    return simulatorWindow.data();
}

void MainWindow::openSimulatorControls()
{
    if (!context.simulator()) {
        context.log().line("The simulator controls are only available with the built-in simulator.");
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
    // The playback's threads (opening, export) reach the worker's consumers:
    // they end before the worker does.
    delete m_playbackBar;
    m_playbackBar = nullptr;
    delete m_playback;
    m_playback = nullptr;
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
    WindowForm::buildNavigation(*ui);
}

void MainWindow::applyInputConstraints()
{
    WindowForm::applyInputConstraints(*ui);
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
    WindowSettings::load(*ui, *parameterPanel, context.settings(), parameterSummary);
}

void MainWindow::saveSettings()
{
    WindowSettings::save(*ui, context.settings());
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
