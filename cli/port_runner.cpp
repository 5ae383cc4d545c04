#include "cli/port_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "cli/cli_host.h"
#include "serial/port.h"

namespace {

using Clock = std::chrono::steady_clock;

// The engine's nominal tick; the default pacing delivers one every 5 ms.
constexpr auto TICK = std::chrono::milliseconds(5);
// How often fast mode looks for a complete answer while it waits. Small
// against the 0.26 ms that one byte takes at 38400 baud.
constexpr auto FAST_POLL = std::chrono::microseconds(50);

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct PortRecordDeleter {
    void operator()(TTYInfo* tty) const { FreePortRecord(tty); }
};

class Runner {
public:
    Runner(const JobSpec& job, PortObserver& observer, TTYInfo& tty)
        : job_(job),
          observer_(observer),
          tty_(tty),
          host_(tty, job.dest, {job.twoStageBl, job.chipType == CHIP_LUMINARY}, job.fast),
          seq_(host_, boot_) {
        host_.Attach(&seq_);
        host_.OnDebugLine([this](const std::string& line) { observer_.DebugLine(job_.port, line); });
        job.image.copy(boot_.szFileName, sizeof boot_.szFileName - 1);
    }

    PortResult Run() {
        PortResult result;
        result.port = job_.port;
        const auto t0 = Clock::now();
        for (Operation op : job_.operations) {
            OperationResult r;
            r.op = op;
            r.outcome = RunOperation(op, r.seconds);
            result.operations.push_back(r);
            if (stopRequested.load()) {
                Fail(result, EXIT_INTERRUPTED, std::string("interrupted during ") + OperationName(op));
                break;
            }
            Judge(op, r.outcome, result);
            if (result.exitCode != EXIT_OK) break;
        }
        result.captureChars = host_.captureChars();
        result.received = host_.ReceivedText();
        result.seconds = SecondsSince(t0);
        return result;
    }

private:
    Outcome RunOperation(Operation op, double& seconds) {
        observer_.OperationStarted(job_.port, op);
        op_ = op;
        opStart_ = Clock::now();
        answers_ = 0;
        switch (op) {
            case Operation::Capture:
                if (job_.reset57) seq_.ArmReset57Capture();
                else seq_.ArmCapture(job_.reset ? BTN_RESET_CAP : BTN_CAP, job_.twoStageBl,
                                     job_.chipType == CHIP_LUMINARY);
                break;
            case Operation::Upload:
                seq_.ArmUpgrade(job_.chipType == CHIP_LUMINARY, job_.chipType == CHIP_ATMEGA168);
                break;
            case Operation::Go: seq_.ArmGo(); break;
        }
        Drive();
        Report();
        seconds = SecondsSince(opStart_);
        return seq_.outcome();
    }

    // The clock. The default delivers a tick every 5 ms, as the desktop
    // program's timer does; a tick that comes late is delivered once, at once.
    // Fast mode runs a step the moment it is due: when no wait is set, or
    // when the answer the wait is for is complete; a wait without its answer
    // still runs out at 5 ms per tick.
    void Drive() {
        auto next = Clock::now();
        while (seq_.TimerRunning()) {
            // Stopped from outside: the operation is abandoned with its port closed.
            if (stopRequested.load()) {
                host_.Disconnect(tty_);
                return;
            }
            // The reconnect at 38400 baud failed: there is nothing to capture on.
            if (host_.connectFailed() && op_ == Operation::Capture) seq_.AbortCapture();
            const auto now = Clock::now();
            if (job_.fast) {
                if (seq_.AnswerComplete()) tty_.nDelayTicks = 0;
                if (tty_.nDelayTicks == 0) {
                    Step();
                    next = Clock::now() + TICK;
                    continue;
                }
            }
            if (now < next) {
                std::this_thread::sleep_until(job_.fast ? std::min(next, now + FAST_POLL) : next);
                continue;
            }
            Step();
            next += TICK;
            if (next < now) next = now;
        }
    }

    void Step() {
        const bool receiveDue = boot_.nState == ST_RECV &&
                                (tty_.nDelayTicks == 0 || tty_.bRsvpDone.load() != 0);
        if (receiveDue && RSVPIDX(tty_) > 0) ++answers_;
        seq_.Tick(TIMER_ID);
        const auto now = Clock::now();
        if (now - lastReport_ >= std::chrono::milliseconds(50)) Report();
    }

    void Report() {
        lastReport_ = Clock::now();
        ProgressSnapshot s;
        s.op = op_;
        s.engine = seq_.progress();
        s.captureChars = host_.captureChars();
        s.bytes = AcknowledgedBytes();
        s.imageBytes = job_.imageBytes;
        s.seconds = SecondsSince(opStart_);
        observer_.Progress(job_.port, s);
    }

