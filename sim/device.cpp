#include "sim/device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using json = nlohmann::ordered_json;

namespace {

constexpr uint8_t WRITE_CMD = 'W';
constexpr uint8_t GO_CMD = 'G';
constexpr uint8_t GO_LEN_BYTE = 0x02;
constexpr int SERIAL_POS = 1;       // reset frame: serial right after the LF
constexpr int FIXED_POS = 8;        // "022143"
constexpr int CRC_TEXT_POS = 14;    // four hex digits of the CRC
constexpr int CRC_COVERED = 13;     // serial and the fixed fields
constexpr char RESET_FIXED[] = "022143";

std::string Hex(const uint8_t* p, size_t n) {
    std::string s(3 * n + 1, '\0');
    s.resize(static_cast<size_t>(HexEncode(s.data(), p, static_cast<int32_t>(n), 0)));
    if (!s.empty()) s.pop_back();
    return s;
}

// Bytes from the line as journal text: printable ASCII as it is, any other
// byte as \xHH, so that the report stays valid JSON (UTF-8) whatever came in.
std::string LineText(const char* p, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = static_cast<uint8_t>(p[i]);
        if (b >= 0x20 && b < 0x7F) {
            s += static_cast<char>(b);
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            s += esc;
        }
    }
    return s;
}

std::string HexByte(int b) {
    const uint8_t v = static_cast<uint8_t>(b);
    return "0x" + Hex(&v, 1);
}

void AddLine(json& ev, const LineSettings& line) {
    ev["baud"] = line.baud;
    ev["line"] = line.Text();
}

}  // namespace

Device::Device(DeviceConfig config) : cfg_(std::move(config)), appRunning_(cfg_.appRunning) {}

void Device::Record(json ev, int64_t tMs) {
    ev["t_ms"] = tMs;
    events_.push_back(std::move(ev));
}

void Device::Restart() {
    appRunning_ = false;
    captured_ = false;
    stage_ = 0;
    sinceStart_ = 0;
    nextSector_ = 0;
    lastStored_ = -1;
}

void Device::Feed(uint8_t b, int64_t tMs, const LineSettings& line) {
    if (vanished_) return;
    if (!frame_.empty() && tMs - lastByteMs_ > cfg_.frameGapMs)
        DropPartial(tMs, "incomplete frame: line quiet for " + std::to_string(tMs - lastByteMs_) +
                             " ms after " + std::to_string(frame_.size()) + " bytes");
    lastByteMs_ = tMs;

    if (frame_.empty()) {
        if (b == FRAME_LF) {
            frame_.push_back(b);
            frameTotal_ = 0;
        } else if (b == CAPTURE_ONE_STAGE || b == CAPTURE_FIRST || b == CAPTURE_SECOND) {
            Capture(static_cast<char>(b), tMs, line);
        } else {
            // Bytes between frames that mean nothing: counted, one event per run.
            ++junkBytes_;
            if (!events_.empty() && events_.back()["kind"] == "junk")
                events_.back()["bytes"] = events_.back()["bytes"].get<int>() + 1;
            else
                Record({{"kind", "junk"}, {"bytes", 1}}, tMs);
        }
        return;
    }

    frame_.push_back(b);
    if (frame_.size() == 3) {
        // The third byte tells the frame's kind and so its extent: a write frame
        // is framed by its length byte, since its data may hold LF and CR.
        if (frame_[2] == WRITE_CMD) {
            // A length byte too small for 'W', sector and CR ends the frame here; it is refused.
            frameTotal_ = std::max(static_cast<size_t>(frame_[1]) + 2, frame_.size());
        } else if (frame_[1] == GO_LEN_BYTE && frame_[2] == GO_CMD) {
            frameTotal_ = GO_FRAME_LEN;
        } else {
            frameTotal_ = RESET_FRAME_LEN;
        }
    }
    if (frameTotal_ != 0 && frame_.size() == frameTotal_) FrameComplete(tMs, line);
}

