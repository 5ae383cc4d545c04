#include "cli/progress.h"

#include <algorithm>
#include <cstdarg>

namespace {

constexpr int BAR_WIDTH = 24;
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

std::string Format(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

// Debug lines carry the desktop program's line breaks ("\r\nCaptured").
std::string Trimmed(const std::string& line) {
    const size_t b = line.find_first_not_of("\r\n");
    if (b == std::string::npos) return {};
    const size_t e = line.find_last_not_of("\r\n");
    return line.substr(b, e - b + 1);
}

}  // namespace

ProgressView::ProgressView(std::FILE* out, bool terminal, bool verbose,
                           std::vector<std::string> ports)
    : out_(out), terminal_(terminal), verbose_(verbose), order_(std::move(ports)) {
    for (const std::string& p : order_) ports_[p];
}

std::string ProgressView::Prefix(const std::string& port) const {
    return order_.size() > 1 ? port + ": " : std::string();
}

std::string ProgressView::StatusText(const PortState& st, bool wide) const {
    const ProgressSnapshot& s = st.snapshot;
    if (s.op == Operation::Capture) {
        const char* phase = s.engine.captureStage == 1 ? " (second stage)" : "";
        return Format("capture: try %u%s", static_cast<unsigned>(s.captureChars), phase);
    }
    if (s.op == Operation::Go) return "go";
    const int total = s.engine.sectors;
    const double rate = s.seconds > 0 ? static_cast<double>(s.bytes) / s.seconds : 0;
    if (!wide)
        return Format("sector %d/%d", s.engine.sector, total);
    // Plain lines go to logs, where a bar is noise.
    std::string bar = ":";
    if (terminal_) {
        const double part = total > 0 ? std::min(1.0, double(s.engine.sector) / total) : 0;
        const int filled = static_cast<int>(part * BAR_WIDTH);
        bar = " [" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + "]";
    }
    return Format("upload%s sector %d/%d  %lld/%lld bytes  %.0f B/s  retries %d", bar.c_str(),
                  s.engine.sector, total, static_cast<long long>(s.bytes),
                  static_cast<long long>(s.imageBytes), rate, s.engine.retries);
}

void ProgressView::ClearLine() {
    if (lineShown_) std::fputs("\r\033[K", out_);
    lineShown_ = false;
}

void ProgressView::Redraw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < REDRAW_EVERY) return;
    lastDraw_ = now;
    std::string line;
    if (order_.size() == 1) {
        line = StatusText(ports_[order_[0]], true);
    } else {
        for (const std::string& p : order_) {
            const PortState& st = ports_[p];
            if (!line.empty()) line += " | ";
            line += p + " " + (st.started ? StatusText(st, false) : "waiting");
        }
    }
    std::fputs("\r\033[K", out_);
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    lineShown_ = true;
}

void ProgressView::PlainMilestone(const std::string& port, PortState& st) {
    const ProgressSnapshot& s = st.snapshot;
    if (s.op != Operation::Upload || s.engine.sectors == 0) return;
    const int decile = s.engine.sector * 10 / s.engine.sectors;
    if (decile == st.lastDecile) return;
    st.lastDecile = decile;
    std::fprintf(out_, "%s%s\n", Prefix(port).c_str(), StatusText(st, true).c_str());
    std::fflush(out_);
}

void ProgressView::OperationStarted(const std::string& port, Operation op) {
    std::lock_guard<std::mutex> lock(mutex_);
    PortState& st = ports_[port];
    st.started = true;
    st.snapshot = ProgressSnapshot{};
    st.snapshot.op = op;
    st.lastDecile = -1;
    if (terminal_) {
        Redraw(true);
    } else {
        std::fprintf(out_, "%s%s...\n", Prefix(port).c_str(), OperationName(op));
        std::fflush(out_);
    }
}

void ProgressView::Progress(const std::string& port, const ProgressSnapshot& snapshot) {
    std::lock_guard<std::mutex> lock(mutex_);
    PortState& st = ports_[port];
    st.snapshot = snapshot;
    if (terminal_) Redraw(false);
    else PlainMilestone(port, st);
}

void ProgressView::DebugLine(const std::string& port, const std::string& line) {
    if (!verbose_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ClearLine();
    std::fprintf(out_, "%s%s\n", Prefix(port).c_str(), Trimmed(line).c_str());
    if (terminal_) Redraw(true);
}

void ProgressView::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_ && lineShown_) {
        Redraw(true);
        std::fputs("\n", out_);
        lineShown_ = false;
    }
    std::fflush(out_);
}