    int64_t AcknowledgedBytes() const {
        if (boot_.sectorSize == 0) return 0;
        return std::min<int64_t>(int64_t{boot_.sector} * boot_.sectorSize, job_.imageBytes);
    }

    void Fail(PortResult& result, int code, std::string error) {
        result.exitCode = code;
        result.error = std::move(error);
    }

    std::string PortFailure() const {
        return host_.portError().empty() ? "cannot open the port" : host_.portError();
    }

    // Turns the engine's outcome into an exit code and a one-line error.
    void Judge(Operation op, Outcome outcome, PortResult& result) {
        const std::string baud = std::to_string(tty_.dwBaud) + " baud";
        if (outcome == Outcome::ConnectFailed || outcome == Outcome::NoRecord ||
            outcome == Outcome::NotStarted) {
            Fail(result, EXIT_PORT, PortFailure());
            return;
        }
        switch (op) {
            case Operation::Capture:
                if (outcome == Outcome::Captured) return;
                if (host_.connectFailed())
                    Fail(result, EXIT_PORT, "cannot reopen the port at " + baud + ": " + PortFailure());
                else if (outcome == Outcome::AnswerTooLong)
                    Fail(result, EXIT_CAPTURE, "the answer to the capture was longer than 50 bytes");
                else if (answers_ == 0)
                    Fail(result, EXIT_CAPTURE, "no answer from the bootloader at " + baud + " after " +
                                                   std::to_string(host_.captureChars()) + " tries");
                else
                    Fail(result, EXIT_CAPTURE,
                         "the bootloader never gave the capture token at " + baud + " (" +
                             std::to_string(host_.captureChars()) + " tries, " +
                             std::to_string(answers_) + " answers)");
                return;
            case Operation::Upload: {
                const OperationProgress p = seq_.progress();
                result.sectors = p.sector;
                result.sectorsTotal = p.sectors;
                result.bytes = AcknowledgedBytes();
                result.retries = p.retries;
                const std::string sector = "sector " + std::to_string(p.sector);
                switch (outcome) {
                    case Outcome::UploadComplete: return;
                    case Outcome::UploadFailed: {
                        std::string e = sector + " not acknowledged after " +
                                        std::to_string(MAXFAIL) + " tries";
                        if (host_.writeFailures() > 0) e += " (port: " + host_.portError() + ")";
                        Fail(result, EXIT_UPLOAD, e);
                        return;
                    }
                    case Outcome::ImageTooLarge:
                        Fail(result, EXIT_BAD_INPUT, "image has more than 256 sectors");
                        return;
                    case Outcome::ImageChanged:
                        Fail(result, EXIT_UPLOAD, job_.image + ": image changed during the upload at " +
                                                      sector + "; start the upload again");
                        return;
                    case Outcome::FileError:
                        Fail(result, EXIT_UPLOAD, job_.image + ": cannot read the image at " + sector);
                        return;
                    case Outcome::AnswerTooLong:
                        Fail(result, EXIT_UPLOAD, "the answer to " + sector + " was longer than 50 bytes");
                        return;
                    default:
                        Fail(result, EXIT_UPLOAD, std::string("upload ended: ") + OutcomeName(outcome));
                        return;
                }
            }
            case Operation::Go:
                if (outcome == Outcome::GoDone) return;
                if (outcome == Outcome::GoUnanswered)
                    Fail(result, EXIT_GO, "no answer to the go frame; the new firmware may not be running");
                else if (outcome == Outcome::AnswerTooLong)
                    Fail(result, EXIT_GO, "the answer to the go frame was longer than 50 bytes");
                else
                    Fail(result, EXIT_GO, std::string("go ended: ") + OutcomeName(outcome));
                return;
        }
    }

    const JobSpec& job_;
    PortObserver& observer_;
    TTYInfo& tty_;
    BootState boot_;
    CliHost host_;
    Sequencer seq_;
    Operation op_ = Operation::Capture;
    Clock::time_point opStart_;
    Clock::time_point lastReport_;
    int answers_ = 0;  // capture answers judged in this operation
};

}  // namespace

const char* OperationName(Operation op) {
    switch (op) {
        case Operation::Capture: return "capture";
        case Operation::Upload: return "upload";
        case Operation::Go: return "go";
    }
    return "?";
}

void RequestStop() { stopRequested.store(true); }

PortResult RunPort(const JobSpec& job, PortObserver& observer) {
    std::unique_ptr<TTYInfo, PortRecordDeleter> tty(NewPortRecord());
    if (!tty) {
        PortResult result;
        result.port = job.port;
        result.exitCode = EXIT_PORT;
        result.error = "cannot create the connection record";
        return result;
    }
    tty->portPath = job.port;
    tty->dwBaud = job.baud;
    Runner runner(job, observer, *tty);
    return runner.Run();
}
