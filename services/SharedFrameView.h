#pragma once

#include <cstddef>

// The named shared-memory block "MemoryShare" in which the acquisition worker
// publishes every frame's 16384 currents (nA, native doubles, no header, no
// lock) for other programs. On Linux it is the POSIX object "/MemoryShare",
// created 0600; on Windows a paging-file mapping of the same name. It is
// created and mapped once during static initialisation and stays mapped until
// the process ends; two console instances share it.
class SharedFrameView
{
public:
    static constexpr const char *Name = "MemoryShare";
    static constexpr std::size_t Size = 131072;

    // The process-wide view. data() is null when creating or mapping failed;
    // nothing may write through it then.
    static SharedFrameView &instance();

    void *data() const { return m_view; }

private:
    SharedFrameView();
    ~SharedFrameView() = default; // the mapping lives until the process ends
    SharedFrameView(const SharedFrameView &) = delete;
    SharedFrameView &operator=(const SharedFrameView &) = delete;

    void *m_view = nullptr; // written once in the constructor, read-only afterwards
};
