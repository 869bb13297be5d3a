#include "SharedFrameView.h"

#include <QtGlobal>

#include <cerrno>
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

// Mapped during static initialisation: the worker may publish its first frame
// without ever having asked for the view.
[[maybe_unused]] const SharedFrameView &mappedBeforeMain = SharedFrameView::instance();

} // namespace

SharedFrameView &SharedFrameView::instance()
{
    static SharedFrameView view(Name);
    return view;
}

SharedFrameView::SharedFrameView(const char *name)
{
    map(name);
    if (!m_view)
        qWarning("Shared memory block %s could not be mapped (%s); frames are not published.",
                 name, m_error.c_str());
}

#ifdef Q_OS_WIN

void SharedFrameView::map(const char *name)
{
    // Creating a mapping whose name exists already opens the existing one.
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(Size), name);
    if (!mapping) {
        m_error = "CreateFileMapping failed";
        return;
    }
    m_view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, Size);
    if (!m_view)
        m_error = "MapViewOfFile failed";
    // The mapping handle stays open until the process ends, like the view.
}

#else

void SharedFrameView::map(const char *name)
{
    const std::string objectName = std::string("/") + name;
    const int fd = shm_open(objectName.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return;
    }
    // A block made larger by someone else is left as it is; a new (empty) or
    // shorter one is grown, so the mapping never reaches past its end.
    struct stat info {};
    if (fstat(fd, &info) != 0
        || (info.st_size < static_cast<off_t>(Size) && ftruncate(fd, static_cast<off_t>(Size)) != 0)) {
        m_error = std::strerror(errno);
        ::close(fd);
        return;
    }
    void *view = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapErrno = errno;
    ::close(fd); // the mapping keeps the object alive
    if (view == MAP_FAILED) {
        m_error = std::strerror(mapErrno);
        return;
    }
    m_view = view;
}

#endif
