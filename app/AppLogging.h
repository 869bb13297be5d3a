#pragma once

#include <QLoggingCategory>

// Diagnostics of the main window and its page controllers ("tessivo.app"), for
// developers and QT_LOGGING_RULES; what the operator reads goes to the event
// log (EventLog) instead.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
