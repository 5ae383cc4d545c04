// Line settings applied through Linux's termios2 interface, which takes every
// rate exactly and the whole setting in one step.
#pragma once

#include <cstdint>

#include "serial/ttyinfo.h"

// A terminal's flag words and rates.
struct LineFlags {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
};

// The flags of a raw line with the record's settings, built on the current
// ones. Rates with a termios constant use it, others are given exactly.
// Settings termios cannot express are the caller's to refuse beforehand.
LineFlags ComposeLineFlags(const TTYInfo& tty, const LineFlags& current);

// Applies the record's settings to the open terminal. 0 or an errno.
int ApplyLineSettings(int fd, const TTYInfo& tty);

// Reads the terminal's input and output rates. 0 or an errno.
int ReadExactRates(int fd, uint32_t* inBaud, uint32_t* outBaud);
