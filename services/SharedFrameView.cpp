#include "services/SharedFrameView.h"

#include "services/ServicesLogging.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string systemError(int error)
{
    return qt_error_string(error).toStdString();
}

#ifndef Q_OS_WIN

constexpr mode_t kMode = 0600;

// Opens the object read-write, creating it with kMode when it does not exist.
int openObject(const std::string &path, std::string &error)
{
    int fd = shm_open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, kMode);
    if (fd >= 0)
        fchmod(fd, kMode); // the umask may have cleared bits; the mode check below sees it
    else if (errno == EEXIST)
        fd = shm_open(path.c_str(), O_RDWR, 0);
    if (fd < 0)
        error = "it could not be opened (" + systemError(errno) + ")";
    return fd;
}

// A console started with a standard stream closed gets descriptor 0, 1 or 2
// for the object, and whatever is printed to that stream would land in the
// frame; the object is moved to a descriptor above them.
int awayFromStandardStreams(int fd, std::string &error)
{
    if (fd > STDERR_FILENO)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        error = "its descriptor could not be moved (" + systemError(errno) + ")";
    ::close(fd);
    return moved;
}

// Empty when the object may carry our frames: a regular file owned by the
// effective user with mode 0600 exactly, so no one else reads or replaces them.
std::string refusal(const struct stat &info)
{
    if (!S_ISREG(info.st_mode))
        return "it is not a regular file";
    const unsigned mode = info.st_mode & 07777;
    if (info.st_uid == geteuid() && mode == kMode)
        return {};
    char text[160];
    std::snprintf(text, sizeof text, "it belongs to uid %u with mode %04o instead of this user (uid %u) with mode %04o",
                  unsigned(info.st_uid), mode, unsigned(geteuid()), unsigned(kMode));
    return text;
}

// pwrite until every byte is out; a short write is continued, an interrupted
// one retried. On failure errno tells why.
bool writeAll(int fd, const char *bytes, std::size_t length, off_t offset)
{
    while (length > 0) {
        const ssize_t written = ::pwrite(fd, bytes, length, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes += written;
        length -= std::size_t(written);
        offset += written;
    }
    return true;
}

#endif

} // namespace

SharedFrameView::SharedFrameView(const char *name)
    : m_name(name)
{
    open();
    if (!isOpen())
        qCWarning(lcServices, "Shared memory block %s is not used because %s; frames are not published.", name,
                 m_error.c_str());
}

bool SharedFrameView::publish(const double *values, std::size_t count)
{
    if (!isOpen())
        return false; // reported once, when opening
    QString problem;
    if (!values || count > kMaxValues)
        problem = QStringLiteral("a frame of %1 values does not fit").arg(values ? count : 0);
    else if (!write(values, count))
        problem = qt_error_string(errno);
    noteOutcome(problem);
    return problem.isEmpty();
}

void SharedFrameView::noteOutcome(const QString &problem)
{
    // One warning per run of failures: at 100 frames a second anything more
    // would bury the rest of the log.
    if (!problem.isEmpty()) {
        if (!m_failing.exchange(true))
            qCWarning(lcServices, "Frames could not be written to shared memory block %s (%s); every next frame is tried again.",
                     m_name.c_str(), qPrintable(problem));
    } else if (m_failing.exchange(false)) {
        qCInfo(lcServices, "Frames are written to shared memory block %s again.", m_name.c_str());
    }
}

#ifdef Q_OS_WIN

void SharedFrameView::open()
{
    // Creating a mapping whose name exists already opens the existing one.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(Size), m_name.c_str());
    if (!mapping) {
        m_error = "it could not be created (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    m_view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, Size);
    if (!m_view) {
        m_error = "it could not be mapped (error " + std::to_string(GetLastError()) + ")";
        CloseHandle(mapping);
        return;
    }
    m_mapping = mapping;
}

SharedFrameView::~SharedFrameView()
{
    if (m_view)
        UnmapViewOfFile(m_view);
    if (m_mapping)
        CloseHandle(m_mapping);
}

bool SharedFrameView::isOpen() const
{
    return m_view != nullptr;
}

bool SharedFrameView::write(const double *values, std::size_t count)
{
    // A paging-file mapping cannot shrink, so copying into the view cannot fault.
    const std::size_t bytes = count * sizeof(double);
    std::memcpy(m_view, values, bytes);
    std::memset(static_cast<char *>(m_view) + bytes, 0, Size - bytes);
    return true;
}

#else

void SharedFrameView::open()
{
    int fd = openObject("/" + m_name, m_error);
    if (fd >= 0)
        fd = awayFromStandardStreams(fd, m_error);
    if (fd < 0)
        return;
    struct stat info {};
    if (fstat(fd, &info) != 0)
        m_error = "it could not be examined (" + systemError(errno) + ")";
    else
        m_error = refusal(info);
    // A new (empty) or shorter object is grown; a larger one is left as it is.
    if (m_error.empty() && info.st_size < off_t(Size) && ftruncate(fd, off_t(Size)) != 0)
        m_error = "it could not be grown to " + std::to_string(Size) + " bytes (" + systemError(errno) + ")";
    if (!m_error.empty()) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

SharedFrameView::~SharedFrameView()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SharedFrameView::isOpen() const
{
    return m_fd >= 0;
}

bool SharedFrameView::write(const double *values, std::size_t count)
{
    // One pwrite carries a whole frame; a shorter one is followed by zeros so
    // that a shrunk object is always grown back to Size.
    static const char zeros[Size] = {};
    const std::size_t bytes = count * sizeof(double);
    return writeAll(m_fd, reinterpret_cast<const char *>(values), bytes, 0)
        && (bytes == Size || writeAll(m_fd, zeros, Size - bytes, off_t(bytes)));
}

#endif