void Device::DropPartial(int64_t tMs, const std::string& why) {
    ++badFrames_;
    Record({{"kind", "bad-frame"}, {"accepted", false}, {"bytes", frame_.size()}, {"reason", why}},
           tMs);
    frame_.clear();
}

void Device::Capture(char c, int64_t tMs, const LineSettings& line) {
    const int n = ++captureChars_;
    ++sinceStart_;
    json ev = {{"kind", "capture"}, {"char", std::string(1, c)}, {"n", n}};
    AddLine(ev, line);

    const bool mine = cfg_.twoStage ? c != CAPTURE_ONE_STAGE : c == CAPTURE_ONE_STAGE;
    const char* reason = nullptr;
    if (appRunning_)
        reason = "application running";
    else if (sinceStart_ <= cfg_.captureAfter)
        reason = "still starting";
    else if (!mine)
        reason = "not this bootloader's capture character";
    else if (c == CAPTURE_SECOND && stage_ == 0)
        reason = "'Z' before 'Q'";
    if (reason) {
        ev["answered"] = false;
        ev["reason"] = reason;
        Record(std::move(ev), tMs);
        return;
    }

    const uint8_t* token = TOKEN_CAPTURED;
    if (c == CAPTURE_FIRST) {
        token = TOKEN_FIRST_STAGE;
        stage_ = 1;
    } else {
        if (c == CAPTURE_SECOND) token = TOKEN_SECOND_STAGE;
        // Every capture starts a new upload at sector 0.
        captured_ = true;
        nextSector_ = 0;
        lastStored_ = -1;
    }
    ++captureAnswers_;
    ev["answered"] = true;
    ev["captured"] = captured_;
    Answer(token, FindFault(cfg_.faults, FaultTarget::Capture, n, 0), 0, ev);
    Record(std::move(ev), tMs);
}

void Device::FrameComplete(int64_t tMs, const LineSettings& line) {
    json ev;
    AddLine(ev, line);
    ev["bytes"] = frame_.size();
    if (frame_[2] == WRITE_CMD)
        WriteFrame(ev);
    else if (frameTotal_ == GO_FRAME_LEN)
        GoFrame(ev);
    else
        ResetFrame(ev);
    if (!ev["accepted"].get<bool>()) ++badFrames_;
    frame_.clear();
    Record(std::move(ev), tMs);
}

void Device::WriteFrame(json& ev) {
    const SectorGeometry& g = *cfg_.geometry;
    ev["kind"] = "write";
    ev["accepted"] = false;
    if (frame_[1] != g.lenByte) {
        ev["reason"] = "length byte " + HexByte(frame_[1]) + ", expected " + HexByte(g.lenByte);
        return;
    }
    const int sector = frame_[3];
    ev["sector"] = sector;
    if (frame_[g.crPos] != FRAME_CR) {
        ev["reason"] = "no CR at " + std::to_string(g.crPos);
        return;
    }
    if (appRunning_) {
        ev["reason"] = "application running";
        return;
    }
    if (!captured_) {
        ev["reason"] = "not captured";
        return;
    }
    bool retry = false;
    if (sector == nextSector_) {
        if (sector == 0) sectors_.clear();  // a new upload replaces the old image
        ++nextSector_;
    } else if (sector == lastStored_) {
        retry = true;
    } else {
        ev["reason"] = "sector " + std::to_string(sector) + " out of order, expected " +
                       std::to_string(nextSector_);
        return;
    }

    std::vector<uint8_t> data(frame_.begin() + 4, frame_.begin() + 4 + g.sectorSize);
    if (retry) {
        ++retries_;
        ev["changed"] = sectors_[sector] != data;
    }
    sectors_[sector] = std::move(data);
    lastStored_ = sector;
    ++framesAccepted_;
    ev["accepted"] = true;
    ev["retry"] = retry;
    const int attempt = ++sectorAttempts_[sector];
    Answer(TOKEN_SECTOR_OK, FindFault(cfg_.faults, FaultTarget::Sector, sector, attempt),
           cfg_.pageWriteMs, ev);
}

