#pragma once

#include <hdf5.h>

#include <QString>

// While alive, keeps HDF5 from printing its error stacks to stderr (the sink
// reports its failures itself) and turns the stack of the call that just
// failed into the clause the operator reads: the system's reason when a file
// operation failed ("No space left on device"), else HDF5's own words.
//
// Thread contract: HDF5 keeps one error stack per thread; a scope belongs to
// the thread that made it.
class Hdf5ErrorScope
{
public:
    Hdf5ErrorScope();
    ~Hdf5ErrorScope();
    Hdf5ErrorScope(const Hdf5ErrorScope &) = delete;
    Hdf5ErrorScope &operator=(const Hdf5ErrorScope &) = delete;

    // The reason of the last failed HDF5 call on this thread, or `fallback`
    // when the stack says nothing.
    static QString lastError(const QString &fallback);

private:
    H5E_auto2_t m_function = nullptr; // the printing that was active before, restored at the end
    void *m_data = nullptr;
};
