#include "acquisition/Hdf5ErrorScope.h"

#include <QStringList>

Hdf5ErrorScope::Hdf5ErrorScope()
{
    H5Eget_auto2(H5E_DEFAULT, &m_function, &m_data);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

Hdf5ErrorScope::~Hdf5ErrorScope()
{
    H5Eset_auto2(H5E_DEFAULT, m_function, m_data);
}

namespace {

herr_t collect(unsigned, const H5E_error2_t *entry, void *data)
{
    if (entry->desc)
        static_cast<QStringList *>(data)->append(QString::fromUtf8(entry->desc));
    return 0;
}

// The file drivers report a failed system call as
// "... errno = 28, error message = 'No space left on device', ...".
QString systemReason(const QString &description)
{
    static const QString kMarker = QStringLiteral("error message = '");
    const qsizetype start = description.indexOf(kMarker);
    if (start < 0)
        return QString();
    const qsizetype from = start + kMarker.size();
    const qsizetype end = description.indexOf(QLatin1Char('\''), from);
    return end > from ? description.mid(from, end - from) : QString();
}

} // namespace

QString Hdf5ErrorScope::lastError(const QString &fallback)
{
    QStringList descriptions; // from the API call down to where it failed
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, collect, &descriptions);
    for (const QString &description : descriptions) {
        const QString reason = systemReason(description);
        if (!reason.isEmpty())
            return reason;
    }
    return descriptions.isEmpty() ? fallback : descriptions.constLast();
}
