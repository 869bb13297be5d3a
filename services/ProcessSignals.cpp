#include "services/ProcessSignals.h"

#include "services/ServicesLogging.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <csignal>
#endif

namespace ProcessSignals {

void ignoreBrokenPipe()
{
#ifndef Q_OS_WIN
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGPIPE, &action, nullptr) != 0)
        qCWarning(lcServices, "SIGPIPE could not be ignored; a closed standard output may end the program.");
#endif
}

} // namespace ProcessSignals
