// Runs the simulated bootloader on a pseudo-terminal: moves bytes between the
// pseudo-terminal and the Device, paces them when asked, and notices the host
// opening and closing its side.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/device.h"
#include "sim/pty.h"

struct SimOptions {
    DeviceConfig device;
    uint32_t expectBaud = 0;   // 0: answer at any rate
    bool pace = false;         // bytes take 10 bit times each, as on a real line
    int64_t timeLimitMs = 0;   // 0: no limit
    bool exitAfterGo = false;
    int goGraceMs = 2000;      // after the go answer, wait this long for the host to close
};

class Simulator {
public:
    explicit Simulator(SimOptions options);

    bool Open(std::string& error);
    const std::string& slavePath() const { return pty_.slavePath(); }

    // Runs until `stop` is set, the time limit passes, the go frame has been
    // answered (exitAfterGo) or the device vanishes. Returns the reason.
    std::string Run(const std::atomic<bool>& stop);

    // Progress that another thread may watch while Run goes on.
    uint64_t bytesRead() const { return bytesRead_.load(); }
    int hostCloses() const { return hostCloses_.load(); }

    // After Run has returned.
    const Device& device() const { return device_; }
    nlohmann::ordered_json Report() const;

private:
    struct Pending {
        std::string bytes;
        int64_t dueUs;
        LineSettings line;  // input only: settings when the bytes arrived
    };

    int64_t NowUs() const;
    int64_t ByteUs() const;
    void ReadInput(int64_t nowUs);
    void FeedDue(int64_t nowUs);
    void ScheduleOutput(int64_t nowUs);
    void FlushDue(int64_t nowUs);
    bool HostHasPort() const;
    int64_t NextDueUs() const;

    SimOptions opt_;
    Pty pty_;
    Device device_;
    int64_t startUs_ = 0;
    bool hostOpen_ = false;
    LineSettings line_;
    std::deque<Pending> in_, out_;
    int64_t inTailUs_ = 0, outTailUs_ = 0;
    bool outBlocked_ = false;
    std::atomic<uint64_t> bytesRead_{0};
    std::atomic<int> hostCloses_{0};
    std::string stopReason_;
    int64_t endMs_ = 0;
};
