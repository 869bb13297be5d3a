#include "simulator/SimulatorLogging.h"

Q_LOGGING_CATEGORY(lcSimulator, "tessivo.simulator")
