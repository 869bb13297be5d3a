#pragma once

#include <QLoggingCategory>

// Diagnostics of the event log writer, stop signals and the shared frame view ("tessivo.services"), for
// developers and QT_LOGGING_RULES; what the operator reads goes to the event
// log (EventLog) instead.
Q_DECLARE_LOGGING_CATEGORY(lcServices)
