// The command line of ulvar-bl: parsing, checking, and turning it into one
// job per port.
#pragma once

#include <string>
#include <vector>

#include "cli/job.h"

struct CliOptions {
    std::string subcommand;
    std::vector<std::string> ports;
    uint32_t baud = 38400;
    std::string chip = "atmega168";
    std::string blver = "1.01";
    bool reset = false;
    std::string dest = DEFAULT_DEST;
    uint32_t resetBaud = 0;
    std::string image;
    bool fast = false;
    bool verbose = false;
    std::string json;
};

// Parses argv. Returns -1 to go on; otherwise the exit code, after printing
// the help (0) or the error (EXIT_BAD_INPUT).
int ParseCommandLine(int argc, char** argv, CliOptions& options);

// Checks what the parser cannot (ports, image) and makes the jobs. False with
// `error` set on bad input; `warnings` collects what is allowed but suspect.
bool MakeJobs(const CliOptions& options, std::vector<JobSpec>& jobs,
              std::vector<std::string>& warnings, std::string& error);
