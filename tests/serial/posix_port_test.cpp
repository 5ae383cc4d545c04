// The termios backend against pseudo-terminals: the test holds the master
// side, the record opens the slave path as it would a serial device.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "serial/port.h"
#include "serial/posix/line_settings.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto WAIT_LIMIT = 5s;  // generous: the machine may be loaded

struct Pty {
    int master = -1;
    std::string slavePath;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[64] = {};
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name, sizeof name) != 0)
            ADD_FAILURE() << "no pseudo-terminal";
        slavePath = name;
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    void Write(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever arrives within the time given, up to max bytes.
    std::vector<uint8_t> Read(size_t max, std::chrono::milliseconds within) const {
        std::vector<uint8_t> got;
        const auto deadline = Clock::now() + within;
        while (got.size() < max && Clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[4096];
            const ssize_t n = read(master, buf, std::min(sizeof buf, max - got.size()));
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    termios Settings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(master, &t), 0);
        return t;
    }
};

struct RecordDeleter {
    void operator()(TTYInfo* tty) const { FreePortRecord(tty); }
};
using Record = std::unique_ptr<TTYInfo, RecordDeleter>;

Record NewRecord(const std::string& path) {
    Record tty(NewPortRecord());
    if (tty) tty->portPath = path;
    return tty;
}

