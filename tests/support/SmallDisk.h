#pragma once

#include <QDir>
#include <QProcess>
#include <QString>

// A small file system of its own (tmpfs), so that a test can fill it. Needs
// root; `mounted` tells whether it could be made, and tests skip when not.
struct SmallDisk
{
    QString path;
    bool mounted = false;
    explicit SmallDisk(const QString &where, const QString &size = QStringLiteral("2m"))
        : path(where)
    {
        QDir().mkpath(path);
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                     QStringLiteral("size=") + size, QStringLiteral("tmpfs"), path})
                  == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {path});
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
};
