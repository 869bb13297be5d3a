#include "acquisition/NexusLayout.h"

#include "acquisition/Hdf5Id.h"

#include <cstring>

namespace {

// Fixed-length ASCII text, the form every NeXus reader accepts for class names
// and pointers.
bool writeText(hid_t object, const char *name, const char *text)
{
    const Hdf5Id type(H5Tcopy(H5T_C_S1));
    const Hdf5Id space(H5Screate(H5S_SCALAR));
    if (!type.valid() || !space.valid() || H5Tset_size(type.get(), std::strlen(text)) < 0
        || H5Tset_strpad(type.get(), H5T_STR_NULLPAD) < 0)
        return false;
    const Hdf5Id attribute(H5Acreate2(object, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT));
    return attribute.valid() && H5Awrite(attribute.get(), type.get(), text) >= 0;
}

Hdf5Id createGroup(hid_t parent, const char *name, const char *nxClass)
{
    Hdf5Id group(H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (group.valid() && !writeText(group.get(), "NX_class", nxClass))
        return Hdf5Id();
    return group;
}

bool createInstrument(hid_t entry)
{
    const Hdf5Id instrument = createGroup(entry, "instrument", "NXinstrument");
    return instrument.valid() && createGroup(instrument.get(), "detector", "NXdetector").valid();
}

bool createData(hid_t file, hid_t entry)
{
    const Hdf5Id data = createGroup(entry, "data", "NXdata");
    if (!data.valid() || !writeText(data.get(), "signal", "current")
        || H5Lcreate_hard(file, "/frames/current", data.get(), "current", H5P_DEFAULT, H5P_DEFAULT) < 0
        || H5Lcreate_hard(file, "/frames/gray", data.get(), "gray", H5P_DEFAULT, H5P_DEFAULT) < 0)
        return false;
    // The link is the dataset itself: its "units" ("nA") already hold.
    const Hdf5Id signal(H5Dopen2(data.get(), "current", H5P_DEFAULT));
    return signal.valid() && writeText(signal.get(), "interpretation", "image");
}

} // namespace

bool NexusLayout::create(hid_t file)
{
    if (!writeText(file, "default", "entry"))
        return false;
    const Hdf5Id entry = createGroup(file, "entry", "NXentry");
    return entry.valid() && writeText(entry.get(), "default", "data") && createInstrument(entry.get())
           && createData(file, entry.get());
}
