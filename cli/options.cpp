#include "cli/options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <fstream>
#include <iostream>
#include <set>

namespace {

// The rates the communication settings offer.
const std::vector<uint32_t> BAUD_RATES = {110,   300,   600,   1200,  2400,   4800,  9600,
                                          14400, 19200, 38400, 56000, 128000, 256000};

const char* const DESCRIPTION =
    "ulvar-bl - firmware upload through the resident bootloader of AtMega88,\n"
    "AtMega168 and LuminaryMicro devices, over a serial port.\n"
    "\n"
    "Examples:\n"
    "  ulvar-bl flash --port /dev/ttyUSB0 --image reader.enc\n"
    "  ulvar-bl flash --port /dev/ttyUSB0 --port /dev/ttyUSB1 --image reader.enc --fast\n"
    "  ulvar-bl capture --port COM3 --reset --dest 2424242 --blver 1.00";

const char* const EXIT_CODES =
    "Exit codes:\n"
    "  0  every operation succeeded on every port\n"
    "  2  bad input: an option, the image (missing, empty, more than 256 sectors)\n"
    "  3  port error: the port is missing, busy, not permitted, or failed\n"
    "  4  capture failed: no capture token from the bootloader within its tries\n"
    "  5  upload failed: a sector not acknowledged after 5 tries, or the image\n"
    "     changed or became unreadable during the upload\n"
    "  6  go failed: the go frame got no answer, so the start of the new firmware\n"
    "     is not confirmed\n"
    "  130  interrupted (Ctrl-C): the ports are closed, the summary and the report\n"
    "       are still written\n"
    "With several ports the highest code of any port is returned.";

#ifdef _WIN32
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// COM1..COM8, in any case, as "COMn".
bool NormalizePort(std::string& port) {
    const std::string l = Lower(port);
    if (l.size() != 4 || l.compare(0, 3, "com") != 0 || l[3] < '1' || l[3] > '8') return false;
    port = "COM" + l.substr(3);
    return true;
}
#else
bool NormalizePort(std::string& port) { return !port.empty(); }
#endif

}  // namespace

int ParseCommandLine(int argc, char** argv, CliOptions& o) {
    CLI::App app{DESCRIPTION, "ulvar-bl"};
    app.footer(EXIT_CODES);
    app.get_formatter()->column_width(30);
    // Options given before or after the subcommand are the same options.
    app.fallthrough();
    app.require_subcommand(1, 1);
    for (const char* name : {"capture", "upload", "go", "flash"}) {
        static const std::map<std::string, std::string> help = {
            {"capture", "Make the bootloader take the line (after a reset frame with --reset)"},
            {"upload", "Send --image sector by sector to a captured bootloader"},
            {"go", "Send the go frame that starts the new firmware"},
            {"flash", "Capture, upload and go in one"}};
        app.add_subcommand(name, help.at(name))->callback([&o, name] { o.subcommand = name; });
    }

    app.add_option("--port", o.ports,
#ifdef _WIN32
                   "Serial port COM1..COM8; repeat to flash several devices in parallel"
#else
                   "Serial device, e.g. /dev/ttyUSB0; repeat to flash several devices in parallel"
#endif
                   )
        ->type_name("PORT")
        ->required();
    app.add_option("--baud", o.baud, "Line rate")
        ->check(CLI::IsMember(BAUD_RATES))
        ->capture_default_str();
    app.add_option("--chip", o.chip, "atmega168 or luminary (128-byte sectors), atmega88 (64)")
        ->check(CLI::IsMember({"atmega168", "atmega88", "luminary"}))
        ->capture_default_str();
    app.add_option("--blver", o.blver,
                   "Bootloader version: 1.00 captures with 'A', 1.01 with 'Q' then 'Z'\n"
                   "(luminary always uses 'Q' then 'Z')")
        ->check(CLI::IsMember({"1.00", "1.01"}))
        ->capture_default_str();
    app.add_flag("--reset", o.reset,
                 "Send the reset frame to --dest first, so that a running device\n"
                 "restarts into its bootloader, then capture");
    app.add_option("--dest", o.dest, "7-character serial of the device the reset frame is for")
        ->type_name("SERIAL")
        ->capture_default_str();
    app.add_option("--reset-baud", o.resetBaud,
                   "56000: send the reset frame at 56000 baud, then capture at 38400\n"
                   "(implies --reset)")
        ->check(CLI::IsMember({56000}));
    app.add_option("--image", o.image, "Firmware image (.ENC), sent unchanged (upload, flash)")
        ->type_name("FILE");
    app.add_flag("--fast", o.fast,
                 "Same frames and judgement of answers, but each step runs as soon as\n"
                 "its answer is complete instead of after the fixed waits");
    app.add_option("--json", o.json, "Write a JSON report to FILE ('-' for standard output)")
        ->type_name("FILE");
    app.add_flag("--verbose", o.verbose, "Print the engine's debug lines, oldest first");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "ulvar-bl: " << e.what() << "\n"
                  << "Run 'ulvar-bl --help' for the options.\n";
        return EXIT_BAD_INPUT;
    }
    return -1;
}

