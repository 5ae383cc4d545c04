// The host's end of the simulated device's pseudo-terminal, as a test drives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class HostPort {
public:
    HostPort() = default;
    ~HostPort() { Close(); }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    // Opens the port raw, 8N1, at `baud` (any rate, custom ones included).
    bool Open(const std::string& path, uint32_t baud);
    void Close();
    bool SetRate(uint32_t baud);

    void Write(const std::string& bytes);
    // Reads until n bytes have come or the timeout passes; returns what came.
    std::string Read(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True once the device side has gone away (hang-up).
    bool WaitHangup(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    int fd_ = -1;
};

// Sets an exact line rate with termios2.
bool SetExactRate(int fd, uint32_t baud);
