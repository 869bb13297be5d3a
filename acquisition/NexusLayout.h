#pragma once

#include <hdf5.h>

// The NeXus view of a recording, so that viewers which follow the NeXus
// "default" chain (silx, NeXpy, PyMca) open the run as an image stack:
//
//   /                        default = "entry"
//   /entry                   NXentry, default = "data"
//   /entry/instrument        NXinstrument
//   /entry/instrument/detector  NXdetector
//   /entry/data              NXdata, signal = "current"
//   /entry/data/current      hard link to /frames/current
//   /entry/data/gray         hard link to /frames/gray
//
// The signal gets interpretation = "image" beside its "units". Groups, links
// and attributes are all created before SWMR writing starts, which allows no
// new objects; /frames itself keeps its layout.
namespace NexusLayout {

// The groups, links and attributes above in the open file, whose
// /frames/current and /frames/gray already exist. False on the first HDF5
// failure (its error stack says why).
bool create(hid_t file);

} // namespace NexusLayout
