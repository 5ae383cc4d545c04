// Opening, configuring and closing a serial port on termios.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

#include "serial/port.h"
#include "serial/posix/line_settings.h"
#include "serial/posix/tty_platform.h"

namespace {

void SetError(TTYInfo* tty, std::string text) { tty->platform->lastError = std::move(text); }

std::string OpenFailure(int err) {
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return "no such port";
    case EACCES:
    case EPERM:
    case EROFS:
        return "permission denied";
    case EBUSY:
    case EWOULDBLOCK:
        return "port busy";
    case ENOTTY:
        return "not a serial port";
    default:
        return std::strerror(err);
    }
}

// The settings termios cannot express; empty when all can be set.
std::string Unsettable(const TTYInfo* tty) {
    if (tty->bDataBits < 5 || tty->bDataBits > 8)
        return std::to_string(tty->bDataBits) + " data bits cannot be set on this system";
    if (tty->bParityCode > 4)
        return "parity code " + std::to_string(tty->bParityCode) + " cannot be set on this system";
    if (tty->bStopCode == 1) return "1.5 stop bits cannot be set on this system";
    if (tty->bStopCode > 2)
        return "stop-bits code " + std::to_string(tty->bStopCode) + " cannot be set on this system";
    if (tty->bFlowFlags & FLOW_DTRDSR)
        return "DTR/DSR flow control cannot be set on this system";
    if (tty->dwBaud == 0) return "a rate of 0 cannot be set";
    return {};
}

// Applies the record's line settings to fd. Nothing is changed when a
// setting cannot be expressed.
bool SetLine(TTYInfo* tty, int fd) {
    std::string reason = Unsettable(tty);
    if (reason.empty()) {
        const int err = ApplyLineSettings(fd, *tty);
        if (err == 0) return true;
        reason = err == ENOTTY ? "not a serial port"
                               : std::string("line settings refused: ") + std::strerror(err);
    }
    SetError(tty, reason);
    return false;
}

// Without a path the port number names the system's n-th serial port.
std::string PortPath(const TTYInfo* tty) {
    if (!tty->portPath.empty()) return tty->portPath;
    return "/dev/ttyS" + std::to_string(tty->bPortNum > 0 ? tty->bPortNum - 1 : 0);
}

void ClosePortFd(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

// Identifiers of receive threads; never 0, which means "no thread".
uint32_t NextThreadId() {
    static std::atomic<uint32_t> last{0};
    uint32_t id;
    do id = ++last; while (id == 0);
    return id;
}

}  // namespace

TTYInfo* NewPortRecord() {
    auto* tty = new (std::nothrow) TTYInfo;
    if (tty == nullptr) return nullptr;
    tty->platform = new (std::nothrow) TTYPlatform;
    if (tty->platform != nullptr)
        tty->platform->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (tty->platform == nullptr || tty->platform->wakeFd < 0) {
        delete tty->platform;
        delete tty;
        return nullptr;
    }
    tty->hComm = -1;
    return tty;
}

void FreePortRecord(TTYInfo* tty) {
    if (tty == nullptr) return;
    DisconnectPort(tty);
    close(tty->platform->wakeFd);
    delete tty->platform;
    delete tty;
}

int ConnectPort(TTYInfo* tty) {
    if (tty == nullptr) return 0;
    if (tty->bPortOpen.load() != 0) {
        SetError(tty, "port already open");
        return 0;
    }
    SetError(tty, {});
    const int fd = open(PortPath(tty).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(tty, OpenFailure(errno));
        return 0;
    }
    if (!isatty(fd)) {
        SetError(tty, "not a serial port");
        close(fd);
        return 0;
    }
    // TIOCEXCL keeps other users out, but not the super-user; the lock
    // covers that case between programs that lock, as this one does.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(tty, OpenFailure(errno));
        close(fd);
        return 0;
    }
    ioctl(fd, TIOCEXCL);
    tty->hComm = fd;
    if (!SetLine(tty, fd)) {
        ClosePortFd(fd);
        return 0;
    }
    tcflush(fd, TCIOFLUSH);

    // The identifier is in place before the thread runs, so the thread's
    // clearing it is always the last word, however soon it ends.
    tty->bPortOpen.store(1);
    tty->dwThreadID.store(NextThreadId());
    try {
        tty->platform->receiver = std::thread(ReceiveThread, tty);
    } catch (const std::system_error& e) {
        tty->bPortOpen.store(0);
        tty->dwThreadID.store(0);
        SetError(tty, std::string("receive thread cannot be started: ") + e.what());
        ClosePortFd(fd);
        return 0;
    }
    const int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);  // pseudo-terminals have no DTR
    return 1;
}

int ConfigurePort(TTYInfo* tty) {
    if (tty == nullptr) return 0;
    if (tty->bPortOpen.load() == 0) {
        SetError(tty, "port not open");
        return 0;
    }
    SetError(tty, {});
    return SetLine(tty, tty->hComm) ? 1 : 0;
}

int DisconnectPort(TTYInfo* tty) {
    if (tty == nullptr) return 0;
    if (tty->bPortOpen.load() == 0) return 1;
    tty->bPortOpen.store(0);
    const uint64_t one = 1;
    ssize_t ignored = write(tty->platform->wakeFd, &one, sizeof one);
    (void)ignored;
    // The thread never blocks but in its wait, which the event ends, so the
    // join is short; afterwards dwThreadID is 0.
    if (tty->platform->receiver.joinable()) tty->platform->receiver.join();
    uint64_t count;
    ignored = read(tty->platform->wakeFd, &count, sizeof count);

    const int fd = tty->hComm;
    const int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    tcflush(fd, TCIOFLUSH);
    ClosePortFd(fd);
    return 1;
}

std::string LastPortError(const TTYInfo* tty) {
    if (tty == nullptr || tty->platform == nullptr) return {};
    return tty->platform->lastError;
}
