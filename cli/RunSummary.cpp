#include "cli/RunSummary.h"

#include "cli/ExitCode.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

namespace {

QJsonValue orNull(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

QString RunSummary::outcome() const
{
    switch (exitCode) {
    case ExitCode::kSuccess: return QStringLiteral("success");
    case ExitCode::kInterrupted: return QStringLiteral("interrupted");
    case ExitCode::kDevice: return QStringLiteral("device_failure");
    case ExitCode::kBadArguments: return QStringLiteral("bad_arguments");
    default: break;
    }
    return framesSaved > 0 ? QStringLiteral("partial") : QStringLiteral("save_failure");
}

QJsonObject RunSummary::toJson() const
{
    return QJsonObject{
        {QStringLiteral("run_folder"), runFolder.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(runFolder)},
        {QStringLiteral("frames_requested"), framesRequested},
        {QStringLiteral("frames_saved"), framesSaved},
        {QStringLiteral("outcome"), outcome()},
        {QStringLiteral("exit_code"), exitCode},
        {QStringLiteral("frames_per_second"), framesPerSecond},
        {QStringLiteral("current_range_nA"), orNull(currentRangeNa)},
        {QStringLiteral("integration_ms"), integrationMs},
        {QStringLiteral("vbias1_V"), vbias1Volts},
        {QStringLiteral("vbias2_V"), vbias2Volts},
        {QStringLiteral("von_V"), vonVolts},
        {QStringLiteral("voff_V"), voffVolts},
        {QStringLiteral("battery_V"), orNull(batteryVolts)},
        {QStringLiteral("serial"), serial},
        {QStringLiteral("backend"), backend},
        {QStringLiteral("calibrated"), calibrated},
    };
}

bool RunSummary::write(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(toJson()).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        *error = QStringLiteral("The summary %1 could not be written: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}
