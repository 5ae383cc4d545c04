// What the user sees while ports are flashed: on a terminal one line redrawn
// in place (a bar for one port, a short status per port for several); on
// anything else plain lines at each milestone. Debug lines (--verbose) are
// printed oldest first between the redraws. Thread-safe: each port reports
// from its own thread.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/port_runner.h"

class ProgressView : public PortObserver {
public:
    ProgressView(std::FILE* out, bool terminal, bool verbose, std::vector<std::string> ports);

    void OperationStarted(const std::string& port, Operation op) override;
    void Progress(const std::string& port, const ProgressSnapshot& snapshot) override;
    void DebugLine(const std::string& port, const std::string& line) override;

    // Ends the progress line before the summary.
    void Finish();

private:
    struct PortState {
        ProgressSnapshot snapshot;
        bool started = false;
        int lastDecile = -1;  // plain lines: the last tenth of the upload reported
    };

    std::string Prefix(const std::string& port) const;
    std::string StatusText(const PortState& st, bool wide) const;
    void Redraw(bool force);
    void ClearLine();
    void PlainMilestone(const std::string& port, PortState& st);

    std::FILE* out_;
    bool terminal_;
    bool verbose_;
    std::vector<std::string> order_;
    std::map<std::string, PortState> ports_;
    std::mutex mutex_;
    bool lineShown_ = false;
    std::chrono::steady_clock::time_point lastDraw_;
};
