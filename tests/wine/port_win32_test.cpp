// The Win32 serial backend against a peer on a pseudo-terminal: COM1 is mapped
// to the slave side, port_win32_test.py holds the master. Each step prints a
// request line for the peer and waits for its answer line ("ok" or a reason).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "serial/win32/port_win32.h"
#include "serial/win32/tty_platform.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        printf("FAIL: %s\n", what.c_str());
        fflush(stdout);
    }
}

// Tells the peer what to do and checks its answer.
void Peer(const char* request) {
    printf("%s\n", request);
    fflush(stdout);
    char answer[256] = {};
    if (!fgets(answer, sizeof answer, stdin)) answer[0] = '\0';
    answer[strcspn(answer, "\r\n")] = '\0';
    Check(strcmp(answer, "ok") == 0, std::string(request) + ": peer says " + answer);
}

// Polls until the response holds want bytes; false after two seconds.
bool WaitForStored(const TTYInfo* tty, int32_t want) {
    for (int i = 0; i < 200; ++i, Sleep(10))
        if (RSVPIDX(*tty) >= want) return true;
    return false;
}

bool StoredBytesCount(const TTYInfo* tty, int32_t n) {
    uint8_t got[RSVP_MAX];
    CopyResponse(*tty, got, n);
    for (int32_t i = 0; i < n; ++i)
        if (got[i] != static_cast<uint8_t>(i)) return false;
    return true;
}

TTYInfo* OpenCom1(uint32_t baud) {
    TTYInfo* tty = NewPortRecord();
    tty->bPortNum = 1;
    tty->dwBaud = baud;
    Check(ConnectPort(tty) != 0, "COM1 opens: " + LastPortError(tty));
    Check(tty->bPortOpen.load() == 1 && tty->dwThreadID.load() != 0, "open with a receive thread");
    return tty;
}

// The peer sends 0, 1, 2, ... in one write; the limit decides what is kept.
void TestStoring(TTYInfo* tty) {
    struct Case {
        int32_t limit;
        const char* request;
        int32_t stored;
        int32_t done;
    };
    const Case cases[] = {
        {100, "SEND 200", 100, 1},  // the rest is read and lost
        {0, "SEND 3", 1, 1},        // the first byte completes
        {200, "SEND 200", 150, 0},  // the buffer bound
    };
    for (const Case& c : cases) {
        ResetResponse(*tty, c.limit);
        Peer(c.request);
        const std::string name = std::string(c.request) + " limit " + std::to_string(c.limit);
        Check(WaitForStored(tty, c.stored), name + ": bytes arrive");
        Sleep(300);  // time for any further byte to be (wrongly) stored
        Check(RSVPIDX(*tty) == c.stored, name + ": stored " + std::to_string(RSVPIDX(*tty)));
        Check(tty->bRsvpDone.load() == c.done, name + ": done flag");
        Check(StoredBytesCount(tty, c.stored), name + ": stored in order");
        // Dropped bytes were drained, not kept for the next response.
        ResetResponse(*tty, 100);
        Sleep(300);
        Check(RSVPIDX(*tty) == 0, name + ": nothing left over");
    }
}

void TestWriting(TTYInfo* tty) {
    const uint8_t frame[] = {'\n', 'h', 'e', 'l', 'l', 'o', '\r'};
    Check(SendPortBlock(tty, frame, sizeof frame) == 1, "block written");
    Check(SendPortBlock(tty, frame, 0) == 1, "empty block is a success");
    Peer("EXPECT 0a68656c6c6f0d");
}

void TestCloseWhileStreaming(TTYInfo* tty) {
    Peer("STREAM");
    Sleep(200);
    const ULONGLONG start = GetTickCount64();
    Check(DisconnectPort(tty) == 1, "close returns 1");
    Check(GetTickCount64() - start < 1500, "close does not wait for the stream to end");
    Check(tty->dwThreadID.load() == 0 && tty->bPortOpen.load() == 0, "receive thread ended");
    Peer("EXPECT_HANGUP");
    const uint8_t byte = 'A';
    Check(SendPortBlock(tty, &byte, 1) == 0, "block on a closed connection returns 0");
    Check(SendPortByte(tty, byte) == 0, "byte on a closed connection returns 0");
    Check(DisconnectPort(tty) == 1, "closing a closed connection returns 1");
}

// With nobody reading, the line fills up and writes stay pending. At 38400
// baud the driver sets no write time-out, so the writer's own waits end them:
// the abandoned write is cancelled, and the writer is usable again after it.
void TestAbandonedWrite() {
    TTYInfo* tty = OpenCom1(38400);
    std::vector<uint8_t> chunk(4096, 'f');
    bool filled = false;
    for (int i = 0; i < 256 && !filled; ++i)
        filled = WritePortAll(tty, chunk.data(), static_cast<int32_t>(chunk.size())) == 0;
    Check(filled, "the line fills up");
    Check(LastPortError(tty) == "write timed out", "block write: " + LastPortError(tty));

    // The line may still take a few single bytes; the first one it holds
    // back is waited for.
    const uint8_t fill = 'f';
    ULONGLONG took = 0;
    for (int i = 0; i < 4096 && took < 900; ++i) {
        const ULONGLONG start = GetTickCount64();
        Check(SendPortBlock(tty, &fill, 1) == 1, "a held-back byte still counts as sent");
        took = GetTickCount64() - start;
    }
    Check(took >= 900 && took < 1500, "a held-back byte is waited for 1000 ms, took " + std::to_string(took));

    Peer("DRAIN");
    const uint8_t marker[] = {'X', 'Y', 'Z'};
    const ULONGLONG start = GetTickCount64();
    Check(SendPortBlock(tty, marker, sizeof marker) == 1, "marker written");
    Check(GetTickCount64() - start < 500, "writer free again after the abandoned writes");
    Peer("EXPECT 58595a");
    DisconnectPort(tty);
    FreePortRecord(tty);
}

void TestNoSuchPort() {
    TTYInfo* tty = NewPortRecord();
    tty->portPath = "\\\\.\\COM200";
    Check(ConnectPort(tty) == 0, "COM200 does not open");
    Check(tty->bPortOpen.load() == 0 && tty->dwThreadID.load() == 0, "COM200 stays closed");
    Check(LastPortError(tty) == "no such port", "COM200: " + LastPortError(tty));
    FreePortRecord(tty);
}

// The command-line flasher names the port itself, also in device form.
void TestPortPath() {
    TTYInfo* tty = NewPortRecord();
    tty->bPortNum = 2;
    tty->portPath = "\\\\.\\COM1";
    Check(ConnectPort(tty) != 0, "\\\\.\\COM1 opens: " + LastPortError(tty));
    DisconnectPort(tty);
    FreePortRecord(tty);
}

}  // namespace

int main() {
    TTYInfo* tty = OpenCom1(9600);
    Peer("EXPECT_RATE 9600");
    TestStoring(tty);
    TestWriting(tty);
    TestCloseWhileStreaming(tty);
    FreePortRecord(tty);
    TestNoSuchPort();
    TestPortPath();
    TestAbandonedWrite();
    printf("END %s\n", failures ? "FAILED" : "ok");
    fflush(stdout);
    return failures ? 1 : 0;
}
