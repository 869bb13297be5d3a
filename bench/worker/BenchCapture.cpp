#include "bench/worker/BenchCapture.h"

#include "simulator/SimulatorBackend.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include "bench/display/ThreadCpu.h"
#include "bench/support/ProcessFigures.h"

#include <atomic>

#include <vector>

BenchCapture::BenchCapture(int rangeNa, std::uint32_t integrationCount)
    : m_device(std::make_shared<ZK128Device>())
    , m_context(std::make_shared<SimulatorBackend>(m_device),
                ConsolePaths{m_dir.path() + "/detect", m_dir.path() + "/scratch", m_dir.path() + "/result",
                             m_dir.path() + "/log.txt"},
                SettingsIdentity(), m_device)
{
    D2xxBackend &backend = m_context.backend();
    char serial[] = "ZK128";
    FT_HANDLE handle = nullptr;
    if (backend.openEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
        return;
    m_handle = handle;
    backend.setTimeouts(handle, 1000, 1000);

    // The parameter command with all voltages 0 V: range byte and integration count matter here.
    std::vector<unsigned char> command{0xAE, 0xAA, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x00,
                                       (unsigned char)(rangeNa & 0xFF), (unsigned char)(integrationCount >> 16),
                                       (unsigned char)(integrationCount >> 8), (unsigned char)integrationCount};
    unsigned sum = 0;
    for (unsigned char b : command)
        sum += b;
    command.push_back((unsigned char)(sum & 0xFF));
    command.push_back(0x0A);
    DWORD written = 0;
    backend.write(handle, command.data(), DWORD(command.size()), &written);
    const QDeadlineTimer deadline(2000);
    while (m_device->bytesAvailable() < 5 && !deadline.hasExpired())
        QThread::msleep(1);
    backend.purge(handle, FT_PURGE_RX | FT_PURGE_TX);

    m_worker = new ReceiverThread(m_context);
    m_worker->setCurrentRange(rangeNa);
    m_worker->useDevice(handle);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::started, m_worker, &ReceiverThread::process);
    m_thread.start();
    m_worker->pause();
    m_ready = m_worker->waitUntilParked(5000);
}

BenchCapture::~BenchCapture()
{
    if (m_worker) {
        m_worker->requestStop();
        m_worker->shutdown();
        m_thread.quit();
        m_thread.wait();
        delete m_worker;
    }
    if (m_handle)
        m_context.backend().close(m_handle);
}

void BenchCapture::play()
{
    m_worker->resume();
    m_worker->startAcquisition();
}

bool BenchCapture::stop()
{
    m_worker->requestStop();
    m_worker->pause();
    return m_worker->waitUntilParked(10000);
}

double BenchCapture::peakResidentMiB()
{
    return ProcessFigures::peakResidentKiB() / 1024.0;
}

double BenchCapture::frameRate(double seconds)
{
    const std::uint64_t before = m_worker->frameHealth().received;
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    const std::uint64_t counted = m_worker->frameHealth().received - before;
    const double elapsed = clock.nsecsElapsed() / 1e9;
    return double(counted) / elapsed;
}

double BenchCapture::busiestThreadCpu(double seconds, double *framesPerSecond, BenchCapture *capture)
{
    const auto before = ThreadCpu::sample();
    QElapsedTimer clock;
    clock.start();
    if (capture && framesPerSecond)
        *framesPerSecond = capture->frameRate(seconds);
    else
        QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    const double elapsed = clock.nsecsElapsed() / 1e9;
    const auto after = ThreadCpu::sample();
    const long mainId = ThreadCpu::mainThreadId();
    long long busiest = 0;
    for (const auto &[id, thread] : after) {
        if (id == mainId)
            continue;
        const auto was = before.find(id);
        busiest = std::max(busiest, thread.ticks - (was == before.end() ? 0 : was->second.ticks));
    }
    return double(busiest) / double(ThreadCpu::ticksPerSecond()) / elapsed;
}
