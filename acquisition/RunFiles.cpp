#include "acquisition/RunFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::filesystem::path nativePath(const QString &path)
{
    return std::filesystem::u8path(path.toStdString());
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool syncDescriptor(int fd, QString *reason)
{
#ifdef Q_OS_WIN
    if (::_commit(fd) == 0)
        return true;
#else
    if (::fsync(fd) == 0)
        return true;
#endif
    *reason = systemReason(errno);
    return false;
}

// Opens `path` read-only (a folder too, where the system allows it) and syncs it.
bool syncPath(const QString &path, int flags, QString *reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | flags);
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    const bool synced = syncDescriptor(fd, reason);
    ::close(fd);
    return synced;
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

bool syncOpenFile(QFileDevice &file, QString *reason)
{
    if (!file.flush()) {
        *reason = file.errorString();
        return false;
    }
    return syncDescriptor(file.handle(), reason);
}

bool syncFile(const QString &path, QString *reason)
{
    return syncPath(path, 0, reason);
}

bool syncFolder(const QString &path, QString *reason)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    Q_UNUSED(reason);
    return true; // Windows neither opens nor syncs folders this way; NTFS journals the renames
#else
    return syncPath(path, O_DIRECTORY, reason);
#endif
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
