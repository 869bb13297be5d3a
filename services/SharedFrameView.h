#pragma once

#include <QtGlobal>

#include <atomic>
#include <cstddef>
#include <string>

class QString;

// The named shared-memory block "MemoryShare" in which the acquisition worker
// publishes every frame's 16384 currents (nA, native doubles, no header, no
// lock) for other programs. On Linux it is the POSIX object "/MemoryShare",
// 131072 bytes, owned by this user with mode 0600; readers map
// /dev/shm/MemoryShare read-only. On Windows it is a paging-file mapping of
// the same name. The console's context opens it at start; two console
// instances share it.
//
// On Linux the console never maps the object: another program may shrink it
// at any time, and a store into a mapping past the object's end raises SIGBUS.
// Frames go out through the descriptor with pwrite instead, which fails or
// regrows the object rather than faulting.
//
// Thread contract: after the constructor, isOpen() and error() may be read
// from any thread. publish() is called by the acquisition worker; it touches only the
// descriptor and the atomic m_failing, so a second publishing thread would be
// safe too.
class SharedFrameView
{
public:
    static constexpr const char *Name = "MemoryShare";
    static constexpr std::size_t Size = 131072;
    static constexpr std::size_t kMaxValues = Size / sizeof(double);

    // The block of this name (tests use private names so that they never
    // disturb a running console). Name without the leading slash. A block that
    // cannot be opened, or that belongs to another user or has a mode other
    // than 0600, is not used: one warning says why, error() keeps the reason
    // and publish() does nothing.
    explicit SharedFrameView(const char *name);
    ~SharedFrameView();
    SharedFrameView(const SharedFrameView &) = delete;
    SharedFrameView &operator=(const SharedFrameView &) = delete;

    bool isOpen() const;
    // Why the block is not used, empty when isOpen().
    const std::string &error() const { return m_error; }

    // Writes count values (count <= kMaxValues) at the start of the block and
    // zeros after them, so the block holds exactly one frame and is grown back
    // to Size if someone shrank it. False when the block is not open, count is
    // too large or the write failed (the first failure of a run of them warns
    // once; publishing goes on with the next frame).
    bool publish(const double *values, std::size_t count);

private:
    void open();
    bool write(const double *values, std::size_t count);
    void noteOutcome(const QString &problem);

    // Written once in the constructor, read-only afterwards.
    std::string m_name;
    std::string m_error;
#ifdef Q_OS_WIN
    void *m_mapping = nullptr;
    void *m_view = nullptr;
#else
    int m_fd = -1;
#endif
    // Written by the publishing thread; atomic so that a second publisher
    // cannot tear it.
    std::atomic<bool> m_failing{false};
};
