// "Debug.txt" in the current directory: created when missing, emptied when
// present, and closed again at once. Nothing writes to it.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "app/app.h"

namespace {

constexpr char LOG_NAME[] = "Debug.txt";

constexpr int LOG_FLAGS_EXISTING = _O_WRONLY | _O_BINARY | _O_RANDOM | _O_TRUNC;
constexpr int LOG_FLAGS_NEW = LOG_FLAGS_EXISTING | _O_CREAT;
constexpr int LOG_PERMISSION = _S_IREAD | _S_IWRITE;

// The file is opened exactly as the run-time's low-level open understands
// these values; a run-time with other values would open it differently.
static_assert(LOG_FLAGS_EXISTING == 0x8211, "open flags for an existing log");
static_assert(LOG_FLAGS_NEW == 0x8311, "open flags for a new log");
static_assert(LOG_PERMISSION == 0x180, "permission of a new log");

}  // namespace

int32_t fdLog = -1;

int32_t FileMissing(const char* path) {
    struct _stat st;
    return _stat(path, &st) != 0 ? 1 : 0;
}

// A log that cannot be opened (a directory of that name, a read-only file or
// folder) leaves fdLog at -1 and start-up goes on.
void PrepareDebugLog() {
    fdLog = -1;
    const int flags = FileMissing(LOG_NAME) == 0 ? LOG_FLAGS_EXISTING : LOG_FLAGS_NEW;
    fdLog = _open(LOG_NAME, flags, LOG_PERMISSION);
    if (fdLog != -1) _close(fdLog);
    fdLog = -1;
}
