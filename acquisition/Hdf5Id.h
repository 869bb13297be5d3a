#pragma once

#include <hdf5.h>

#include <utility>

// Owns one HDF5 identifier (file, group, dataset, dataspace, property list,
// datatype or attribute) and releases it when it goes out of scope, so that
// every early return of the HDF5 code closes what it opened. A file, whose
// closing writes its last metadata and can fail, is taken with release() and
// closed with H5Fclose by its owner.
//
// Thread contract: like the identifier, used by one thread at a time.
class Hdf5Id
{
public:
    Hdf5Id() = default;
    explicit Hdf5Id(hid_t id) : m_id(id) {}
    ~Hdf5Id() { reset(); }
    Hdf5Id(Hdf5Id &&other) noexcept : m_id(std::exchange(other.m_id, H5I_INVALID_HID)) {}
    Hdf5Id &operator=(Hdf5Id &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_id = std::exchange(other.m_id, H5I_INVALID_HID);
        }
        return *this;
    }
    Hdf5Id(const Hdf5Id &) = delete;
    Hdf5Id &operator=(const Hdf5Id &) = delete;

    hid_t get() const { return m_id; }
    bool valid() const { return m_id >= 0; }

    // Gives the identifier up to the caller, who closes it.
    hid_t release() { return std::exchange(m_id, H5I_INVALID_HID); }
    // Releases the identifier. Every HDF5 call clears the error stack, so the
    // stack of a failure just before is set aside and put back: the reason
    // survives the cleanup on the way out of the failed code.
    void reset()
    {
        if (!valid())
            return;
        if (H5Eget_num(H5E_DEFAULT) <= 0) {
            H5Idec_ref(release());
            return;
        }
        const hid_t failure = H5Eget_current_stack();
        H5Idec_ref(release());
        H5Eset_current_stack(failure);
    }

private:
    hid_t m_id = H5I_INVALID_HID;
};
