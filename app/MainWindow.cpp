#include "app/MainWindow.h"

#include "app/CaptureControl.h"
#include "app/DeviceConnection.h"
#include "app/DeviceStatusStrip.h"
#include "app/ItCurvePage.h"
#include "app/LiveAnalysisPage.h"
#include "app/ParameterPanel.h"
#include "app/PlaybackBar.h"
#include "app/RecognitionPage.h"
#include "app/RecordingPlayback.h"
#include "app/RunFolderLink.h"
#include "app/SavePanel.h"
#include "app/SimulatorControlWindow.h"
#include "app/WindowAccessibility.h"
#include "app/WindowForm.h"
#include "app/WindowSettings.h"
#include "app/WorkerGate.h"
#include "context/ConsoleContext.h"
#include "display/ColourScaleBar.h"
#include "display/DisplayPipeline.h"
#include "display/KeepRatioWidget.h"
#include "services/EventLog.h"
#include "ui/ResourceBundle.h"
#include "ui/VoltageDetails.h"
#include "ui_MainWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <cmath>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#include <dbt.h>
#endif

namespace {

const char *const kMaximizeSheet =
    "QPushButton { border-image: url(:/image/image_resource/Maximize-1.png);\nmargin:7px;}";
const char *const kRestoreSheet =
    "QPushButton { border-image: url(:/image/image_resource/Maximize-3.png);\nmargin:7px;}";

const char *const kExitBoxSheet =
    "QMessageBox {  background-color: #F0F3F6;  color:black;  padding:20px;  border-style: solid;  "
    "border-width: 1px;  border-color: grey;  border-radius: 5px;}";

} // namespace