void Device::GoFrame(json& ev) {
    ev["kind"] = "go";
    ev["accepted"] = false;
    if (frame_[3] != FRAME_CR) {
        ev["reason"] = "no CR at 3";
        return;
    }
    if (appRunning_ || !captured_) {
        ev["reason"] = appRunning_ ? "application running" : "not captured";
        return;
    }
    ev["accepted"] = true;
    goAccepted_ = true;
    Answer(reinterpret_cast<const uint8_t*>(GO_ANSWER),
           FindFault(cfg_.faults, FaultTarget::Go, 0, ++goFrames_), 0, ev);
    // The new firmware runs from now on.
    captured_ = false;
    appRunning_ = true;
}

void Device::ResetFrame(json& ev) {
    ev["accepted"] = false;
    const char* text = reinterpret_cast<const char*>(frame_.data()) + SERIAL_POS;
    if (frame_[RESET_FRAME_LEN - 1] != FRAME_CR ||
        std::memcmp(frame_.data() + FIXED_POS, RESET_FIXED, 6) != 0) {
        ev["kind"] = "unknown";
        ev["reason"] = "not a write, go or reset frame";
        return;
    }
    ev["kind"] = "reset";
    const std::string serial(text, DEST_LEN);
    ev["serial"] = LineText(text, DEST_LEN);

    char crcText[8];
    AppendCrcHex(crcText, 0, Crc16(text, CRC_COVERED));
    if (std::memcmp(crcText, frame_.data() + CRC_TEXT_POS, 4) != 0) {
        ++resetsBadCrc_;
        ev["reason"] = "bad CRC " + LineText(text + CRC_COVERED, 4) + ", expected " + crcText;
        return;
    }
    if (serial != cfg_.serial) {
        ++resetsWrongSerial_;
        ev["reason"] = "addressed to another device";
        return;
    }
    // The device restarts into its bootloader and waits for capture characters; it says nothing.
    ++resetsGood_;
    ev["accepted"] = true;
    Restart();
}

void Device::Answer(const uint8_t* token, const Fault* fault, int delayMs, json& ev) {
    const std::string normal(reinterpret_cast<const char*>(token), TOKEN_LEN);
    if (!fault) {
        out_.push_back({normal, delayMs});
        ev["answer"] = Hex(token, TOKEN_LEN);
        return;
    }
    ev["fault"] = fault->text;
    faultsApplied_.push_back({{"fault", fault->text}, {"event", events_.size()}});
    switch (fault->kind) {
        case FaultKind::NoAnswer:
            break;
        case FaultKind::Garbage:
        case FaultKind::Flood:
            out_.push_back({NoiseBytes(fault->arg), delayMs});
            break;
        case FaultKind::Partial:
            out_.push_back({normal.substr(0, 2), delayMs});
            break;
        case FaultKind::Split:
            out_.push_back({normal.substr(0, 1), delayMs});
            out_.push_back({normal.substr(1), fault->arg});
            break;
        case FaultKind::Late:
            out_.push_back({normal, delayMs + fault->arg});
            break;
        case FaultKind::Vanish:
            vanished_ = true;
            break;
    }
}

void Device::HostOpened(int64_t tMs) {
    ++hostOpens_;
    Record({{"kind", "host-open"}}, tMs);
}

void Device::HostClosed(int64_t tMs) {
    ++hostCloses_;
    if (!frame_.empty())
        DropPartial(tMs, "incomplete frame: port closed after " + std::to_string(frame_.size()) +
                             " bytes");
    Record({{"kind", "host-close"}}, tMs);
}

void Device::ObserveLine(int64_t tMs, const LineSettings& line) {
    if (lineSeen_ && line == lastLine_) return;
    lineSeen_ = true;
    lastLine_ = line;
    if (std::find(ratesSeen_.begin(), ratesSeen_.end(), line.baud) == ratesSeen_.end())
        ratesSeen_.push_back(line.baud);
    json ev = {{"kind", "line"}};
    AddLine(ev, line);
    Record(std::move(ev), tMs);
}

