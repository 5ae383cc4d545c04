#include "tests/sim/host_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

bool HostPort::Open(const std::string& path, uint32_t baud) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd_, TCSANOW, &t) == 0 && SetRate(baud);
}

void HostPort::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool HostPort::SetRate(uint32_t baud) { return SetExactRate(fd_, baud); }

void HostPort::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::string HostPort::Read(size_t n, std::chrono::milliseconds timeout) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[512];
        const size_t want = std::min(sizeof buf, n - got.size());
        const ssize_t r = read(fd_, buf, want);
        if (r > 0)
            got.append(buf, static_cast<size_t>(r));
        else if (r == 0 || errno != EAGAIN)
            break;
    }
    return got;
}

bool HostPort::WaitHangup(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    if (p.revents & POLLHUP) return true;
    char c;
    const ssize_t r = read(fd_, &c, 1);
    return r == 0 || (r < 0 && errno == EIO);
}
