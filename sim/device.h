// The simulated bootloader: takes the bytes the host sends, one at a time,
// answers as the device would, keeps the image written to it and a journal of
// everything it saw. No I/O: the caller moves bytes and time.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>  // ordered_json keeps report fields in the order written
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "sim/faults.h"
#include "sim/line_settings.h"

struct DeviceConfig {
    const SectorGeometry* geometry = &GeometryFor(CHIP_ATMEGA168);
    bool twoStage = false;          // 'Q' then 'Z' instead of 'A'
    std::string serial = DEFAULT_DEST;
    bool appRunning = false;        // ignores everything but a reset frame addressed to it
    int captureAfter = 0;           // capture characters ignored after each start
    int pageWriteMs = 0;            // time to write one sector before acknowledging
    int frameGapMs = 100;           // a frame quiet this long is incomplete and dropped
    std::vector<Fault> faults;
};

// One write of the device's answer, `delayMs` after the previous one.
struct Chunk {
    std::string bytes;
    int delayMs = 0;
};

// Answer to the go frame; the host only shows it.
constexpr char GO_ANSWER[] = "\ng\r";

class Device {
public:
    explicit Device(DeviceConfig config);

    // One byte from the host at time tMs (milliseconds since the start).
    void Feed(uint8_t b, int64_t tMs, const LineSettings& line);

    // Host-side events seen by the caller.
    void HostOpened(int64_t tMs);
    void HostClosed(int64_t tMs);
    void ObserveLine(int64_t tMs, const LineSettings& line);
    void IgnoredAtRate(int64_t tMs, size_t bytes, const LineSettings& line);
    void AnswerDropped(int64_t tMs, size_t bytes, const char* why);

    // Answers produced since the last call, in order.
    std::vector<Chunk> TakeOutput();

    bool vanished() const { return vanished_; }
    bool goAccepted() const { return goAccepted_; }

    // The image as uploaded: sectors 0..highest in order, missing ones as 0xFF;
    // cut to trimTo bytes when that is shorter.
    std::vector<uint8_t> Image(size_t trimTo = SIZE_MAX) const;

    // What is wrong with the upload compared with the expected image; empty when it matches.
    std::vector<std::string> CheckUpload(const std::vector<uint8_t>& expected,
                                         bool expectGo) const;

    // Journal and summary, as written to the report.
    nlohmann::ordered_json Report() const;

private:
    void Capture(char c, int64_t tMs, const LineSettings& line);
    void FrameComplete(int64_t tMs, const LineSettings& line);
    void WriteFrame(nlohmann::ordered_json& ev);
    void GoFrame(nlohmann::ordered_json& ev);
    void ResetFrame(nlohmann::ordered_json& ev);
    void DropPartial(int64_t tMs, const std::string& why);
    void Answer(const uint8_t* token, const Fault* fault, int delayMs, nlohmann::ordered_json& ev);
    void Restart();
    void Record(nlohmann::ordered_json ev, int64_t tMs);

    DeviceConfig cfg_;

    // Device state.
    bool appRunning_;
    bool captured_ = false;
    int stage_ = 0;          // two-stage capture: 1 once 'Q' has been answered
    int sinceStart_ = 0;     // capture characters since the last start
    int nextSector_ = 0;
    int lastStored_ = -1;
    bool vanished_ = false;
    bool goAccepted_ = false;

    // Framing.
    std::vector<uint8_t> frame_;  // bytes since the opening LF; empty between frames
    size_t frameTotal_ = 0;       // expected frame length, known from its third byte
    int64_t lastByteMs_ = 0;

    std::map<int, std::vector<uint8_t>> sectors_;
    std::map<int, int> sectorAttempts_;
    std::vector<Chunk> out_;

    // Journal.
    nlohmann::ordered_json events_ = nlohmann::ordered_json::array();
    nlohmann::ordered_json faultsApplied_ = nlohmann::ordered_json::array();
    std::vector<uint32_t> ratesSeen_;
    LineSettings lastLine_;
    bool lineSeen_ = false;
    int captureChars_ = 0, captureAnswers_ = 0;
    int framesAccepted_ = 0, retries_ = 0, badFrames_ = 0, junkBytes_ = 0;
    int resetsGood_ = 0, resetsWrongSerial_ = 0, resetsBadCrc_ = 0;
    int goFrames_ = 0;
    int hostOpens_ = 0, hostCloses_ = 0;
    size_t ignoredBytes_ = 0, droppedAnswerBytes_ = 0;
};
