// The simulated device driven through its pseudo-terminal, as a host sees it.
#include <pthread.h>
#include <time.h>

#include <chrono>

#include "tests/sim/host_port.h"
#include "tests/sim/sim_fixture.h"

namespace {

using namespace std::chrono_literals;

const std::string CAPTURED = Tok(TOKEN_CAPTURED);
const std::string ACK = Tok(TOKEN_SECTOR_OK);
const SectorGeometry& G168 = GeometryFor(CHIP_ATMEGA168);

struct CaptureCase {
    const char* name;
    bool twoStage;
    int captureAfter;
    std::string sent;
    std::string answers;  // everything the host receives, in order
};
void PrintTo(const CaptureCase& c, std::ostream* os) { *os << c.name; }


class SimCapture : public testing::TestWithParam<CaptureCase> {};

TEST_P(SimCapture, AnswersOnlyItsOwnDialogue) {
    const CaptureCase& c = GetParam();
    SimOptions o;
    o.device.twoStage = c.twoStage;
    o.device.captureAfter = c.captureAfter;
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write(c.sent);
    EXPECT_EQ(host.Read(c.answers.size()), c.answers);
    const Json r = sim.Stop();
    EXPECT_EQ(r["summary"]["capture_chars"], c.sent.size());
    EXPECT_TRUE(r["summary"]["captured"].get<bool>());
}

INSTANTIATE_TEST_SUITE_P(
    Dialogues, SimCapture,
    testing::Values(
        CaptureCase{"OneStage", false, 0, "A", CAPTURED},
        CaptureCase{"OneStageIgnoresQZ", false, 0, "QZA", CAPTURED},
        CaptureCase{"TwoStage", true, 0, "QZ", Tok(TOKEN_FIRST_STAGE) + Tok(TOKEN_SECOND_STAGE)},
        CaptureCase{"TwoStageIgnoresAAndEarlyZ", true, 0, "AZQZ",
                    Tok(TOKEN_FIRST_STAGE) + Tok(TOKEN_SECOND_STAGE)},
        CaptureCase{"CaptureAfterThree", false, 3, "AAAA", CAPTURED}),
    [](const testing::TestParamInfo<CaptureCase>& i) { return i.param.name; });

struct ResetCase {
    const char* name;
    std::string frame;
    bool restarts;
    const char* counter;
};
void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }


class SimReset : public testing::TestWithParam<ResetCase> {};

TEST_P(SimReset, OnlyItsOwnSerialWithCorrectCrcRestartsTheDevice) {
    const ResetCase& c = GetParam();
    SimOptions o;
    o.device.serial = "1234567";
    o.device.appRunning = true;
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    // The good reset and 'A' at the end are answered in any case; anything the
    // first frame or 'A' drew would arrive before that answer.
    host.Write(c.frame + "A" + ResetFrameFor("1234567") + "A");
    const std::string want = c.restarts ? CAPTURED + CAPTURED : CAPTURED;
    EXPECT_EQ(host.Read(want.size()), want);
    const Json r = sim.Stop();
    EXPECT_EQ(r["summary"]["resets"][c.counter], c.restarts ? 2 : 1);
    EXPECT_EQ(r["summary"]["resets"]["good"], c.restarts ? 2 : 1);
}

std::string BadCrcFrame() {
    std::string f = ResetFrameFor("1234567");
    f[15] = f[15] == '0' ? '2' : '0';
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimReset,
    testing::Values(ResetCase{"OwnSerial", ResetFrameFor("1234567"), true, "good"},
                    ResetCase{"OtherSerial", ResetFrameFor("7654321"), false, "wrong_serial"},
                    ResetCase{"BadCrc", BadCrcFrame(), false, "bad_crc"}),
    [](const testing::TestParamInfo<ResetCase>& i) { return i.param.name; });

class SimUpload : public testing::TestWithParam<int> {};

TEST_P(SimUpload, StoresAcknowledgedSectorsInOrder) {
    const SectorGeometry& g = GeometryFor(GetParam());
    SimOptions o;
    o.device.geometry = &g;
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);

    const size_t size = static_cast<size_t>(g.sectorSize);
    const std::string image = SectorData(size, 1) + SectorData(size, 2) + "\x0A\x0D";
    for (uint8_t s = 0; s < 3; ++s) {
        host.Write(WriteFrameOf(g, s, image.substr(s * size, size)));
        ASSERT_EQ(host.Read(3), ACK) << "sector " << int{s};
    }
    const Json r = sim.Stop();
    const std::vector<uint8_t> got = sim.device().Image(image.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), image);
    EXPECT_TRUE(sim.device().CheckUpload({image.begin(), image.end()}, false).empty());
    EXPECT_EQ(r["summary"]["sectors_received"], 3);
    EXPECT_EQ(EventsOf(r, "write")[2]["bytes"], g.frameLen);
}

INSTANTIATE_TEST_SUITE_P(Geometries, SimUpload, testing::Values(CHIP_ATMEGA168, CHIP_ATMEGA88),
                         [](const testing::TestParamInfo<int>& i) {
                             return std::string(GeometryFor(i.param).name);
                         });

