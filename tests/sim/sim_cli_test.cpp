// The ulvar-sim program itself: its first line, link, files and exit status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/sim/host_port.h"
#include "tests/sim/sim_fixture.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "ulvar_sim_" + std::to_string(getpid()) + "_" + name;
}

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) : stderrPath_(TempPath("stderr")) {
        args.insert(args.begin(), ULVAR_SIM_BIN);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, stderrPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, ULVAR_SIM_BIN, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        stdout_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) close(stdout_);
        unlink(stderrPath_.c_str());
    }

    std::string FirstLine() {
        std::string line;
        char c;
        pollfd p{stdout_, POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(stdout_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    // The exit status, or -1 when the program has not ended in time.
    int Wait(std::chrono::seconds timeout = 20s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    void Terminate() { kill(pid_, SIGTERM); }
    std::string Stderr() const { return Slurp(stderrPath_); }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string stderrPath_;
};

// Captures and uploads `image` with 64-byte sectors through the port at `path`.
void Upload(HostPort& host, const std::string& image) {
    const SectorGeometry& g = GeometryFor(CHIP_ATMEGA88);
    host.Write("A");
    ASSERT_EQ(host.Read(3), Tok(TOKEN_CAPTURED));
    for (size_t off = 0, s = 0; off < image.size(); off += 64, ++s) {
        host.Write(WriteFrameOf(g, static_cast<uint8_t>(s), image.substr(off, 64)));
        ASSERT_EQ(host.Read(3), Tok(TOKEN_SECTOR_OK)) << "sector " << s;
    }
}

TEST(SimCli, FullUploadEndsAfterGoWithTheImageAndReport) {
    const std::string link = TempPath("com1"), report = TempPath("report.json"),
                      imageOut = TempPath("image.out"), expect = TempPath("image.enc");
    const std::string image = SectorData(64, 1) + SectorData(64, 2) + "\x0A\x0D";
    Spit(expect, image);
    SimProcess sim({"--chip", "atmega88", "--link", link, "--report", report, "--image-out",
                    imageOut, "--expect", expect, "--expect-go", "--exit-after-go",
                    "--time-limit", "20"});
    const std::string path = sim.FirstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    HostPort host;
    ASSERT_TRUE(host.Open(link, 38400));
    Upload(host, image);
    host.Write(GoFrame());
    EXPECT_EQ(host.Read(3), GO_ANSWER);
    host.Close();

    EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
    EXPECT_EQ(Slurp(imageOut), image);
    const Json r = Json::parse(Slurp(report));
    EXPECT_EQ(r["stop_reason"], "go received");
    EXPECT_EQ(r["summary"]["sectors_received"], 3);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlives the device";
    for (const std::string& f : {report, imageOut, expect}) unlink(f.c_str());
}

TEST(SimCli, MismatchedUploadExitsOneAndSaysWhy) {
    const std::string expect = TempPath("expected.enc");
    std::string image = SectorData(64, 1) + SectorData(64, 2);
    Spit(expect, image);
    image[70] ^= 0x01;
    SimProcess sim({"--chip", "atmega88", "--expect", expect, "--time-limit", "20"});
    HostPort host;
    ASSERT_TRUE(host.Open(sim.FirstLine(), 38400));
    Upload(host, image);
    sim.Terminate();
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_NE(sim.Stderr().find("expectation failed: byte 70 (sector 1)"), std::string::npos)
        << sim.Stderr();
    unlink(expect.c_str());
}

TEST(SimCli, BadOptionsExitTwoWithAReason) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--fault", "sector=1:explode"}, "kind must be"},
        {{"--serial", "123"}, "7 characters"},
        {{"--chip", "pic16"}, "--chip"},
        {{"--expect", "/nonexistent/image.enc"}, "cannot read /nonexistent/image.enc"},
    };
    for (const auto& c : cases) {
        SimProcess sim(c.args);
        EXPECT_EQ(sim.Wait(), 2) << c.args[0];
        EXPECT_NE(sim.Stderr().find(c.says), std::string::npos) << sim.Stderr();
    }
}

}  // namespace