bool MakeJobs(const CliOptions& o, std::vector<JobSpec>& jobs, std::vector<std::string>& warnings,
              std::string& error) {
    JobSpec base;
    base.subcommand = o.subcommand;
    if (o.subcommand == "capture") base.operations = {Operation::Capture};
    else if (o.subcommand == "upload") base.operations = {Operation::Upload};
    else if (o.subcommand == "go") base.operations = {Operation::Go};
    else base.operations = {Operation::Capture, Operation::Upload, Operation::Go};
    base.baud = o.baud;
    base.chipType = o.chip == "luminary"   ? CHIP_LUMINARY
                    : o.chip == "atmega88" ? CHIP_ATMEGA88
                                           : CHIP_ATMEGA168;
    base.twoStageBl = o.blver == "1.01";
    base.reset57 = o.resetBaud == BAUD_RESET57;
    base.reset = o.reset || base.reset57;
    base.dest = o.dest;
    base.fast = o.fast;

    const bool captures = base.operations.front() == Operation::Capture;
    if (base.reset && !captures) {
        error = "--reset and --reset-baud belong to capture and flash";
        return false;
    }
    if (base.reset && o.dest.size() != DEST_LEN)
        warnings.push_back("--dest '" + o.dest + "' is not 7 characters; the reset frame goes to " +
                           DEFAULT_DEST);

    const bool uploads = o.subcommand == "upload" || o.subcommand == "flash";
    if (uploads) {
        if (o.image.empty()) {
            error = o.subcommand + " needs --image FILE";
            return false;
        }
        if (o.image.size() >= static_cast<size_t>(FILE_NAME_MAX)) {
            error = "the image path is longer than " + std::to_string(FILE_NAME_MAX - 1) +
                    " characters";
            return false;
        }
        std::ifstream f(o.image, std::ios::binary | std::ios::ate);
        if (!f) {
            error = o.image + ": cannot open the image";
            return false;
        }
        base.imageBytes = static_cast<int64_t>(f.tellg());
        const int64_t limit = int64_t{MAX_SECTORS} * GeometryFor(base.chipType).sectorSize;
        if (base.imageBytes <= 0) {
            error = o.image + ": the image is empty";
            return false;
        }
        if (base.imageBytes > limit) {
            error = o.image + ": image has more than 256 sectors (" +
                    std::to_string(base.imageBytes) + " bytes; at most " + std::to_string(limit) +
                    " for " + o.chip + ")";
            return false;
        }
        base.image = o.image;
    } else if (!o.image.empty()) {
        warnings.push_back("--image is not used by " + o.subcommand);
    }

    std::set<std::string> seen;
    for (std::string port : o.ports) {
        if (!NormalizePort(port)) {
            error = "'" + port + "' is not a port (COM1..COM8)";
            return false;
        }
        if (!seen.insert(port).second) {
            error = port + " is given twice";
            return false;
        }
        JobSpec job = base;
        job.port = port;
        jobs.push_back(job);
    }
    return true;
}
