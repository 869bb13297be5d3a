#include "tests/worker/WorkerRig.h"

#include "simulator/SimulatorBackend.h"

#include <QDeadlineTimer>

WorkerRig::WorkerRig()
    : WorkerRig(Options{})
{
}

WorkerRig::WorkerRig(const Options &options)
    : m_options(options)
    , m_device(std::make_shared<ZK128Device>())
    , m_probe(std::make_shared<ProbeBackend>(std::make_shared<SimulatorBackend>(m_device)))
    , m_context(m_probe, m_device)
{
    m_worker = new ReceiverThread(m_context.context);
    m_worker->setFrameTimeoutMs(options.frameTimeoutMs);
    m_worker->setCurrentRange(options.rangeNa);
    m_worker->addConsumer(m_tap);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::started, m_worker, &ReceiverThread::process);
    QObject::connect(m_worker, &ReceiverThread::errorOccurred, &m_signals, &WorkerSignals::errorOccurred);
    QObject::connect(m_worker, &ReceiverThread::finished, &m_signals, &WorkerSignals::finished);
    QObject::connect(m_worker, &ReceiverThread::saveProgressed, &m_signals, &WorkerSignals::saveProgressed);
    QObject::connect(m_worker, &ReceiverThread::fullOnTaken, &m_signals, &WorkerSignals::fullOnTaken);
    QObject::connect(m_worker, &ReceiverThread::fullOffTaken, &m_signals, &WorkerSignals::fullOffTaken);
    QObject::connect(m_worker, &ReceiverThread::saveFailed, &m_signals, &WorkerSignals::saveFailed);
    QObject::connect(m_worker, &ReceiverThread::saveFinished, &m_signals, &WorkerSignals::saveFinished);
    QObject::connect(m_worker, &ReceiverThread::deviceFailed, &m_signals, &WorkerSignals::deviceFailed);
}

WorkerRig::~WorkerRig()
{
    if (m_thread.isRunning()) {
        m_worker->requestStop();
        m_worker->shutdown();
        m_thread.quit();
        m_thread.wait();
    }
    delete m_worker;
    if (m_handle)
        m_probe->close(m_handle);
}

bool WorkerRig::configureDevice()
{
    char serial[] = "ZK128";
    if (m_probe->openEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &m_handle) != FT_OK)
        return false;
    m_probe->setTimeouts(m_handle, 1000, 1000);
    const std::vector<std::uint8_t> command = parameterCommand(m_options.rangeNa, m_options.integrationCount);
    DWORD written = 0;
    if (m_probe->write(m_handle, command.data(), DWORD(command.size()), &written) != FT_OK)
        return false;
    // The acknowledgement is of no use to the worker; wait for it and drop it.
    const QDeadlineTimer deadline(2000);
    while (m_device->bytesAvailable() < 5 && !deadline.hasExpired())
        QThread::msleep(1);
    m_probe->purge(m_handle, FT_PURGE_RX | FT_PURGE_TX);
    m_device->clearReceivedCommands();
    return true;
}

bool WorkerRig::start()
{
    if (!configureDevice())
        return false;
    m_worker->useDevice(m_handle);
    m_thread.start();
    if (m_options.pauseAfterStart)
        m_worker->pause();
    return m_worker->waitUntilParked(5000);
}

void WorkerRig::play()
{
    m_worker->resume();
    m_worker->startAcquisition();
}

bool WorkerRig::stop(int timeoutMs)
{
    m_worker->requestStop();
    m_worker->pause();
    return m_worker->waitUntilParked(timeoutMs);
}

int WorkerRig::commandCount(std::uint8_t code) const
{
    int count = 0;
    for (const auto &command : m_device->receivedCommands()) {
        if (command.size() >= 3 && command[0] == 0xAE && command[1] == 0xAA && command[2] == code)
            ++count;
    }
    return count;
}

std::vector<std::uint8_t> WorkerRig::lastCommand() const
{
    const auto commands = m_device->receivedCommands();
    return commands.empty() ? std::vector<std::uint8_t>{} : commands.back();
}

std::vector<std::uint8_t> WorkerRig::parameterCommand(int rangeNa, std::uint32_t integrationCount)
{
    // All four voltages 0 V (DAC code 2048, field 80 00), candidate 0.
    std::vector<std::uint8_t> bytes{0xAE, 0xAA, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00};
    bytes.push_back(std::uint8_t(rangeNa & 0xFF));
    bytes.push_back(std::uint8_t((integrationCount >> 16) & 0xFF));
    bytes.push_back(std::uint8_t((integrationCount >> 8) & 0xFF));
    bytes.push_back(std::uint8_t(integrationCount & 0xFF));
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    bytes.push_back(std::uint8_t(sum & 0xFF));
    bytes.push_back(0x0A);
    return bytes;
}

void FrameTap::consume(const FramePtr &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_newest = frame;
    }
    if (m_hook)
        m_hook(*frame);
    m_count.fetch_add(1);
}

FramePtr FrameTap::newest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_newest;
}
