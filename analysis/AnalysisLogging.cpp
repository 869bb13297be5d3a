#include "analysis/AnalysisLogging.h"

Q_LOGGING_CATEGORY(lcAnalysis, "tessivo.analysis")
