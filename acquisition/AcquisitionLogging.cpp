#include "acquisition/AcquisitionLogging.h"

Q_LOGGING_CATEGORY(lcAcquisition, "tessivo.acquisition")
