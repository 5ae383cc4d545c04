// The master side of the pseudo-terminal the simulated device sits on.
#pragma once

#include <cstdint>
#include <string>

#include "sim/line_settings.h"

class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens a new pseudo-terminal; on failure returns false and sets error.
    bool Open(std::string& error);
    void Close();

    int fd() const { return fd_; }
    const std::string& slavePath() const { return slavePath_; }

    // The settings the host has put on the slave side.
    LineSettings ReadSettings() const;

private:
    int fd_ = -1;
    std::string slavePath_;
};

// The exact line rate of a terminal, custom rates included; 0 when unknown.
uint32_t ReadExactRate(int fd);
