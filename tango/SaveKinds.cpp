#include "tango/SaveKinds.h"

#include "operation/SaveRequest.h"

#include <QStringList>

namespace SaveKinds {

QString parse(const QString &list, SaveRequest *request)
{
    SaveRequest kinds;
    for (const QString &item : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString kind = item.trimmed().toLower();
        if (kind == QLatin1String("data"))
            kinds.data = true;
        else if (kind == QLatin1String("pictures"))
            kinds.pictures = true;
        else if (kind == QLatin1String("video"))
            kinds.video = true;
        else if (kind == QLatin1String("hdf5"))
            kinds.hdf5 = true;
        else if (!kind.isEmpty())
            return QStringLiteral("\"%1\" is not a kind to save: use data, pictures, video or hdf5.").arg(item.trimmed());
    }
    if (!kinds.data && !kinds.pictures && !kinds.video && !kinds.hdf5)
        return QStringLiteral("Choose at least one kind to save: data, pictures, video or hdf5.");
    request->data = kinds.data;
    request->pictures = kinds.pictures;
    request->video = kinds.video;
    request->hdf5 = kinds.hdf5;
    return {};
}

QString format(const SaveRequest &request)
{
    QStringList kinds;
    if (request.data)
        kinds << QStringLiteral("data");
    if (request.pictures)
        kinds << QStringLiteral("pictures");
    if (request.video)
        kinds << QStringLiteral("video");
    if (request.hdf5)
        kinds << QStringLiteral("hdf5");
    return kinds.join(QLatin1Char(','));
}

} // namespace SaveKinds
