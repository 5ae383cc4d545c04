// <asm/termbits.h> (termios2, TCGETS2) redefines the types of <termios.h>, so it lives alone here.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

uint32_t ReadExactRate(int fd) {
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0) return 0;
    return t2.c_ospeed;
}
