#include "context/SettingsIdentity.h"

#include <QSettings>

std::unique_ptr<QSettings> SettingsIdentity::open() const
{
    auto settings = std::make_unique<QSettings>(organisation, application);
    settings->beginGroup(group);
    return settings;
}
