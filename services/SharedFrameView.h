#pragma once

#include <cstddef>
#include <string>

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

    // The process-wide view of "MemoryShare". data() is null when creating or
    // mapping failed (a warning says so once); nothing may write through it then.
    static SharedFrameView &instance();

    // A view of the block of another name (tests use private names so that
    // they never disturb a running console). Name without the leading slash.
    explicit SharedFrameView(const char *name);
    // The mapping lives until the process ends, so the destructor leaves it.
    ~SharedFrameView() = default;
    SharedFrameView(const SharedFrameView &) = delete;
    SharedFrameView &operator=(const SharedFrameView &) = delete;

    void *data() const { return m_view; }
    // Why mapping failed, empty when data() is not null.
    const std::string &error() const { return m_error; }

private:
    void map(const char *name);

    void *m_view = nullptr;        // written once in the constructor, read-only afterwards
    std::string m_error;           // idem
};
