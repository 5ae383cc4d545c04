// What one run of the command-line flasher does on each port, and how it
// ended. Shared by the option parser, the per-port runner, the progress view
// and the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequencer/sequencer.h"

// Exit codes of ulvar-bl. The worst result over all ports wins.
constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_INPUT = 2;   // bad option, image missing, empty or too large
constexpr int EXIT_PORT = 3;        // the port could not be opened or failed
constexpr int EXIT_CAPTURE = 4;     // the bootloader never answered the capture
constexpr int EXIT_UPLOAD = 5;      // a sector was not acknowledged, or the image changed
constexpr int EXIT_GO = 6;          // the go frame got no answer
constexpr int EXIT_INTERRUPTED = 130;  // stopped by Ctrl-C or a termination signal

enum class Operation { Capture, Upload, Go };

const char* OperationName(Operation op);

struct JobSpec {
    std::string subcommand;           // capture, upload, go, flash
    std::vector<Operation> operations;
    std::string port;
    uint32_t baud = 38400;
    int chipType = CHIP_ATMEGA168;
    bool twoStageBl = false;          // --blver 1.01
    bool reset = false;
    bool reset57 = false;             // reset frame at 56000 baud, capture at 38400
    std::string dest;                 // as given; the engine falls back to "0000000"
    std::string image;
    int64_t imageBytes = 0;           // size of the image when the run began
    bool fast = false;
};

struct OperationResult {
    Operation op = Operation::Capture;
    Outcome outcome = Outcome::None;
    double seconds = 0;
};

struct PortResult {
    std::string port;
    int exitCode = EXIT_OK;
    std::string error;                // one line, empty on success
    std::vector<OperationResult> operations;
    uint32_t captureChars = 0;        // capture characters written, all phases
    int32_t sectors = 0;              // sectors acknowledged
    int32_t sectorsTotal = 0;
    int64_t bytes = 0;                // image bytes acknowledged
    int32_t retries = 0;
    double seconds = 0;
    std::string received;             // the received-data pane at the end
};

// Progress of one port as the runner sees it after each step.
struct ProgressSnapshot {
    Operation op = Operation::Capture;
    OperationProgress engine;
    uint32_t captureChars = 0;
    int64_t bytes = 0;                // image bytes acknowledged
    int64_t imageBytes = 0;
    double seconds = 0;               // since the operation began
};
