#pragma once

// Standard input, output and error (descriptors 0-2) may be closed when a
// program starts (`tool >&-`, a daemon's launcher). The next file opened
// would then take that number, and whatever is printed to "standard output"
// would land in it: log lines in a data file, or nowhere. The event log
// (EventLog) calls reserve() before it opens its file, so every program that
// logs has its descriptors 0-2 taken first.
namespace StandardDescriptors {

// Points each closed descriptor of 0, 1 and 2 at the null device.
void reserve();

} // namespace StandardDescriptors
