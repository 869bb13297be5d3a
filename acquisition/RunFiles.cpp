#include "RunFiles.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::u8path(path.toStdString());
}

} // namespace

namespace RunFiles {

bool writeAll(QFileDevice &file, const char *data, qint64 size, QString *reason)
{
    while (size > 0) {
        const qint64 written = file.write(data, size);
        if (written <= 0) {
            *reason = file.errorString();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool renameOver(const QString &from, const QString &to, QString *reason)
{
    std::error_code code;
    std::filesystem::rename(nativePath(from), nativePath(to), code);
    if (code) {
        *reason = QStringLiteral("%1 could not be put in place (%2)")
                      .arg(QFileInfo(to).fileName(), QString::fromStdString(code.message()));
        return false;
    }
    return true;
}

bool makeFolder(const QString &path, QString *reason)
{
    std::error_code code;
    std::filesystem::create_directories(nativePath(path), code);
    if (code) {
        *reason = QStringLiteral("the folder %1 could not be created (%2)")
                      .arg(QDir::toNativeSeparators(path), QString::fromStdString(code.message()));
        return false;
    }
    return true;
}

} // namespace RunFiles
