#include "context/ScratchFolder.h"


#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

constexpr char kTemplateName[] = "/tessivo128-XXXXXX";

std::unique_ptr<QTemporaryDir> makeUnder(const QString &base)
{
    if (base.isEmpty() || !QDir().mkpath(base))
        return nullptr;
    auto dir = std::make_unique<QTemporaryDir>(base + QLatin1String(kTemplateName));
    return dir->isValid() ? std::move(dir) : nullptr;
}

} // namespace

ScratchFolder::ScratchFolder()
{
    // The runtime folder is the user's own and is emptied at logout, so even
    // the folder of a console that was killed does not stay for long.
    for (const QString &base : {QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
                                QStandardPaths::writableLocation(QStandardPaths::CacheLocation), QDir::tempPath()}) {
        m_dir = makeUnder(base);
        if (m_dir)
            return;
    }
}

ScratchFolder::~ScratchFolder() = default;

QString ScratchFolder::path() const
{
    return m_dir ? m_dir->path() : QString();
}
