// Kept apart because <asm/termbits.h>, which defines termios2, conflicts with
// <termios.h>.
#include "serial/posix/line_settings.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace {

struct RateCode {
    uint32_t baud;
    uint32_t code;
};

constexpr RateCode RATE_CODES[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

uint32_t RateCodeOf(uint32_t baud) {
    for (const RateCode& r : RATE_CODES)
        if (r.baud == baud) return r.code;
    return BOTHER;
}

uint32_t SizeBits(uint8_t dataBits) {
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

}  // namespace

LineFlags ComposeLineFlags(const TTYInfo& tty, const LineFlags& current) {
    LineFlags f = current;
    // Raw: no line editing, echo, signals or translation of bytes.
    f.iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                 IXANY | INPCK);
    f.oflag &= ~OPOST;
    f.lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);

    f.cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    f.cflag |= CLOCAL | CREAD | SizeBits(tty.bDataBits);
    switch (tty.bParityCode) {
    case 1: f.cflag |= PARENB | PARODD; break;
    case 2: f.cflag |= PARENB; break;
    case 3: f.cflag |= PARENB | CMSPAR | PARODD; break;  // mark
    case 4: f.cflag |= PARENB | CMSPAR; break;           // space
    default: break;
    }
    if (tty.bParityCode != 0) f.iflag |= INPCK;
    if (tty.bStopCode == 2) f.cflag |= CSTOPB;
    if (tty.bFlowFlags & FLOW_RTSCTS) f.cflag |= CRTSCTS;
    if (tty.bFlowFlags & FLOW_XONXOFF) f.iflag |= IXON | IXOFF;

    // A clear input-rate field makes the input rate follow the output rate.
    f.cflag |= RateCodeOf(tty.dwBaud);
    f.ispeed = tty.dwBaud;
    f.ospeed = tty.dwBaud;
    return f;
}

int ApplyLineSettings(int fd, const TTYInfo& tty) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    const LineFlags f = ComposeLineFlags(
        tty, {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_ispeed, t.c_ospeed});
    t.c_iflag = f.iflag;
    t.c_oflag = f.oflag;
    t.c_cflag = f.cflag;
    t.c_lflag = f.lflag;
    t.c_ispeed = f.ispeed;
    t.c_ospeed = f.ospeed;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int ReadExactRates(int fd, uint32_t* inBaud, uint32_t* outBaud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    *inBaud = t.c_ispeed;
    *outBaud = t.c_ospeed;
    return 0;
}