void Device::IgnoredAtRate(int64_t tMs, size_t bytes, const LineSettings& line) {
    ignoredBytes_ += bytes;
    json ev = {{"kind", "ignored"}, {"bytes", bytes}, {"reason", "wrong rate"}};
    AddLine(ev, line);
    Record(std::move(ev), tMs);
}

void Device::AnswerDropped(int64_t tMs, size_t bytes, const char* why) {
    droppedAnswerBytes_ += bytes;
    Record({{"kind", "answer-dropped"}, {"bytes", bytes}, {"reason", why}}, tMs);
}

std::vector<Chunk> Device::TakeOutput() {
    std::vector<Chunk> out;
    out.swap(out_);
    return out;
}

std::vector<uint8_t> Device::Image(size_t trimTo) const {
    std::vector<uint8_t> image;
    if (sectors_.empty()) return image;
    const size_t size = static_cast<size_t>(cfg_.geometry->sectorSize);
    image.assign((static_cast<size_t>(sectors_.rbegin()->first) + 1) * size, 0xFF);
    for (const auto& [sector, data] : sectors_)
        std::copy(data.begin(), data.end(), image.begin() + static_cast<long>(sector * size));
    if (image.size() > trimTo) image.resize(trimTo);
    return image;
}

std::vector<std::string> Device::CheckUpload(const std::vector<uint8_t>& expected,
                                             bool expectGo) const {
    std::vector<std::string> problems;
    const size_t size = static_cast<size_t>(cfg_.geometry->sectorSize);
    const int wanted = static_cast<int>((expected.size() + size - 1) / size);
    std::vector<int> missing;
    for (int s = 0; s < wanted; ++s)
        if (!sectors_.count(s)) missing.push_back(s);
    if (!missing.empty()) {
        std::string list;
        for (size_t i = 0; i < missing.size() && i < 10; ++i)
            list += (i ? ", " : "") + std::to_string(missing[i]);
        if (missing.size() > 10) list += ", ...";
        problems.push_back(std::to_string(missing.size()) + " of " + std::to_string(wanted) +
                           " sectors not received: " + list);
    }
    if (!sectors_.empty() && sectors_.rbegin()->first >= wanted)
        problems.push_back("sectors beyond the image received: up to sector " +
                           std::to_string(sectors_.rbegin()->first) + ", the image has " +
                           std::to_string(wanted));
    const std::vector<uint8_t> image = Image(expected.size());
    for (size_t i = 0; i < image.size(); ++i) {
        if (image[i] != expected[i] && sectors_.count(static_cast<int>(i / size))) {
            problems.push_back("byte " + std::to_string(i) + " (sector " +
                               std::to_string(i / size) + ") is " + HexByte(image[i]) +
                               ", expected " + HexByte(expected[i]));
            break;
        }
    }
    if (expectGo && !goAccepted_) problems.push_back("no go frame received");
    return problems;
}

json Device::Report() const {
    json summary = {
        {"capture_chars", captureChars_},
        {"capture_answers", captureAnswers_},
        {"captured", captured_},
        {"sectors_received", sectors_.size()},
        {"frames_accepted", framesAccepted_},
        {"retries", retries_},
        {"bad_frames", badFrames_},
        {"junk_bytes", junkBytes_},
        {"resets", {{"good", resetsGood_}, {"wrong_serial", resetsWrongSerial_},
                    {"bad_crc", resetsBadCrc_}}},
        {"go_received", goAccepted_},
        {"host_opens", hostOpens_},
        {"host_closes", hostCloses_},
        {"rates_seen", ratesSeen_},
        {"ignored_bytes_wrong_rate", ignoredBytes_},
        {"dropped_answer_bytes", droppedAnswerBytes_},
        {"image_bytes", Image().size()},
        {"vanished", vanished_},
    };
    return {{"summary", summary}, {"faults_applied", faultsApplied_}, {"events", events_}};
}
