// Helpers shared by the simulator tests: frames as strings and a simulator
// running on its own thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/protocol.h"
#include "sim/simulator.h"

using Json = nlohmann::ordered_json;

inline std::string Tok(const uint8_t* token) {
    return std::string(reinterpret_cast<const char*>(token), TOKEN_LEN);
}

inline std::string WriteFrameOf(const SectorGeometry& g, uint8_t sector, const std::string& data) {
    uint8_t buf[PKTBUF_SIZE];
    const int32_t n = BuildWriteFrame(buf, g, sector, reinterpret_cast<const uint8_t*>(data.data()),
                                      static_cast<int32_t>(data.size()));
    return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
}

inline std::string ResetFrameFor(const char* serial) {
    uint8_t buf[PKTBUF_SIZE];
    char text[32];
    return std::string(reinterpret_cast<char*>(buf),
                       static_cast<size_t>(BuildResetFrame(buf, text, serial)));
}

inline std::string GoFrame() {
    uint8_t buf[GO_FRAME_LEN];
    return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(BuildGoFrame(buf)));
}

// Sector data holding LF, CR and a capture character, as encrypted images may.
inline std::string SectorData(size_t n, int seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13) % 256));
    if (n > 8) s.replace(5, 3, "\n\rA");
    return s;
}

inline std::vector<Json> EventsOf(const Json& report, const std::string& kind) {
    std::vector<Json> out;
    for (const Json& e : report["events"])
        if (e["kind"] == kind) out.push_back(e);
    return out;
}

// Waits until `done` holds; false after the timeout.
template <typename Pred>
bool WaitFor(Pred done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class SimThread {
public:
    explicit SimThread(SimOptions options) : sim_(std::move(options)) {
        std::string error;
        opened_ = sim_.Open(error);
        EXPECT_TRUE(opened_) << error;
        if (opened_) thread_ = std::thread([this] { reason_ = sim_.Run(stop_); });
    }
    ~SimThread() { Stop(); }

    const std::string& path() const { return sim_.slavePath(); }
    const Simulator& sim() const { return sim_; }
    std::thread& thread() { return thread_; }

    // Stops the simulator (unless it has ended by itself) and returns its report.
    Json Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
        return sim_.Report();
    }
    const Device& device() const { return sim_.device(); }
    const std::string& reason() const { return reason_; }

private:
    Simulator sim_;
    bool opened_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string reason_;
};
