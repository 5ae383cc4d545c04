// The default image-file reads on the run-time's descriptor calls. MinGW and
// MSVC spell them with a leading underscore and know O_BINARY and O_RANDOM;
// POSIX has neither flag, and its files are always untranslated.
#include "sequencer/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr int IMAGE_OPEN_FLAGS = _O_RDONLY | _O_BINARY | _O_RANDOM;
#else
constexpr int IMAGE_OPEN_FLAGS = O_RDONLY;
#endif

}  // namespace

int SequencerHost::OpenImage(const char* path) {
#ifdef _WIN32
    return _open(path, IMAGE_OPEN_FLAGS);
#else
    return open(path, IMAGE_OPEN_FLAGS);
#endif
}

int64_t SequencerHost::SeekImage(int fd, int64_t offset, int whence) {
#ifdef _WIN32
    return _lseeki64(fd, offset, whence);
#else
    return lseek(fd, static_cast<off_t>(offset), whence);
#endif
}

int32_t SequencerHost::ReadImage(int fd, void* buf, int32_t n) {
#ifdef _WIN32
    return _read(fd, buf, static_cast<unsigned>(n));
#else
    return static_cast<int32_t>(read(fd, buf, static_cast<size_t>(n)));
#endif
}

void SequencerHost::CloseImage(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

ImageStamp SequencerHost::StampImage(int fd) {
    ImageStamp stamp;
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0) return stamp;
#else
    struct stat st;
    if (fstat(fd, &st) != 0) return stamp;
    stamp.mtimeNs = st.st_mtim.tv_nsec;
#endif
    stamp.mtime = static_cast<int64_t>(st.st_mtime);
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    return stamp;
}