struct BadFrameCase {
    const char* name;
    std::string frame;
    const char* reason;
};
void PrintTo(const BadFrameCase& c, std::ostream* os) { *os << c.name; }


class SimBadFrame : public testing::TestWithParam<BadFrameCase> {};

TEST_P(SimBadFrame, IsNotAcknowledgedAndTheNextGoodOneIs) {
    const BadFrameCase& c = GetParam();
    SimThread sim(SimOptions{});
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);
    host.Write(WriteFrameOf(G168, 0, SectorData(128, 0)));
    ASSERT_EQ(host.Read(3), ACK);

    host.Write(c.frame + WriteFrameOf(G168, 1, SectorData(128, 1)));
    EXPECT_EQ(host.Read(3), ACK);
    const Json r = sim.Stop();
    EXPECT_EQ(r["summary"]["bad_frames"], 1);
    EXPECT_EQ(r["summary"]["sectors_received"], 2);
    bool found = false;
    for (const Json& e : r["events"])
        if (e.contains("reason") && e["reason"].get<std::string>().find(c.reason) == 0) found = true;
    EXPECT_TRUE(found) << r["events"].dump(1);
}

std::string WithoutCr() {
    std::string f = WriteFrameOf(G168, 1, SectorData(128, 1));
    f.back() = 0x00;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimBadFrame,
    testing::Values(
        BadFrameCase{"OtherGeometry", WriteFrameOf(GeometryFor(CHIP_ATMEGA88), 1, SectorData(64, 1)),
                     "length byte 0x43, expected 0x83"},
        BadFrameCase{"NoCr", WithoutCr(), "no CR at 132"},
        BadFrameCase{"SectorSkipped", WriteFrameOf(G168, 2, SectorData(128, 2)),
                     "sector 2 out of order, expected 1"},
        BadFrameCase{"GoWithoutCr", std::string("\x0A\x02G\x00", 4), "no CR at 3"}),
    [](const testing::TestParamInfo<BadFrameCase>& i) { return i.param.name; });

TEST(SimUploadState, WriteBeforeCaptureIsRefused) {
    SimThread sim(SimOptions{});
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write(WriteFrameOf(G168, 0, SectorData(128, 0)) + "A" +
               WriteFrameOf(G168, 0, SectorData(128, 0)));
    EXPECT_EQ(host.Read(6), CAPTURED + ACK);
    const std::vector<Json> writes = EventsOf(sim.Stop(), "write");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0]["reason"], "not captured");
    EXPECT_TRUE(writes[1]["accepted"].get<bool>());
}

TEST(SimUploadState, GoStartsTheApplication) {
    SimThread sim(SimOptions{});
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    // The go before the capture is refused; after the go 'A' is no longer answered.
    host.Write(GoFrame() + "A" + GoFrame() + "A" + ResetFrameFor(DEFAULT_DEST) + "A");
    const std::string want = CAPTURED + GO_ANSWER + CAPTURED;
    EXPECT_EQ(host.Read(want.size()), want);
    const Json r = sim.Stop();
    EXPECT_TRUE(r["summary"]["go_received"].get<bool>());
    const std::vector<Json> gos = EventsOf(r, "go");
    ASSERT_EQ(gos.size(), 2u);
    EXPECT_EQ(gos[0]["reason"], "not captured");
    EXPECT_EQ(EventsOf(r, "capture")[1]["reason"], "application running");
}

struct FaultCase {
    const char* name;
    std::string fault;
    std::string firstAnswer;  // what each faulty attempt draws
    int faultyAttempts;
    int minMs;                // the faulty answer comes no sooner
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }


class SimFaultOnSector : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaultOnSector, HitsTheFirstAttemptsAndTheRetryIsAcknowledged) {
    const FaultCase& c = GetParam();
    std::string error;
    SimOptions o;
    o.device.faults.push_back(*ParseFault(c.fault, error));
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);
    host.Write(WriteFrameOf(G168, 0, SectorData(128, 0)));
    ASSERT_EQ(host.Read(3), ACK);

    const std::string frame = WriteFrameOf(G168, 1, SectorData(128, 1));
    for (int attempt = 0; attempt < c.faultyAttempts; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        host.Write(frame);
        EXPECT_EQ(host.Read(c.firstAnswer.size()), c.firstAnswer);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.minMs));
    }
    host.Write(frame);
    EXPECT_EQ(host.Read(3), ACK);

    const Json r = sim.Stop();
    EXPECT_EQ(r["faults_applied"].size(), static_cast<size_t>(c.faultyAttempts));
    EXPECT_EQ(r["summary"]["retries"], c.faultyAttempts);
    EXPECT_EQ(r["summary"]["sectors_received"], 2);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SimFaultOnSector,
    testing::Values(FaultCase{"NoAnswer", "sector=1:no-answer", "", 1, 0},
                    FaultCase{"NoAnswerThrice", "sector=1:no-answer*3", "", 3, 0},
                    FaultCase{"Garbage", "sector=1:garbage", NoiseBytes(3), 1, 0},
                    FaultCase{"Partial", "sector=1:partial", "\x0A!", 1, 0},
                    FaultCase{"Split", "sector=1:split=200", ACK, 1, 200},
                    FaultCase{"Flood", "sector=1:flood=300", NoiseBytes(300), 1, 0},
                    FaultCase{"Late", "sector=1:late=300", ACK, 1, 300}),
    [](const testing::TestParamInfo<FaultCase>& i) { return i.param.name; });