template <typename Pred>
bool WaitFor(Pred pred) {
    const auto deadline = Clock::now() + WAIT_LIMIT;
    while (!pred()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

int QueuedInput(const TTYInfo& tty) {
    int n = -1;
    ioctl(tty.hComm, FIONREAD, &n);
    return n;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override {
        tty = NewRecord(pty.slavePath);
        ASSERT_TRUE(tty);
    }
    void Connect() {
        ASSERT_NE(ConnectPort(tty.get()), 0) << LastPortError(tty.get());
        ASSERT_EQ(tty->bPortOpen.load(), 1);
        ASSERT_NE(tty->dwThreadID.load(), 0u);
    }
    Pty pty;
    Record tty;
};

TEST_F(PosixPort, ReceiveStoresUpToTheLimitAndDrainsTheRest) {
    struct Case {
        int32_t limit;
        size_t sent;
        int32_t stored;
        int32_t done;
    };
    const Case cases[] = {
        {100, 200, 100, 1},  // the rest is read and lost
        {0, 5, 1, 1},        // the limit before any reset: the first byte completes
        {200, 200, 150, 0},  // the buffer bound comes first
    };
    Connect();
    uint8_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        ResetResponse(*tty, c.limit);
        const auto sent = Pattern(c.sent, seed += 3);
        pty.Write(sent);
        ASSERT_TRUE(WaitFor([&] { return RSVPIDX(*tty) == c.stored && QueuedInput(*tty) == 0; }))
            << RSVPIDX(*tty) << " stored, " << QueuedInput(*tty) << " queued";
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(RSVPIDX(*tty), c.stored);
        EXPECT_EQ(tty->bRsvpDone.load(), c.done);
        std::vector<uint8_t> got(c.stored);
        CopyResponse(*tty, got.data(), c.stored);
        EXPECT_EQ(got, std::vector<uint8_t>(sent.begin(), sent.begin() + c.stored));
    }
}

TEST_F(PosixPort, WritersDeliverBytesInOrder) {
    Connect();
    const auto frame = Pattern(133, 0x0A);
    ASSERT_EQ(SendPortBlock(tty.get(), frame.data(), 133), 1);
    EXPECT_EQ(pty.Read(133, WAIT_LIMIT), frame);
    ASSERT_EQ(WritePortAll(tty.get(), frame.data(), 133), 1);
    EXPECT_EQ(pty.Read(133, WAIT_LIMIT), frame);
    EXPECT_EQ(SendPortBlock(tty.get(), frame.data(), 0), 1);
    EXPECT_TRUE(pty.Read(1, 50ms).empty());
}

TEST_F(PosixPort, WritePortAllFinishesPartialWrites) {
    Connect();
    const auto image = Pattern(64 * 1024, 3);  // more than the terminal buffers hold
    std::vector<uint8_t> got;
    std::thread reader([&] { got = pty.Read(image.size(), WAIT_LIMIT); });
    EXPECT_EQ(WritePortAll(tty.get(), image.data(), static_cast<int32_t>(image.size())), 1)
        << LastPortError(tty.get());
    reader.join();
    EXPECT_EQ(got, image);
}

TEST_F(PosixPort, WritesGiveUpWhenTheLineTakesNothing) {
    Connect();
    const auto image = Pattern(256 * 1024, 5);  // nobody reads the master
    auto start = Clock::now();
    EXPECT_EQ(WritePortAll(tty.get(), image.data(), static_cast<int32_t>(image.size())), 0);
    EXPECT_EQ(LastPortError(tty.get()), "write timed out");
    EXPECT_LT(Clock::now() - start, WAIT_LIMIT);

    // The byte writer stops at the first byte not taken, rather than waiting
    // for each of the frame's bytes in turn.
    const auto frame = Pattern(133, 0x0A);
    start = Clock::now();
    EXPECT_EQ(SendPortBlock(tty.get(), frame.data(), 133), 0);
    EXPECT_EQ(LastPortError(tty.get()), "write timed out");
    EXPECT_LT(Clock::now() - start, WAIT_LIMIT);
}

TEST_F(PosixPort, WritingOnAClosedConnectionWritesNothing) {
    const uint8_t frame[] = {0x0A, 'G', 0x0D};
    EXPECT_EQ(SendPortBlock(tty.get(), frame, 3), 0);
    EXPECT_EQ(WritePortAll(tty.get(), frame, 3), 0);
    Connect();
    ASSERT_EQ(DisconnectPort(tty.get()), 1);
    EXPECT_EQ(SendPortBlock(tty.get(), frame, 3), 0);
    EXPECT_EQ(WritePortAll(tty.get(), frame, 3), 0);
    EXPECT_TRUE(pty.Read(1, 50ms).empty());
}

TEST_F(PosixPort, DisconnectWithoutConnectionReturnsOne) {
    EXPECT_EQ(DisconnectPort(tty.get()), 1);
    Connect();
    EXPECT_EQ(DisconnectPort(tty.get()), 1);
    EXPECT_EQ(DisconnectPort(tty.get()), 1);
    EXPECT_EQ(tty->bPortOpen.load(), 0);
}

TEST_F(PosixPort, ClosingWhileBytesStreamInEndsTheThreadPromptly) {
    Connect();
    ResetResponse(*tty, 100);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const auto chunk = Pattern(512, 9);
        while (!stop.load()) {
            if (write(pty.master, chunk.data(), chunk.size()) < 0)
                std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_TRUE(WaitFor([&] { return tty->bRsvpDone.load() == 1; }));
    const auto start = Clock::now();
    EXPECT_EQ(DisconnectPort(tty.get()), 1);
    const auto took = Clock::now() - start;
    stop.store(true);
    flood.join();
    EXPECT_LT(took, 2s);
    EXPECT_EQ(tty->dwThreadID.load(), 0u);
    EXPECT_EQ(tty->bPortOpen.load(), 0);
    Connect();  // the port is free again
}

TEST_F(PosixPort, HangUpDoesNotSpinAndStillCloses) {
    Connect();
    pty.CloseMaster();
    const auto cpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    std::this_thread::sleep_for(50ms);  // let the thread see the hang-up
    const double before = cpu();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(cpu() - before, 100.0) << "the receive thread spins";
    EXPECT_EQ(DisconnectPort(tty.get()), 1);
    EXPECT_EQ(tty->dwThreadID.load(), 0u);
}

TEST_F(PosixPort, OpenFailuresNameTheirCause) {
    Connect();  // makes the pseudo-terminal busy for the second record
    struct Case {
        std::string path;
        const char* error;
    };
    const Case cases[] = {
        {"/dev/no-such-serial-port", "no such port"},
        {"/dev/null", "not a serial port"},
        {pty.slavePath, "port busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Record other = NewRecord(c.path);
        EXPECT_EQ(ConnectPort(other.get()), 0);
        EXPECT_EQ(LastPortError(other.get()), c.error);
        EXPECT_EQ(other->bPortOpen.load(), 0);
        EXPECT_EQ(other->dwThreadID.load(), 0u);
    }
    // The first connection is undisturbed.
    ResetResponse(*tty, 1);
    pty.Write({'!'});
    EXPECT_TRUE(WaitFor([&] { return tty->bRsvpDone.load() == 1; }));
}

struct Line {
    uint32_t baud;
    uint8_t dataBits;
    uint8_t parity;
    uint8_t stop;
    uint8_t flow;
};

void SetLine(TTYInfo& tty, const Line& l) {
    tty.dwBaud = l.baud;
    tty.bDataBits = l.dataBits;
    tty.bParityCode = l.parity;
    tty.bStopCode = l.stop;
    tty.bFlowFlags = l.flow;
}

void ExpectRate(const Pty& pty, uint32_t baud) {
    uint32_t in = 0, out = 0;
    ASSERT_EQ(ReadExactRates(pty.master, &in, &out), 0);
    EXPECT_EQ(out, baud);
    EXPECT_EQ(in, baud);
}

TEST_F(PosixPort, LineSettingsReachTheTerminal) {
    struct Case {
        Line line;
        tcflag_t cflag;  // of CSIZE, PARENB, PARODD, CMSPAR, CSTOPB, CRTSCTS
        tcflag_t iflag;  // of IXON, IXOFF
    };
    constexpr tcflag_t CMASK = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    // A pseudo-terminal always runs 8 bits without parity, whatever it is
    // told, so those two are checked in the flags as composed.
    constexpr tcflag_t PTY_KEEPS = CMASK & ~(CSIZE | PARENB);
    // Rates without a termios constant are followed by ones with, so that
    // returning to a standard rate is covered too.
    const Case cases[] = {
        {{56000, 7, 2, 0, 0}, CS7 | PARENB, 0},
        {{9600, 8, 0, 0, 0}, CS8, 0},
        {{14400, 5, 3, 0, FLOW_RTSCTS}, CS5 | PARENB | CMSPAR | PARODD | CRTSCTS, 0},
        {{38400, 8, 1, 2, 0}, CS8 | PARENB | PARODD | CSTOPB, 0},
        {{128000, 6, 4, 2, FLOW_XONXOFF}, CS6 | PARENB | CMSPAR | CSTOPB, IXON | IXOFF},
        {{110, 8, 0, 2, 0}, CS8 | CSTOPB, 0},
        {{256000, 8, 0, 0, FLOW_RTSCTS | FLOW_XONXOFF}, CS8 | CRTSCTS, IXON | IXOFF},
        {{19200, 8, 0, 0, 0}, CS8, 0},
    };
    SetLine(*tty, cases[0].line);
    Connect();  // the first case is applied by opening
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.baud);
        SetLine(*tty, c.line);
        const LineFlags composed = ComposeLineFlags(*tty, {});
        EXPECT_EQ(composed.cflag & CMASK, c.cflag);
        EXPECT_EQ(composed.iflag & (IXON | IXOFF), c.iflag);

        ASSERT_EQ(ConfigurePort(tty.get()), 1) << LastPortError(tty.get());
        const termios t = pty.Settings();
        EXPECT_EQ(t.c_cflag & PTY_KEEPS, c.cflag & PTY_KEEPS);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflag);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        ExpectRate(pty, c.line.baud);
    }
}

TEST_F(PosixPort, SettingsTermiosCannotExpressAreRefusedClearly) {
    struct Case {
        Line line;
        const char* error;
    };
    const Case cases[] = {
        {{9600, 8, 0, 1, 0}, "1.5 stop bits cannot be set on this system"},
        {{9600, 8, 0, 0, FLOW_DTRDSR}, "DTR/DSR flow control cannot be set on this system"},
    };
    SetLine(*tty, {56000, 8, 0, 0, 0});
    Connect();
    for (const Case& c : cases) {
        SetLine(*tty, c.line);
        EXPECT_EQ(ConfigurePort(tty.get()), 0);
        EXPECT_EQ(LastPortError(tty.get()), c.error);
        ExpectRate(pty, 56000);  // the port keeps what it had
    }
    ASSERT_EQ(DisconnectPort(tty.get()), 1);

    SetLine(*tty, cases[0].line);
    EXPECT_EQ(ConnectPort(tty.get()), 0);
    EXPECT_EQ(LastPortError(tty.get()), cases[0].error);
    EXPECT_EQ(tty->bPortOpen.load(), 0);
    SetLine(*tty, {9600, 8, 0, 0, 0});
    Connect();  // the failed open left the port free
}

}  // namespace
