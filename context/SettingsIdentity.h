#pragma once

#include <QString>

#include <memory>

class QSettings;

// Where the console keeps the operator's inputs between runs: the platform's
// native store under organisation "Velmoray", application "Tessivo_128",
// every key in the group "ReceiverSettings". The window and the acquisition
// worker share it.
struct SettingsIdentity
{
    QString organisation = QStringLiteral("Velmoray");
    QString application = QStringLiteral("Tessivo_128");
    QString group = QStringLiteral("ReceiverSettings");

    // A settings object on the store, already inside the group.
    std::unique_ptr<QSettings> open() const;
};
