#pragma once

// How another program reads the published frame: map /dev/shm/<name>
// read-only, as the README tells readers to. Used by the shared-memory tests
// and by the probe that plays a second process.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace SharedFrameReader {

// The whole object as doubles; empty when it is empty or cannot be read.
inline std::vector<double> read(const std::string &name)
{
    std::vector<double> values;
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && info.st_size > 0) {
        const std::size_t bytes = std::size_t(info.st_size);
        void *view = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            values.resize(bytes / sizeof(double));
            std::memcpy(values.data(), view, values.size() * sizeof(double));
            munmap(view, bytes);
        }
    }
    if (fd >= 0)
        ::close(fd);
    return values;
}

// Its size in bytes as a reader sees it.
inline long long sizeOf(const std::string &name)
{
    return static_cast<long long>(read(name).size() * sizeof(double));
}

} // namespace SharedFrameReader
