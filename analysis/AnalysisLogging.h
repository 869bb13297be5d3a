#pragma once

#include <QLoggingCategory>

// Diagnostics of the It-curve and Live Analysis windows ("tessivo.analysis"), for
// developers and QT_LOGGING_RULES; what the operator reads goes to the event
// log (EventLog) instead.
Q_DECLARE_LOGGING_CATEGORY(lcAnalysis)
