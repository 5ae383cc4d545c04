// The engine's host for the command-line flasher: panes are strings, the
// buttons are calls into the engine, the port is the serial backend. Each
// port flashed gets its own host, record, BootState and engine.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "sequencer/sequencer.h"

class CliHost : public SequencerHost {
public:
    // The check boxes a bench operator would have ticked, fixed for the run.
    struct Boxes {
        bool blver = false;
        bool luminary = false;
    };

    CliHost(TTYInfo& tty, std::string dest, Boxes boxes, bool fast)
        : tty_(tty), dest_(std::move(dest)), boxes_(boxes), fast_(fast) {}

    void Attach(Sequencer* seq) { seq_ = seq; }
    // Called with each debug-pane line as it is prepended.
    void OnDebugLine(std::function<void(const std::string&)> f) { onDebugLine_ = std::move(f); }

    void SetPaneText(int pane, const char* text) override;
    void AppendPaneText(int pane, const char* text) override;
    void PrependPaneLine(int pane, const char* text) override;
    std::string DestinationText() override { return dest_; }
    void StartTimer() override {}
    void StopTimer() override {}
    TTYInfo* Record() override { return &tty_; }
    int Connect(TTYInfo& tty) override;
    void Disconnect(TTYInfo& tty) override;
    int Write(TTYInfo& tty, const uint8_t* bytes, int32_t len) override;
    void IssueCommand(int id) override;
    void ConnectionFailed() override;

    // The received-data pane: the last cycle's answer and the engine's messages.
    std::string ReceivedText() const {
        const auto it = panes_.find(EDIT_RECV);
        return it == panes_.end() ? std::string() : it->second;
    }
    uint32_t captureChars() const { return captureChars_; }
    // Why the port last failed (opening or writing); empty when it never did.
    const std::string& portError() const { return portError_; }
    bool connectFailed() const { return connectFailed_; }
    int writeFailures() const { return writeFailures_; }

private:
    TTYInfo& tty_;
    std::string dest_;
    Boxes boxes_;
    bool fast_;
    Sequencer* seq_ = nullptr;
    std::function<void(const std::string&)> onDebugLine_;
    std::map<int, std::string> panes_;
    uint32_t captureChars_ = 0;
    std::string portError_;
    bool connectFailed_ = false;
    int writeFailures_ = 0;
};
