// ulvar-bl: the command-line flasher. Runs the desktop program's operation
// engine on each port given, one thread per port, and turns the outcomes into
// progress, one summary line per port and an exit code.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define ULVAR_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ULVAR_ISATTY(fd) isatty(fd)
#endif

#include "cli/options.h"
#include "cli/port_runner.h"
#include "cli/progress.h"
#include "cli/report.h"

namespace {

extern "C" void OnStopSignal(int) { RequestStop(); }

std::string Summary(const PortResult& r) {
    char buf[160];
    std::string ops;
    for (const OperationResult& op : r.operations)
        ops += std::string(ops.empty() ? "" : ", ") + OutcomeName(op.outcome);
    std::snprintf(buf, sizeof buf, "; %d sectors, %lld bytes, %d retries, %.2f s", r.sectors,
                  static_cast<long long>(r.bytes), r.retries, r.seconds);
    return ops + buf;
}

bool WriteReport(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::fputs(text.c_str(), stdout);
        return true;
    }
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    const int parsed = ParseCommandLine(argc, argv, options);
    if (parsed >= 0) return parsed;

    std::vector<JobSpec> jobs;
    std::vector<std::string> warnings;
    std::string error;
    if (!MakeJobs(options, jobs, warnings, error)) {
        std::fprintf(stderr, "ulvar-bl: %s\n", error.c_str());
        return EXIT_BAD_INPUT;
    }
    for (const std::string& w : warnings) std::fprintf(stderr, "ulvar-bl: warning: %s\n", w.c_str());

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    ProgressView view(stderr, ULVAR_ISATTY(2) != 0, options.verbose, options.ports);
    std::vector<PortResult> results(jobs.size());
    if (jobs.size() == 1) {
        results[0] = RunPort(jobs[0], view);
    } else {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < jobs.size(); ++i)
            threads.emplace_back([&, i] { results[i] = RunPort(jobs[i], view); });
        for (std::thread& t : threads) t.join();
    }
    view.Finish();

    int exitCode = EXIT_OK;
    for (size_t i = 0; i < results.size(); ++i) {
        const PortResult& r = results[i];
        exitCode = std::max(exitCode, r.exitCode);
        if (r.exitCode == EXIT_OK)
            std::printf("ulvar-bl: %s: %s done: %s\n", r.port.c_str(), options.subcommand.c_str(),
                        Summary(r).c_str());
        else
            std::fprintf(stderr, "ulvar-bl: %s: %s\n", r.port.c_str(), r.error.c_str());
    }
    std::fflush(stdout);

    if (!options.json.empty() &&
        !WriteReport(options.json, ReportJson(options, jobs, results, exitCode))) {
        std::fprintf(stderr, "ulvar-bl: cannot write the report %s\n", options.json.c_str());
        exitCode = std::max(exitCode, EXIT_BAD_INPUT);
    }
    return exitCode;
}