MainWindow::MainWindow(const ConsoleContext &context, QWidget *parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_ui(new Ui::MainWindow)
    , m_worker(context)
    , m_session(context.backend())
{
    ResourceBundle::ensureRegistered();
    m_ui->setupUi(this);
    buildStatusViews();
    m_fpsTimer = new QTimer(this);
    m_batteryTimer.setInterval(DeviceConnection::kBatteryIntervalMs);
    buildControllers();
    m_connection->refreshDeviceList();
    connectForm();
    connectWorker();
    WindowForm::buildNavigation(*m_ui);
    WindowForm::applyInputConstraints(*m_ui);
    WindowAccessibility::install(*this, *m_ui);
    m_ui->widget_play->hide();
    m_ui->widget_bat->hide();
    m_ui->widget_range->hide();
    WindowForm::setIconToolTips(*m_ui);

    // Arrival and removal of devices; on Windows nativeEvent hears them instead.
    m_connection->watchDevices(context.sharedBackend());
    // The simulator's controls sit in a window of their own, so the layout
    // of this one stays as it is.
    auto *simulatorShortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")), this);
    connect(simulatorShortcut, &QShortcut::activated, this, &MainWindow::openSimulatorControls);

    WindowSettings::load(*m_ui, *m_parameterPanel, m_context.settings(), m_parameterSummary);
    m_parameterPanel->showRangeTiming();
    connect(&m_statusTimer, &QTimer::timeout, this, &MainWindow::refreshStatus);
    m_statusTimer.start(kStatusIntervalMs);
    refreshStatus();
    // Once the window runs: a message about them must not hold up construction.
    QTimer::singleShot(0, m_analysisPage, &LiveAnalysisPage::loadReferencesAtStart);
}

void MainWindow::buildControllers()
{
    // In dependency order: each controller is built after those it uses.
    m_gate = new WorkerGate(m_worker, m_workerThread, this);
    connect(&m_worker, &ReceiverThread::loopParked, m_gate, &WorkerGate::loopParked, Qt::QueuedConnection);
    buildLiveView();
    m_capture = new CaptureControl(
        CaptureWidgets{m_ui->pushButton_play, m_ui->widget_play, m_ui->pushButton_set, m_ui->widget_7}, m_state,
        CaptureTargets{m_worker, m_worker.saveRuns(), m_worker.rendering(), m_worker.references()}, *m_gate,
        *m_fpsTimer, m_batteryTimer, [this] { m_recognitionPage->reset(); }, m_context.log(),
        OperatorMessage::modalBox(), this);
    m_connection = new DeviceConnection(
        ConnectionWidgets{m_ui->comboBox, m_ui->pushButton_Connect, m_ui->widget_play, m_ui->widget_bat,
                          m_ui->widget_8},
        m_state, m_worker, m_session, *m_gate, m_batteryTimer, [this] { m_capture->stop(); }, m_context.log(),
        OperatorMessage::modalBox(), this);
    m_connection->setOnDeviceGivenUp([this](const QString &reason) { m_worker.endSaveRun(reason); });
    m_connection->setOnConnected([this] { m_parameterPanel->applyStored(); });
    m_parameterPanel = new ParameterPanel(
        ParameterWidgets{m_ui->radioButton_800, m_ui->radioButton_100, m_ui->radioButton_10, m_ui->radioButton_1,
                         m_ui->radioButton_optional_gear, m_ui->widget_range, m_ui->lineEdit_gear,
                         m_ui->lineEdit_vc, m_ui->lineEdit_vd, m_ui->lineEdit_von, m_ui->lineEdit_voff,
                         m_rangeTiming},
        m_state, m_worker, m_session, *m_gate, m_parameterSummary, m_context.log(), OperatorMessage::modalBox(),
        this);
    m_savePanel = new SavePanel(
        SaveWidgets{m_ui->comboBox_saveframes, m_ui->lineEdit_savename, m_ui->lineEdit_savepath,
                    m_ui->checkBox_data, m_ui->checkBox_picture, m_ui->checkBox_video, m_ui->checkBox_hdf5,
                    m_ui->progressBar, m_ui->label_savestate, m_runFolder},
        m_state, m_worker.saveRuns(), m_parameterSummary, [this] { return runMetadata(); }, m_context.log(),
        OperatorMessage::modalBox(), this);
    m_curvePage = new ItCurvePage(m_ui->widget_9, m_state, m_worker.readout(),
                                  [this] { return m_parameterPanel->chosenRange(); }, OperatorMessage::modalBox(),
                                  this);
    m_recognitionPage = new RecognitionPage(m_ui->widget_24, m_state, m_worker.templatePicture(), m_context.paths(),
                                            [this] { m_pipeline->requestTestPicture(); },
                                            OperatorMessage::modalBox(), this);
    connect(m_pipeline, &DisplayPipeline::testPictureFailed, m_recognitionPage, &RecognitionPage::testPictureFailed);
    m_analysisPage = new LiveAnalysisPage(
        m_ui->verticalLayout_10, m_ui->widget_9,
        AnalysisFeeds{m_worker.liveFrames(), m_worker, m_worker, m_worker.references(), m_worker.rendering()}, m_state,
        [this]() -> const BiasVoltages & { return m_parameterPanel->sentVoltages(); }, *m_pipeline,
        m_context.settings(), m_context.log(), OperatorMessage::modalBox(), this);
    buildPlayback();
}

void MainWindow::buildPlayback()
{
    const auto lockCapture = [this](bool open) {
        m_capture->setRecordingOpen(open);
        m_ui->pushButton_Connect->setEnabled(!open);
        const auto wholeRun = [this](auto &&...series) { m_playback->wholeSeries(series...); };
        m_curvePage->setRunSeries(open ? ItCurvePage::RunSeries(wholeRun) : ItCurvePage::RunSeries());
    };
    m_playback = new RecordingPlayback(PlaybackTargets{m_worker.readout(), m_worker.rendering(), m_worker.liveFrames(),
                                                       m_worker.references(), m_worker.saveRuns(), m_worker},
                                       m_state, *m_pipeline, lockCapture, m_context.log(), OperatorMessage::modalBox(),
                                       this);
    m_playback->attachTo(this);
    m_analysisPage->setRunSpan([this] { return m_playback->runSpan(); });
    m_analysisPage->setRunMeans([this](auto &&...asked) { return m_playback->runMeans(asked...); });
    // A cell picked on a still recorded frame is read from that frame at once.
    connect(m_display, &KeepRatioWidget::cellClicked, m_playback, &RecordingPlayback::replayFrame);
    m_playback->buildOpenButton(m_ui->verticalLayout_10, m_analysisPage->button()->parentWidget());
    m_playbackBar = new PlaybackBar(*m_playback, this, m_ui->widget_2);
    m_ui->verticalLayout_28->addWidget(m_playbackBar);
    m_savePanel->setRecordingSource(SavePanel::RecordingSource{
        [this] { return m_playback->isOpen(); }, [this] { return m_playback->framesFromCurrent(); },
        [this] { return m_playback->metadata(); }, [this](int frames) { m_playback->exportFrames(frames); }});
}

void MainWindow::buildLiveView()
{
    m_display = new KeepRatioWidget;
    auto *displayLayout = new QHBoxLayout;
    displayLayout->addWidget(m_display);
    displayLayout->addWidget(m_colourScale);
    m_ui->widget_display->setLayout(displayLayout);
    m_pipeline = new DisplayPipeline(
        DisplayWidgets{m_ui->label_fps, m_ui->label_clicked_locate, m_ui->label_clicked_current,
                       m_ui->radioButton_gray, m_ui->radioButton_rgb, m_ui->radioButton_heat},
        m_display, m_worker.rendering(), m_worker.readout(), m_context.paths().scratchFolder, this);
    connect(m_display, &KeepRatioWidget::cellClicked, m_pipeline, &DisplayPipeline::selectCell);
    connect(m_display, &KeepRatioWidget::cellDoubleClicked, this, &MainWindow::showCellCurve);
    connect(m_pipeline, &DisplayPipeline::frameShown, this, &MainWindow::showColourScale);
}

void MainWindow::buildStatusViews()
{
    m_statusStrip = new DeviceStatusStrip(m_ui->widget_2);
    m_ui->verticalLayout_28->addWidget(m_statusStrip);
    m_colourScale = new ColourScaleBar;
    m_runFolder = new RunFolderLink(m_context.log(), m_ui->widget_53);
    m_ui->verticalLayout_29->addWidget(m_runFolder);
    m_rangeTiming = new QLabel(m_ui->widget_14);
    m_rangeTiming->setObjectName(QStringLiteral("label_range_timing"));
    m_rangeTiming->setStyleSheet(QStringLiteral("QLabel { font-family: 'Arial'; color: #555555; }"));
    m_rangeTiming->setWordWrap(true);
    m_ui->verticalLayout_16->addWidget(m_rangeTiming);
}

void MainWindow::connectForm()
{
    connect(m_ui->pushButton_maxsize, &QPushButton::clicked, this, &MainWindow::toggleMaximised);
    connect(m_ui->pushButton_minimize, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(m_ui->pushButton_close, &QPushButton::clicked, this, &MainWindow::closeAfterConfirmation);
    connect(m_ui->pushButton_voltage_about, &QPushButton::clicked, this, &MainWindow::showVoltageHelp);
    connect(m_ui->pushButton_play, &QPushButton::clicked, m_capture, &CaptureControl::togglePlay);
    connect(m_ui->pushButton_Connect, &QPushButton::clicked, m_connection, &DeviceConnection::toggleConnection);
    connect(m_ui->pushButton_set, &QPushButton::clicked, m_parameterPanel, &ParameterPanel::applySettings);
    connect(m_ui->pushButton_savepath, &QPushButton::clicked, m_savePanel, &SavePanel::choosePath);
    connect(m_ui->pushButton_save, &QPushButton::clicked, m_savePanel, &SavePanel::requestSave);
    connect(m_ui->pushButton_rotate, &QPushButton::clicked, m_pipeline, &DisplayPipeline::rotate);
    connect(m_ui->pushButton_mirrorHorizontal, &QPushButton::clicked, m_pipeline, &DisplayPipeline::mirrorHorizontal);
    connect(m_ui->pushButton_mirrorVertical, &QPushButton::clicked, m_pipeline, &DisplayPipeline::mirrorVertical);
    for (QRadioButton *range : {m_ui->radioButton_optional_gear, m_ui->radioButton_800, m_ui->radioButton_100,
                                m_ui->radioButton_10, m_ui->radioButton_1}) {
        connect(range, &QRadioButton::toggled, m_parameterPanel,
                [this, range](bool checked) { m_parameterPanel->selectRange(range, checked); });
    }
    for (QRadioButton *mode : {m_ui->radioButton_gray, m_ui->radioButton_rgb, m_ui->radioButton_heat}) {
        connect(mode, &QRadioButton::toggled, m_pipeline, [this, mode](bool checked) {
            m_pipeline->showMode(mode, checked);
            showColourScale();
        });
    }
    connect(m_fpsTimer, &QTimer::timeout, m_pipeline, &DisplayPipeline::updateFps);
    connect(&m_batteryTimer, &QTimer::timeout, m_connection, &DeviceConnection::pollBattery);
}

void MainWindow::connectWorker()
{
    m_worker.moveToThread(&m_workerThread);
    connect(&m_workerThread, &QThread::started, &m_worker, &ReceiverThread::process);
    connect(&m_worker, &ReceiverThread::errorOccurred, m_connection, &DeviceConnection::reportWorkerError);
    connect(&m_worker, &ReceiverThread::deviceFailed, m_connection, &DeviceConnection::dropFailedDevice);
    connect(&m_worker, &ReceiverThread::fullOnTaken, m_capture, &CaptureControl::reportFullOn);
    connect(&m_worker, &ReceiverThread::fullOffTaken, m_capture, &CaptureControl::reportFullOff);
    connect(&m_worker, &ReceiverThread::saveFailed, m_savePanel, &SavePanel::showFailure);
    connect(&m_worker, &ReceiverThread::saveFinished, m_savePanel, &SavePanel::showOutcome);
    m_workerThread.start();
    // The loop must not touch the device before the first capture: the
    // connect handshake reads the same handle from this thread.
    m_worker.pause();
    m_refreshTimer.setInterval(refreshIntervalMs());
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindow::refreshFromCapture);
    m_refreshTimer.start();
}

void MainWindow::saveSettings() const
{
    WindowSettings::save(*m_ui, m_context.settings());
}

MainWindow::~MainWindow()
{
    // The playback's threads (opening, export) reach the worker's consumers:
    // they end before the worker does.
    delete std::exchange(m_playbackBar, nullptr);
    delete std::exchange(m_playback, nullptr);
    saveSettings();
    m_worker.endSaveRun(QStringLiteral("the console was closed"));
    m_worker.requestStop();
    m_worker.shutdown();
    m_workerThread.quit();
    m_workerThread.wait();
    m_connection->closeOnExit(); // the worker has ended: nothing else reads the device
    delete std::exchange(m_ui, nullptr);
    // The remaining members die in reverse order; the worker (saving its own
    // settings) goes before its thread object.
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
    m_pipeline->refresh();
    for (PixelReadout::SeriesStep &step : m_worker.readout().takeSeries())
        m_curvePage->addSeriesStep(std::move(step.samples), step.elapsedSeconds);
    const int gathered = m_worker.saveRuns().gathered();
    if (gathered != m_shownSaveProgress) {
        m_shownSaveProgress = gathered;
        m_savePanel->showProgress(gathered);
    }
}

void MainWindow::refreshStatus()
{
    DeviceStatus status;
    status.backend = m_context.backendKind();
    if (m_state.connected) {
        status.serial = m_connection->serial();
        status.batteryVolts = m_connection->batteryVolts();
        if (!m_state.configured)
            status.state = DeviceStatus::State::NotConfigured;
        else
            status.state = m_state.running ? DeviceStatus::State::Capturing : DeviceStatus::State::Connected;
        if (m_state.configured) {
            status.rangeNa = m_worker.currentRangeValue();
            status.integrationCount = std::uint32_t(m_parameterPanel->searchState().integrationCount);
        }
    }
    m_statusStrip->showStatus(status);
    if (!m_state.running && !m_state.recordingOpen)
        m_pipeline->markNotLive();
}

void MainWindow::showColourScale()
{
    m_colourScale->showScale(m_worker.rendering().shownScale(), m_pipeline->displayMode());
}

void MainWindow::showCellCurve(int x, int y)
{
    // The cell drawn under the pointer, whatever the rotation and mirroring.
    const QPoint cell = m_pipeline->sensorCell(x, y);
    m_curvePage->pickCell(cell.x(), cell.y());
}

RunMetadata MainWindow::runMetadata() const
{
    return m_parameterPanel->runMetadata(m_worker.currentRangeValue(), m_context.backendKind());
}

SimulatorControlWindow *MainWindow::simulatorControls() const
{
    return m_simulatorWindow.data();
}

void MainWindow::openSimulatorControls()
{
    if (!m_context.simulator()) {
        m_context.log().line("The simulator controls are only available with the built-in simulator.");
        return;
    }
    if (!m_simulatorWindow)
        m_simulatorWindow = new SimulatorControlWindow(m_context.simulator(), this);
    m_simulatorWindow->show();
    m_simulatorWindow->raise();
    m_simulatorWindow->activateWindow();
}

// ---- Window buttons ------------------------------------------------------------

void MainWindow::closeAfterConfirmation()
{
    QMessageBox box;
    box.setStyleSheet(QString::fromLatin1(kExitBoxSheet));
    // A run in progress is kept with the frames saved so far.
    const QString runNote = m_worker.isSaveRunArmed()
        ? QStringLiteral("A save run is in progress; closing keeps the frames saved so far.\n")
        : QString();
    box.setText(runNote + QStringLiteral("Are you sure you want to exit\uFF1F"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    if (box.exec() == QMessageBox::Yes)
        close();
}

void MainWindow::toggleMaximised()
{
    if (isMaximized()) {
        showNormal();
        m_ui->pushButton_maxsize->setStyleSheet(QString::fromLatin1(kMaximizeSheet));
        m_ui->pushButton_maxsize->setToolTip(QStringLiteral("Maximise"));
    } else {
        showMaximized();
        m_ui->pushButton_maxsize->setStyleSheet(QString::fromLatin1(kRestoreSheet));
        m_ui->pushButton_maxsize->setToolTip(QStringLiteral("Restore"));
    }
}

void MainWindow::showVoltageHelp()
{
    // Parented to the window, so it is released with it; closing only hides it.
    auto *dialog = new VoltageDetails(this);
    dialog->exec();
}

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
#ifdef Q_OS_WIN
    if (eventType == "windows_generic_MSG") {
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_DEVICECHANGE
            && (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE))
            m_connection->deviceChanged();
    }
#endif
    return QMainWindow::nativeEvent(eventType, message, result);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_display)
        m_display->rescale();
}
