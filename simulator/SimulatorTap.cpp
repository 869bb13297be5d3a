#include "simulator/SimulatorTap.h"

#include "simulator/SimulatorLogging.h"
#include "simulator/ZK128Device.h"

#include <QFile>

#include <chrono>

namespace {
constexpr std::uint8_t kFrameRequestCode = 0x05;
} // namespace

std::unique_ptr<SimulatorTap> SimulatorTap::fromEnvironment(std::shared_ptr<ZK128Device> device,
                                                            const SimulatorEnvironment::Lookup &lookup)
{
    const QString commandLog = lookup("TESSIVO_SIM_COMMAND_LOG");
    const QString unplugFile = lookup("TESSIVO_SIM_UNPLUG_FILE");
    if (commandLog.isEmpty() && unplugFile.isEmpty())
        return nullptr;
    return std::make_unique<SimulatorTap>(std::move(device), commandLog, unplugFile);
}

SimulatorTap::SimulatorTap(std::shared_ptr<ZK128Device> device, QString commandLog, QString unplugFile)
    : m_device(std::move(device))
    , m_commandLog(std::move(commandLog))
    , m_unplugFile(std::move(unplugFile))
{
    if (!m_commandLog.isEmpty())
        m_device->clearReceivedCommands();
    m_thread = std::thread([this] { run(); });
}

SimulatorTap::~SimulatorTap()
{
    m_quit.store(true);
    m_thread.join();
}

void SimulatorTap::run()
{
    while (!m_quit.load()) {
        if (!m_commandLog.isEmpty())
            writeCommands();
        if (!m_unplugFile.isEmpty())
            followUnplugFile();
        std::this_thread::sleep_for(std::chrono::milliseconds(kPeriodMs));
    }
    if (!m_commandLog.isEmpty())
        writeCommands();
}

void SimulatorTap::writeCommands()
{
    QByteArray lines;
    for (const std::vector<std::uint8_t> &command : m_device->takeReceivedCommands()) {
        if (command.size() > 2 && command[2] == kFrameRequestCode)
            continue;
        lines += QByteArray(reinterpret_cast<const char *>(command.data()), int(command.size())).toHex(' ').toUpper();
        lines += '\n';
    }
    if (lines.isEmpty())
        return;
    QFile file(m_commandLog);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(lines);
    else
        qCWarning(lcSimulator, "The simulator cannot append to its command log %s.", qPrintable(m_commandLog));
}

void SimulatorTap::followUnplugFile()
{
    // Only a change of the file plugs or unplugs, so the simulator controls
    // keep working beside the tap.
    const bool exists = QFile::exists(m_unplugFile);
    if (exists == m_unplugged)
        return;
    m_unplugged = exists;
    if (exists)
        m_device->unplug();
    else
        m_device->replug();
}