TEST(SimFault, CaptureAndGoFaults) {
    std::string error;
    SimOptions o;
    o.device.faults = {*ParseFault("capture=2:garbage=4", error), *ParseFault("go:no-answer", error)};
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("AA");
    EXPECT_EQ(host.Read(7), CAPTURED + NoiseBytes(4));
    // The silent go is still taken: the device runs its application, and the
    // reset after it draws nothing either.
    host.Write(GoFrame() + ResetFrameFor(DEFAULT_DEST) + "A");
    EXPECT_EQ(host.Read(3), CAPTURED);
    const Json r = sim.Stop();
    EXPECT_TRUE(r["summary"]["go_received"].get<bool>());
    EXPECT_EQ(r["faults_applied"].size(), 2u);
}

TEST(SimFault, VanishHangsUpTheHost) {
    std::string error;
    SimOptions o;
    o.device.faults.push_back(*ParseFault("sector=0:vanish", error));
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);
    host.Write(WriteFrameOf(G168, 0, SectorData(128, 0)));
    EXPECT_TRUE(host.WaitHangup());
    sim.thread().join();  // it ends by itself
    EXPECT_EQ(sim.reason(), "device vanished");
    EXPECT_TRUE(sim.Stop()["summary"]["vanished"].get<bool>());
}

TEST(SimLine, RecordsTheRateOfEveryFrameAcrossReopens) {
    SimThread sim(SimOptions{});
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 56000));
    host.Write(ResetFrameFor(DEFAULT_DEST));
    ASSERT_TRUE(WaitFor([&] { return sim.sim().bytesRead() == RESET_FRAME_LEN; }));
    host.Close();
    ASSERT_TRUE(WaitFor([&] { return sim.sim().hostCloses() == 1; }));
    ASSERT_TRUE(host.Open(sim.path(), 38400));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);

    const Json r = sim.Stop();
    std::vector<std::string> seen;
    for (const Json& e : r["events"]) {
        const std::string kind = e["kind"];
        if (kind == "reset" || kind == "capture")
            seen.push_back(kind + "@" + std::to_string(e["baud"].get<int>()));
        else if (kind == "host-open" || kind == "host-close")
            seen.push_back(kind);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"host-open", "reset@56000", "host-close",
                                              "host-open", "capture@38400"}));
    EXPECT_EQ(r["summary"]["rates_seen"], Json::array({56000, 38400}));
    EXPECT_EQ(EventsOf(r, "reset")[0]["line"], "56000 8N1");
}

TEST(SimLine, ExpectBaudIgnoresOtherRates) {
    SimOptions o;
    o.expectBaud = 38400;
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 57600));
    host.Write("A");
    ASSERT_TRUE(WaitFor([&] { return sim.sim().bytesRead() == 1; }));
    ASSERT_TRUE(host.SetRate(38400));
    host.Write("A");
    EXPECT_EQ(host.Read(3), CAPTURED);
    const Json r = sim.Stop();
    EXPECT_EQ(r["summary"]["capture_chars"], 1);
    EXPECT_EQ(r["summary"]["ignored_bytes_wrong_rate"], 1);
}

TEST(SimLine, IdlesQuietlyWhileNobodyHasThePort) {
    SimThread sim(SimOptions{});
    clockid_t cpu;
    ASSERT_EQ(pthread_getcpuclockid(sim.thread().native_handle(), &cpu), 0);
    auto cpuMs = [cpu] {
        timespec ts{};
        clock_gettime(cpu, &ts);
        return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    const double before = cpuMs();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(cpuMs() - before, 150.0);  // a spinning loop would burn all 500 ms
    EXPECT_EQ(sim.Stop()["summary"]["host_opens"], 0);
}

TEST(SimLine, PacingTakesTheLineTime) {
    SimOptions o;
    o.pace = true;
    o.device.pageWriteMs = 40;
    SimThread sim(o);
    HostPort host;
    ASSERT_TRUE(host.Open(sim.path(), 9600));
    host.Write("A");
    ASSERT_EQ(host.Read(3), CAPTURED);
    const auto start = std::chrono::steady_clock::now();
    host.Write(WriteFrameOf(G168, 0, SectorData(128, 0)));
    ASSERT_EQ(host.Read(3), ACK);
    // 133 + 3 bytes at 9600 baud (1.04 ms each) and the page write.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 136 * 1000us + 40ms);
}

}  // namespace
