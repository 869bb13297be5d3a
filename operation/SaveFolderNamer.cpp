#include "operation/SaveFolderNamer.h"

#include <filesystem>
#include <system_error>

namespace SaveFolderNamer {

QString claim(const QString &directory, const QString &name, QString *reason)
{
    const std::filesystem::path base = std::filesystem::u8path(directory.toStdString());
    QString candidate = name;
    for (int counter = 1;; ++counter) {
        std::error_code code;
        // create_directory, unlike create_directories, reports a name already
        // taken (by a folder, a file or a link) instead of reusing it.
        if (std::filesystem::create_directory(base / std::filesystem::u8path(candidate.toStdString()), code))
            return candidate;
        if (code && code != std::errc::file_exists) {
            if (reason)
                *reason = QString::fromStdString(code.message());
            return QString();
        }
        candidate = QStringLiteral("%1_%2").arg(name).arg(counter);
    }
}

} // namespace SaveFolderNamer
