#pragma once

#include <QString>

struct SaveRequest;

// The kinds of a save run as a remote client writes them: a comma list of
// "data", "pictures", "video" and "hdf5" (any order, spaces ignored).
namespace SaveKinds {

// Sets the request's kinds from the list, or returns the sentence that refuses it.
QString parse(const QString &list, SaveRequest *request);
// The request's kinds as such a list.
QString format(const SaveRequest &request);

} // namespace SaveKinds
