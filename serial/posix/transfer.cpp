// The receive thread and the byte writers.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "serial/port.h"
#include "serial/posix/tty_platform.h"

namespace {

constexpr int READ_MAX = 80;              // bytes taken by one read
constexpr int WRITE_WAIT_MS = 1000;       // longest wait for the line to take bytes

using Clock = std::chrono::steady_clock;

// Empties the driver's input queue into the response fields. False when the
// port failed, so the caller stops watching it.
bool Drain(TTYInfo* tty) {
    uint8_t abIn[READ_MAX];
    // A device that never stops sending would keep the drain going for ever:
    // closing ends it.
    while (tty->bPortOpen.load() != 0) {
        const ssize_t n = read(tty->hComm, abIn, sizeof abIn);
        if (n > 0) {
            StoreResponseBytes(*tty, abIn, static_cast<int32_t>(n));
            continue;
        }
        // A raw line without a minimum count answers an empty queue with 0.
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return true;
        if (errno != EINTR) return false;
    }
    return true;
}

// Waits until fd takes output or the deadline passes; false on time-out or a
// failed port.
bool WaitWritable(int fd, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        return (p.revents & POLLOUT) != 0;
    }
}

// Writes len bytes in as few writes as the line allows, each stretch without
// progress bounded by WRITE_WAIT_MS. False, with the reason recorded, when not
// every byte went out.
bool WriteBounded(TTYInfo* tty, const uint8_t* bytes, size_t len) {
    auto deadline = Clock::now() + std::chrono::milliseconds(WRITE_WAIT_MS);
    while (len > 0) {
        const ssize_t n = write(tty->hComm, bytes, len);
        if (n > 0) {
            bytes += n;
            len -= static_cast<size_t>(n);
            deadline = Clock::now() + std::chrono::milliseconds(WRITE_WAIT_MS);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            tty->platform->lastError = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
        if (!WaitWritable(tty->hComm, deadline)) {
            tty->platform->lastError = "write timed out";
            return false;
        }
    }
    return true;
}

}  // namespace

void ReceiveThread(TTYInfo* tty) {
    bool watchPort = true;
    while (tty->bPortOpen.load() != 0) {
        // A port that hung up keeps reporting it; it is left out of the wait
        // from then on, so the thread sleeps until closing wakes it.
        pollfd fds[2] = {{watchPort ? tty->hComm : -1, POLLIN, 0},
                         {tty->platform->wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents == 0) continue;
        const bool healthy = Drain(tty);
        if (!healthy || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) watchPort = false;
    }
    tty->dwThreadID.store(0);
}

int SendPortBlock(TTYInfo* tty, const uint8_t* bytes, int32_t len) {
    if (tty == nullptr) return 0;
    for (int32_t i = 0; i < len; ++i) {
        if (tty->bPortOpen.load() == 0) return 0;
        // A byte the line would not take in time ends the block: the frame is
        // broken anyway, and the caller learns of it.
        if (!WriteBounded(tty, bytes + i, 1)) return 0;
    }
    return 1;
}

int WritePortAll(TTYInfo* tty, const uint8_t* bytes, int32_t len) {
    if (tty == nullptr || tty->bPortOpen.load() == 0 || len < 0) return 0;
    return WriteBounded(tty, bytes, static_cast<size_t>(len)) ? 1 : 0;
}
