// ulvar-sim: a simulated bootloader on a pseudo-terminal, for trying and
// testing the uploaders without a device.
#include <CLI/CLI.hpp>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include "sim/simulator.h"

namespace {

constexpr int EXIT_MISMATCH = 1;
constexpr int EXIT_TROUBLE = 2;

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop.store(true); }

void InstallSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    f.close();
    if (f) return true;
    std::cerr << "ulvar-sim: cannot write " << path << ": " << std::strerror(errno) << "\n";
    return false;
}

// A symlink at `link` to the device; an existing symlink there is replaced, anything else kept.
bool MakeLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + " to " + target + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<size_t>(n)) == target) unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "ulvar-sim - a simulated bootloader on a pseudo-terminal.\n\n"
        "Plays an AtMega88, AtMega168 or LuminaryMicro device whose bootloader answers\n"
        "capture characters, reset, write and go frames, keeps the image written to it and\n"
        "records everything it saw. The first line on standard output is the device path\n"
        "(e.g. /dev/pts/7); open that path, or the --link, as the serial port.\n\n"
        "It runs until Ctrl-C/SIGTERM, --time-limit, --exit-after-go, or a vanish fault,\n"
        "then writes --image-out and --report. Exit status: 0 fine, 1 the upload did not\n"
        "match --expect/--expect-go, 2 the simulator itself failed (bad option, files).\n\n"
        "Answers: 'A' -> LF ':' CR; 'Q' -> LF 'q' CR, then 'Z' -> LF 'z' CR (--two-stage);\n"
        "a good write frame -> LF '!' CR; the go frame -> LF 'g' CR; a reset frame for this\n"
        "serial -> nothing (the device restarts into its bootloader). Bad frames get no answer.\n"};
    app.footer(
        "Examples:\n"
        "  ulvar-sim --link /tmp/com1 --report r.json\n"
        "  ulvar-sim --chip atmega88 --expect fw.enc --expect-go --exit-after-go\n"
        "  ulvar-sim --serial 2424242 --app-running --fault sector=3:no-answer*2 --pace");
    app.get_formatter()->column_width(34);

    std::string chip = "atmega168";
    SimOptions opt;
    DeviceConfig& dev = opt.device;
    std::string link, imageOut, reportOut, expectPath;
    std::vector<std::string> faultTexts;
    double timeLimitS = 0;
    bool expectGo = false;

    const std::map<std::string, int> chips = {
        {"atmega168", CHIP_ATMEGA168}, {"atmega88", CHIP_ATMEGA88}, {"luminary", CHIP_LUMINARY}};
    app.add_option("--chip", chip, "Sector geometry: atmega168 or luminary (128-byte sectors), "
                                   "atmega88 (64-byte sectors)")
        ->check(CLI::IsMember({"atmega168", "atmega88", "luminary"}))
        ->type_name("CHIP")
        ->capture_default_str();
    app.add_flag("--two-stage", dev.twoStage,
                 "Capture with 'Q' (answer LF q CR) then 'Z' (LF z CR) instead of 'A' (LF : CR)");
    app.add_option("--serial", dev.serial, "The device's 7-character serial for reset frames")
        ->check([](const std::string& s) {
            return s.size() == DEST_LEN ? std::string() : "the serial must have 7 characters";
        })
        ->type_name("SSSSSSS")
        ->capture_default_str();
    app.add_flag("--app-running", dev.appRunning,
                 "Start in the application: ignore everything but a reset frame with this "
                 "serial and a correct CRC");
    app.add_option("--capture-after", dev.captureAfter,
                   "Ignore the first N capture characters after each start (device booting)")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--expect-baud", opt.expectBaud,
                   "Ignore all input while the line is at any other rate")
        ->type_name("BAUD")
        ->check(CLI::PositiveNumber);
    app.add_flag("--pace", opt.pace,
                 "Take 10 bit times per byte in both directions, at the rate the host set");
    app.add_option("--page-write-ms", dev.pageWriteMs,
                   "Milliseconds to write one sector before acknowledging it")
        ->type_name("MS")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--frame-gap-ms", dev.frameGapMs,
                   "A frame interrupted this long is dropped as incomplete")
        ->type_name("MS")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--fault", faultTexts,
                   "Inject a fault; repeatable. TARGET:KIND[=ARG][*COUNT]\n"
                   "TARGET: sector=N | capture=N (N-th character, from 1) | go\n"
                   "KIND: no-answer | garbage[=BYTES] | partial | split[=MS] |\n"
                   "      flood=BYTES | late=MS | vanish\n"
                   "COUNT: attempts hit (default 1), e.g. sector=3:no-answer*5")
        ->type_name("FAULT");
    app.add_option("--time-limit", timeLimitS, "Stop after this many seconds")
        ->type_name("SECONDS")
        ->check(CLI::PositiveNumber);
    app.add_flag("--exit-after-go", opt.exitAfterGo,
                 "Stop once the go frame is answered and the host has closed the port "
                 "(or 2 s later)");
    app.add_option("--link", link, "Also make a symbolic link to the device at PATH (removed at exit)")
        ->type_name("PATH");
    app.add_option("--image-out", imageOut,
                   "Write the image as uploaded (sectors 0..highest; cut to --expect's length)")
        ->type_name("FILE");
    app.add_option("--report", reportOut, "Write a JSON report of everything received")
        ->type_name("FILE");
    app.add_option("--expect", expectPath,
                   "Exit 1 unless the upload holds FILE byte for byte, every sector of it "
                   "and no more")
        ->type_name("FILE");
    app.add_flag("--expect-go", expectGo, "Exit 1 unless a go frame was accepted");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : EXIT_TROUBLE;
    }

    dev.geometry = &GeometryFor(chips.at(chip));
    for (const std::string& text : faultTexts) {
        std::string error;
        const std::optional<Fault> f = ParseFault(text, error);
        if (!f) {
            std::cerr << "ulvar-sim: " << error << "\n";
            return EXIT_TROUBLE;
        }
        dev.faults.push_back(*f);
    }
    opt.timeLimitMs = static_cast<int64_t>(std::ceil(timeLimitS * 1000));

    std::string error;
    std::vector<uint8_t> expected;
    if (!expectPath.empty() && !ReadFile(expectPath, expected, error)) {
        std::cerr << "ulvar-sim: " << error << "\n";
        return EXIT_TROUBLE;
    }

    Simulator sim(opt);
    if (!sim.Open(error) || (!link.empty() && !MakeLink(link, sim.slavePath(), error))) {
        std::cerr << "ulvar-sim: " << error << "\n";
        return EXIT_TROUBLE;
    }
    std::cout << sim.slavePath() << std::endl;
    InstallSignals();

    const std::string reason = sim.Run(g_stop);
    if (!link.empty()) RemoveLink(link, sim.slavePath());

    const Device& d = sim.device();
    const nlohmann::ordered_json summary = d.Report()["summary"];
    std::cerr << "ulvar-sim: " << reason << "; " << summary["sectors_received"]
              << " sectors, " << summary["retries"] << " retries, " << summary["bad_frames"]
              << " bad frames, go " << (d.goAccepted() ? "received" : "not received") << "\n";

    int status = 0;
    if (!imageOut.empty()) {
        const std::vector<uint8_t> image =
            d.Image(expectPath.empty() ? SIZE_MAX : expected.size());
        if (!WriteFile(imageOut, std::string(image.begin(), image.end()))) status = EXIT_TROUBLE;
    }
    if (!reportOut.empty() && !WriteFile(reportOut, sim.Report().dump(2) + "\n"))
        status = EXIT_TROUBLE;

    if (!expectPath.empty() || expectGo) {
        for (const std::string& problem : d.CheckUpload(expected, expectGo)) {
            std::cerr << "ulvar-sim: expectation failed: " << problem << "\n";
            if (status == 0) status = EXIT_MISMATCH;
        }
    }
    return status;
}
