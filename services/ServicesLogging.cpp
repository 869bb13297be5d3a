#include "services/ServicesLogging.h"

Q_LOGGING_CATEGORY(lcServices, "tessivo.services")
