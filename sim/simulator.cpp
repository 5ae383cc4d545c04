#include "sim/simulator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

constexpr int IDLE_POLL_MS = 50;
constexpr int BLOCKED_RETRY_MS = 5;
constexpr auto CLOSED_PORT_SLEEP = std::chrono::milliseconds(10);
constexpr int64_t BITS_PER_BYTE = 10;  // start, 8 data, stop

int64_t SteadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Simulator::Simulator(SimOptions options) : opt_(std::move(options)), device_(opt_.device) {}

bool Simulator::Open(std::string& error) { return pty_.Open(error); }

int64_t Simulator::NowUs() const { return SteadyUs() - startUs_; }

int64_t Simulator::ByteUs() const {
    if (!opt_.pace || line_.baud == 0) return 0;
    return BITS_PER_BYTE * 1000000 / line_.baud;
}

bool Simulator::HostHasPort() const {
    pollfd p{pty_.fd(), POLLOUT, 0};
    return poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR));
}

std::string Simulator::Run(const std::atomic<bool>& stop) {
    startUs_ = SteadyUs();
    int64_t goDoneUs = -1;
    for (;;) {
        int64_t now = NowUs();
        FeedDue(now);
        ScheduleOutput(now);
        FlushDue(now);
        if (stop.load()) {
            stopReason_ = "stopped";
            break;
        }
        if (opt_.timeLimitMs > 0 && now >= opt_.timeLimitMs * 1000) {
            stopReason_ = "time limit";
            break;
        }
        if (device_.vanished()) {
            stopReason_ = "device vanished";
            pty_.Close();  // the host sees its port hang up
            break;
        }
        if (opt_.exitAfterGo && device_.goAccepted() && in_.empty() && out_.empty()) {
            if (goDoneUs < 0) goDoneUs = now;
            if (!hostOpen_ || now - goDoneUs >= int64_t{opt_.goGraceMs} * 1000) {
                stopReason_ = "go received";
                break;
            }
        }

        int timeoutMs = 0;
        if (hostOpen_) {
            timeoutMs = IDLE_POLL_MS;
            const int64_t due = NextDueUs();
            if (outBlocked_)
                timeoutMs = BLOCKED_RETRY_MS;
            else if (due >= 0)
                timeoutMs = static_cast<int>(std::clamp<int64_t>((due - now + 999) / 1000, 0, timeoutMs));
        }
        pollfd p{pty_.fd(), POLLIN, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(CLOSED_PORT_SLEEP);
            continue;
        }
        now = NowUs();
        if (p.revents & POLLIN) {
            if (!hostOpen_) {
                hostOpen_ = true;
                device_.HostOpened(now / 1000);
            }
            ReadInput(now);
        } else if (p.revents & (POLLHUP | POLLERR)) {
            // Nobody has the slave side open: the master reports a hang-up
            // until the host opens the port again.
            if (hostOpen_) {
                hostOpen_ = false;
                FeedDue(INT64_MAX);
                device_.HostClosed(now / 1000);
                ++hostCloses_;
            }
            std::this_thread::sleep_for(CLOSED_PORT_SLEEP);
        } else if (!hostOpen_) {
            hostOpen_ = true;
            device_.HostOpened(now / 1000);
        }
    }
    endMs_ = NowUs() / 1000;
    return stopReason_;
}

void Simulator::ReadInput(int64_t nowUs) {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(pty_.fd(), buf, sizeof buf);
        if (n <= 0) return;  // EAGAIN: all read; EIO: the host has closed
        bytesRead_ += static_cast<uint64_t>(n);
        line_ = pty_.ReadSettings();
        device_.ObserveLine(nowUs / 1000, line_);
        if (opt_.expectBaud != 0 && line_.baud != opt_.expectBaud) {
            device_.IgnoredAtRate(nowUs / 1000, static_cast<size_t>(n), line_);
            continue;
        }
        const int64_t byteUs = ByteUs();
        if (byteUs == 0) {
            in_.push_back({std::string(buf, static_cast<size_t>(n)), nowUs, line_});
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            inTailUs_ = std::max(inTailUs_, nowUs) + byteUs;
            in_.push_back({std::string(1, buf[i]), inTailUs_, line_});
        }
    }
}

void Simulator::FeedDue(int64_t nowUs) {
    while (!in_.empty() && in_.front().dueUs <= nowUs) {
        const Pending p = std::move(in_.front());
        in_.pop_front();
        for (char c : p.bytes) device_.Feed(static_cast<uint8_t>(c), p.dueUs / 1000, p.line);
        ScheduleOutput(p.dueUs);
    }
}

void Simulator::ScheduleOutput(int64_t nowUs) {
    // Answers leave in order: a late answer holds back the ones after it.
    for (Chunk& c : device_.TakeOutput()) {
        outTailUs_ = std::max(outTailUs_, nowUs) + int64_t{c.delayMs} * 1000;
        const int64_t byteUs = ByteUs();
        if (byteUs == 0) {
            out_.push_back({std::move(c.bytes), outTailUs_, {}});
            continue;
        }
        for (char b : c.bytes) {
            outTailUs_ += byteUs;
            out_.push_back({std::string(1, b), outTailUs_, {}});
        }
    }
}

void Simulator::FlushDue(int64_t nowUs) {
    while (!out_.empty() && out_.front().dueUs <= nowUs) {
        Pending& p = out_.front();
        if (!HostHasPort()) {
            // Nobody listens: the answer is lost, as on a real line.
            device_.AnswerDropped(nowUs / 1000, p.bytes.size(), "port closed");
            out_.pop_front();
            continue;
        }
        const ssize_t n = write(pty_.fd(), p.bytes.data(), p.bytes.size());
        if (n < 0) {
            outBlocked_ = true;  // full (EAGAIN) or closing: try again shortly
            return;
        }
        outBlocked_ = false;
        p.bytes.erase(0, static_cast<size_t>(n));
        if (!p.bytes.empty()) return;
        out_.pop_front();
    }
}

int64_t Simulator::NextDueUs() const {
    int64_t due = -1;
    if (!in_.empty()) due = in_.front().dueUs;
    if (!out_.empty() && (due < 0 || out_.front().dueUs < due)) due = out_.front().dueUs;
    return due;
}

nlohmann::ordered_json Simulator::Report() const {
    const DeviceConfig& d = opt_.device;
    nlohmann::ordered_json settings = {
        {"chip", d.geometry->name},
        {"sector_size", d.geometry->sectorSize},
        {"two_stage", d.twoStage},
        {"serial", d.serial},
        {"app_running", d.appRunning},
        {"capture_after", d.captureAfter},
        {"page_write_ms", d.pageWriteMs},
        {"expect_baud", opt_.expectBaud},
        {"pace", opt_.pace},
    };
    nlohmann::ordered_json faults = nlohmann::ordered_json::array();
    for (const Fault& f : d.faults) faults.push_back(f.text);
    settings["faults"] = faults;
    nlohmann::ordered_json r = device_.Report();
    r["pty"] = pty_.slavePath();
    r["settings"] = settings;
    r["stop_reason"] = stopReason_;
    r["duration_ms"] = endMs_;
    return r;
}
