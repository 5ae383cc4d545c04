// <asm/termbits.h> (termios2, BOTHER) clashes with <termios.h>, so it lives alone here.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

bool SetExactRate(int fd, uint32_t baud) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) return false;
    t2.c_cflag &= ~CBAUD;
    t2.c_cflag |= BOTHER;
    t2.c_ispeed = t2.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t2) == 0;
}
