// tessivo128-tango: the ZK128 as a Tango device server (class Tessivo128), on
// the same core as the window and tessivo128-capture; see README "Lab
// integration". Tango's own arguments follow: INSTANCE [-nodb -dlist DEVICE]
// [-ORBendPoint giop:tcp::PORT]. Tango catches SIGINT and SIGTERM and
// deletes the devices, which end a save run as partial and close the device.
#include <tango.h>

#include "context/BackendSelector.h"
#include "context/ConsoleContext.h"
#include "services/ProcessSignals.h"
#include "simulator/SimulatorBackend.h"
#include "tango/Tessivo128Class.h"

#include <QCoreApplication>

#include <iostream>

namespace {

// The worker's settings apart from the window's and the capture tool's.
SettingsIdentity settingsIdentity()
{
    SettingsIdentity identity;
    identity.application = QStringLiteral("Tessivo_128_tango");
    return identity;
}

} // namespace

int main(int argc, char *argv[])
{
    ProcessSignals::ignoreBrokenPipe();
    // No event loop runs: the worker reports by direct connections.
    QCoreApplication app(argc, argv);

    try {
        // First: Tango blocks SIGINT and SIGTERM for every thread started
        // afterwards and takes them on a thread of its own, so the
        // simulator's and the worker's threads must come later.
        Tango::Util *tango = Tango::Util::init(argc, argv);

        const BackendSelector::Choice choice = BackendSelector::chooseFromEnvironment();
        const ConsoleContext context(choice.backend, ConsolePaths::forApplication(), settingsIdentity(),
                                     choice.simulator);
        context.log().line(choice.logMessage.toUtf8());
        if (!choice.backend) {
            std::cerr << choice.logMessage.toStdString() << std::endl;
            return 3;
        }
        if (const auto simulator = std::dynamic_pointer_cast<SimulatorBackend>(choice.backend))
            for (const QString &warning : simulator->environmentWarnings())
                std::cerr << warning.toStdString() << std::endl;
        Tessivo128Class::useContext(&context);

        tango->server_init(false);
        std::cout << "Ready to accept request" << std::endl;
        tango->server_run();
        tango->server_cleanup();
    } catch (const std::bad_alloc &) {
        std::cerr << "The server ran out of memory." << std::endl;
        return 1;
    } catch (const CORBA::Exception &failure) {
        Tango::Except::print_exception(failure);
        return 1;
    }
    return 0;
}
