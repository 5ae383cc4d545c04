#include "cli/cli_host.h"

#include "panes/pane_text.h"
#include "serial/port.h"

void CliHost::SetPaneText(int pane, const char* text) { panes_[pane] = text; }

void CliHost::AppendPaneText(int pane, const char* text) {
    panes_[pane] = AppendedPaneText(panes_[pane], text);
}

// Only the debug pane grows at its start. Its lines are passed on as they
// come, oldest first, instead of being kept: over a long upload every prepend
// would copy all the earlier lines.
void CliHost::PrependPaneLine(int, const char* text) {
    if (onDebugLine_) onDebugLine_(text);
}

int CliHost::Connect(TTYInfo& tty) {
    if (ConnectPort(&tty)) return 1;
    portError_ = LastPortError(&tty);
    if (portError_.empty()) portError_ = "cannot open the port";
    connectFailed_ = true;
    return 0;
}

void CliHost::Disconnect(TTYInfo& tty) { DisconnectPort(&tty); }

int CliHost::Write(TTYInfo& tty, const uint8_t* bytes, int32_t len) {
    if (len == 1) ++captureChars_;
    const int ok = fast_ ? WritePortAll(&tty, bytes, len) : SendPortBlock(&tty, bytes, len);
    if (!ok && tty.bPortOpen.load() != 0) {
        ++writeFailures_;
        const std::string why = LastPortError(&tty);
        portError_ = why.empty() ? "the port did not take the frame" : why;
    }
    return ok;
}

void CliHost::IssueCommand(int id) {
    if (seq_ == nullptr) return;
    if (id == BTN_SEND) seq_->Send(0);
    else if (id == BTN_RESET_CAP) seq_->ArmCapture(BTN_RESET_CAP, boxes_.blver, boxes_.luminary);
}

void CliHost::ConnectionFailed() { connectFailed_ = true; }
