// A host for the operation engine that plays the window, the port and the
// device from a script. Panes are strings; every written frame is kept with
// the line rate in force; the device's answer to a frame is stored into the
// record at once, as the receive thread would store it while the engine waits.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "panes/pane_text.h"
#include "sequencer/sequencer.h"

using Bytes = std::vector<uint8_t>;

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

const Bytes LF_COLON_CR = {0x0A, ':', 0x0D};
const Bytes LF_Q_CR = {0x0A, 'q', 0x0D};
const Bytes LF_Z_CR = {0x0A, 'z', 0x0D};
const Bytes ACK = {0x0A, '!', 0x0D};

struct Frame {
    Bytes bytes;
    uint32_t baud;
};

class ScriptHost : public SequencerHost {
public:
    // Panes and fields.
    std::map<int, std::string> panes;
    std::string dest = "0000000";

    // Timer.
    bool timer = false;
    int timerStarts = 0;

    // Record and port.
    TTYInfo tty;
    bool hasRecord = true;
    int connectFailures = 0;  // this many next connects fail
    std::vector<uint32_t> connectBauds;
    int disconnects = 0;
    std::vector<Frame> frames;
    int messageBoxes = 0;

    // The device: its answer to each written frame (empty: no answer).
    std::function<Bytes(const Bytes&)> device;
    // Called after each frame has been written, with the count so far.
    std::function<void(size_t)> afterWrite;

    // The check boxes, read when BTN_RESET_CAP is issued.
    bool blver = false;
    bool luminary = false;
    std::vector<int> issued;

    // The image: in memory unless realFile, with injectable faults.
    bool realFile = false;
    Bytes image;
    ImageStamp stamp;
    bool openFails = false;
    bool sizeFails = false;
    bool seekFails = false;
    bool readShort = false;
    int opens = 0;
    int closes = 0;

    Sequencer* seq = nullptr;

    // Answers one per frame, in order; none once the list is used up.
    void Answers(std::vector<Bytes> answers) {
        auto queue = std::make_shared<std::deque<Bytes>>(answers.begin(), answers.end());
        device = [queue](const Bytes&) {
            if (queue->empty()) return Bytes{};
            Bytes a = queue->front();
            queue->pop_front();
            return a;
        };
    }

    const std::string& Pane(int id) { return panes[id]; }

    void SetPaneText(int pane, const char* text) override { panes[pane] = text; }
    void AppendPaneText(int pane, const char* text) override {
        panes[pane] = AppendedPaneText(panes[pane], text);
    }
    void PrependPaneLine(int pane, const char* text) override {
        panes[pane] = PrependedPaneText(panes[pane], text);
    }
    std::string DestinationText() override { return dest; }
    void StartTimer() override {
        timer = true;
        ++timerStarts;
    }
    void StopTimer() override { timer = false; }
    TTYInfo* Record() override { return hasRecord ? &tty : nullptr; }
    int Connect(TTYInfo& t) override {
        if (connectFailures > 0) {
            --connectFailures;
            return 0;
        }
        connectBauds.push_back(t.dwBaud);
        t.bPortOpen = 1;
        return 1;
    }
    void Disconnect(TTYInfo& t) override {
        t.bPortOpen = 0;
        ++disconnects;
    }
    int Write(TTYInfo& t, const uint8_t* bytes, int32_t len) override {
        if (t.bPortOpen == 0) return 0;
        Bytes frame(bytes, bytes + len);
        frames.push_back({frame, t.dwBaud});
        if (device) {
            const Bytes answer = device(frame);
            if (!answer.empty())
                StoreResponseBytes(t, answer.data(), static_cast<int32_t>(answer.size()));
        }
        if (afterWrite) afterWrite(frames.size());
        return 1;
    }
    void IssueCommand(int id) override {
        issued.push_back(id);
        if (id == BTN_SEND) seq->Send(0);
        if (id == BTN_RESET_CAP) seq->ArmCapture(BTN_RESET_CAP, blver, luminary);
    }
    void ConnectionFailed() override { ++messageBoxes; }

    int OpenImage(const char* path) override {
        if (realFile) return SequencerHost::OpenImage(path);
        if (openFails || path[0] == '\0') return -1;
        ++opens;
        return 7;
    }
    int64_t SeekImage(int fd, int64_t offset, int whence) override {
        if (realFile) return SequencerHost::SeekImage(fd, offset, whence);
        if (whence == SEEK_END) return sizeFails ? -1 : static_cast<int64_t>(image.size());
        if (seekFails) return -1;
        pos_ = offset;
        return offset;
    }
    int32_t ReadImage(int fd, void* buf, int32_t n) override {
        if (realFile) return SequencerHost::ReadImage(fd, buf, n);
        if (readShort) --n;
        for (int32_t i = 0; i < n; ++i) static_cast<uint8_t*>(buf)[i] = image[pos_ + i];
        return n;
    }
    void CloseImage(int fd) override {
        if (realFile) return SequencerHost::CloseImage(fd);
        ++closes;
    }
    ImageStamp StampImage(int fd) override {
        if (realFile) return SequencerHost::StampImage(fd);
        return stamp;
    }

private:
    int64_t pos_ = 0;
};

// The engine on a scripted host, with the port closed at 38400 baud.
struct Rig {
    ScriptHost host;
    BootState boot;
    Sequencer seq{host, boot};

    Rig() {
        host.seq = &seq;
        host.tty.dwBaud = 38400;
    }

    void Ticks(int n) {
        for (int i = 0; i < n; ++i) seq.Tick(TIMER_ID);
    }

    // Ticks until the timer stops; returns how many it took.
    int RunToEnd(int limit = 100000) {
        int n = 0;
        while (seq.TimerRunning() && n < limit) {
            seq.Tick(TIMER_ID);
            ++n;
        }
        return n;
    }

    // Runs one start step and, when it wrote a frame, the receive step after it.
    void RunCycle() {
        seq.Tick(TIMER_ID);
        while (boot.nState == ST_RECV) seq.Tick(TIMER_ID);
    }

    const std::string& Debug() { return host.Pane(EDIT_DEBUG); }
    const std::string& Recv() { return host.Pane(EDIT_RECV); }
};
