#include "sim/pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Rate constants for the rare case that TCGETS2 is unavailable.
uint32_t RateFromConstant(speed_t s) {
    static constexpr struct {
        speed_t code;
        uint32_t baud;
    } RATES[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
                 {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
                 {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (const auto& r : RATES)
        if (r.code == s) return r.baud;
    return 0;
}

}  // namespace

Pty::~Pty() { Close(); }

bool Pty::Open(std::string& error) {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 ||
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) != 0 ||
        fcntl(fd_, F_SETFD, FD_CLOEXEC) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    char name[128];
    if (ptsname_r(fd_, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    slavePath_ = name;
    // A pseudo-terminal whose slave was never opened shows no hang-up; one
    // open and close makes "nobody has the port" look the same from the start.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) close(slave);
    return true;
}

void Pty::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

LineSettings Pty::ReadSettings() const {
    LineSettings s;
    // On the master side these calls read the slave's settings, which the host set.
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return s;
    s.baud = ReadExactRate(fd_);
    if (s.baud == 0) s.baud = RateFromConstant(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: s.dataBits = 5; break;
        case CS6: s.dataBits = 6; break;
        case CS7: s.dataBits = 7; break;
        default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}
