#pragma once

#include <QLoggingCategory>

// Diagnostics of the capture loop, the frame pieces and the save-run writer ("tessivo.acquisition"), for
// developers and QT_LOGGING_RULES; what the operator reads goes to the event
// log (EventLog) instead.
Q_DECLARE_LOGGING_CATEGORY(lcAcquisition)
