// The connection record: one per connection, shared between the thread that
// drives the operations and the port's receive thread. Portable: the platform
// parts (overlapped structures, events and the label font on Win32; the
// wake-up event and thread on POSIX) hang off `platform`, defined by each
// backend, so no platform header leaks in here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

constexpr int RSVP_MAX = 150;  // response bytes ever stored

constexpr uint8_t FLOW_DTRDSR = 1;
constexpr uint8_t FLOW_RTSCTS = 2;
constexpr uint8_t FLOW_XONXOFF = 4;

#ifdef _WIN32
using PortHandle = void*;  // a Win32 HANDLE
#else
using PortHandle = int;    // a file descriptor
#endif

struct TTYPlatform;

struct TTYInfo {
    PortHandle hComm{};
    uint8_t bPortNum = 1;               // COM1..COM8
    std::string portPath;               // when set, opened instead of "COM<bPortNum>"
    std::atomic<int32_t> bPortOpen{0};  // also the receive thread's keep-running flag

    // Stored terminal options: shown and stored by the settings dialog only.
    int32_t bLocalEcho = 0;
    int32_t bNewLine = 0;
    int32_t bAutoWrap = 0;
    int32_t bUseCnReceive = 1;
    int32_t bDisplayErrors = 1;

    // Line settings, in Win32 codes.
    uint8_t bDataBits = 8;
    uint8_t bFlowFlags = 0;
    uint8_t bParityCode = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t bStopCode = 0;    // 0 one, 1 one and a half, 2 two
    uint32_t dwBaud = 9600;

    // Response fields, filled by the receive thread, reset by the sequencer.
    std::atomic<uint8_t> abRsvp[RSVP_MAX] = {};
    std::atomic<int32_t> bRsvpDone{0};
    std::atomic<int32_t> nRsvpLimit{0};
    std::atomic<int32_t> nRsvpIdx{0};

    int32_t nDelayTicks = 0;  // the sequencer's wait, in timer ticks

    std::atomic<uint32_t> dwThreadID{0};  // non-zero while a receive thread runs

    TTYPlatform* platform = nullptr;
};

inline int32_t RSVPIDX(const TTYInfo& tty) { return tty.nRsvpIdx.load(); }

// Clears the response fields before a frame is written: bRsvpDone, then
// nRsvpIdx, then the limit, so the answer is stored from abRsvp[0] on.
void ResetResponse(TTYInfo& tty, int32_t limit);

// Stores received bytes as the receive thread does: while bRsvpDone is clear
// and fewer than RSVP_MAX bytes are held; raises bRsvpDone at nRsvpLimit.
// Bytes beyond that are dropped.
void StoreResponseBytes(TTYInfo& tty, const uint8_t* bytes, int32_t n);

// Copies the first n stored bytes to dst.
void CopyResponse(const TTYInfo& tty, uint8_t* dst, int32_t n);
