// The device core and the fault syntax, without a pseudo-terminal.
#include "tests/sim/sim_fixture.h"

namespace {

struct ParseCase {
    std::string text;
    bool ok;
    FaultTarget target;
    int number;
    FaultKind kind;
    int arg;
    int count;
};

TEST(SimFaultSyntax, ParsesEveryFormAndRejectsTheRest) {
    const ParseCase cases[] = {
        {"sector=3:no-answer", true, FaultTarget::Sector, 3, FaultKind::NoAnswer, 0, 1},
        {"sector=3:no-answer*5", true, FaultTarget::Sector, 3, FaultKind::NoAnswer, 0, 5},
        {"capture=2:garbage", true, FaultTarget::Capture, 2, FaultKind::Garbage, 3, 1},
        {"sector=1:partial", true, FaultTarget::Sector, 1, FaultKind::Partial, 0, 1},
        {"sector=2:split", true, FaultTarget::Sector, 2, FaultKind::Split, 30, 1},
        {"sector=4:flood=300*2", true, FaultTarget::Sector, 4, FaultKind::Flood, 300, 2},
        {"sector=5:late=500", true, FaultTarget::Sector, 5, FaultKind::Late, 500, 1},
        {"sector=6:vanish", true, FaultTarget::Sector, 6, FaultKind::Vanish, 0, 1},
        {"go:no-answer", true, FaultTarget::Go, 0, FaultKind::NoAnswer, 0, 1},
        {"sector=3", false, {}, 0, {}, 0, 0},
        {"sector=256:no-answer", false, {}, 0, {}, 0, 0},
        {"capture=0:garbage", false, {}, 0, {}, 0, 0},
        {"sector=x:no-answer", false, {}, 0, {}, 0, 0},
        {"sector=1:explode", false, {}, 0, {}, 0, 0},
        {"sector=1:flood", false, {}, 0, {}, 0, 0},
        {"sector=1:vanish=3", false, {}, 0, {}, 0, 0},
        {"sector=1:late=-5", false, {}, 0, {}, 0, 0},
        {"sector=1:no-answer*0", false, {}, 0, {}, 0, 0},
    };
    for (const ParseCase& c : cases) {
        std::string error;
        const std::optional<Fault> f = ParseFault(c.text, error);
        ASSERT_EQ(f.has_value(), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(f->target, c.target) << c.text;
        EXPECT_EQ(f->number, c.number) << c.text;
        EXPECT_EQ(f->kind, c.kind) << c.text;
        EXPECT_EQ(f->arg, c.arg) << c.text;
        EXPECT_EQ(f->count, c.count) << c.text;
    }
}

TEST(SimFaultSyntax, NoiseNeverHoldsAToken) {
    EXPECT_EQ(NoiseBytes(300).find('\x0A'), std::string::npos);
}

class SimDevice : public testing::Test {
protected:
    void Send(const std::string& bytes, int64_t tMs = 0) {
        for (char c : bytes) dev.Feed(static_cast<uint8_t>(c), tMs, LineSettings{38400});
    }
    std::string Answers() {
        std::string s;
        for (const Chunk& c : dev.TakeOutput()) s += c.bytes;
        return s;
    }
    Device dev{DeviceConfig{}};
};

TEST_F(SimDevice, DropsAFrameInterruptedByAQuietLine) {
    Send("A");
    const std::string frame = WriteFrameOf(GeometryFor(CHIP_ATMEGA168), 0, SectorData(128, 0));
    Send(frame.substr(0, 60), 10);
    Send(frame, 500);  // the host resends after its wait
    EXPECT_EQ(Answers(), Tok(TOKEN_CAPTURED) + Tok(TOKEN_SECTOR_OK));
    const Json r = dev.Report();
    EXPECT_EQ(r["summary"]["bad_frames"], 1);
    EXPECT_EQ(EventsOf(r, "bad-frame")[0]["bytes"], 60);
}

TEST_F(SimDevice, JunkBetweenFramesIsCountedOnce) {
    Send("\x01\x02\x03" "A" "\xFF");
    EXPECT_EQ(Answers(), Tok(TOKEN_CAPTURED));
    const Json r = dev.Report();
    EXPECT_EQ(r["summary"]["junk_bytes"], 4);
    EXPECT_EQ(EventsOf(r, "junk").size(), 2u);
}

TEST_F(SimDevice, ReportStaysValidJsonWhateverAResetFrameHolds) {
    // Any seven characters of the destination field go out as the serial.
    Send(ResetFrameFor("\xC7\xCF" "12345"));
    std::string badCrc = ResetFrameFor("0000000");
    badCrc.replace(14, 4, "\xFF\x80\x01Z");
    Send(badCrc);
    const Json r = dev.Report();
    EXPECT_EQ(r["summary"]["resets"]["wrong_serial"], 1);
    EXPECT_EQ(r["summary"]["resets"]["bad_crc"], 1);
    const std::vector<Json> resets = EventsOf(r, "reset");
    ASSERT_EQ(resets.size(), 2u);
    EXPECT_EQ(resets[0]["serial"], "\\xC7\\xCF12345");
    EXPECT_EQ(resets[1]["reason"].get<std::string>().rfind("bad CRC \\xFF\\x80\\x01Z, expected ", 0), 0u);
    std::string text;
    ASSERT_NO_THROW(text = r.dump(2));
    EXPECT_EQ(Json::parse(text), r);
}

TEST_F(SimDevice, ResentSectorOverwritesAndCountsAsRetry) {
    const SectorGeometry& g = GeometryFor(CHIP_ATMEGA168);
    Send("A");
    Send(WriteFrameOf(g, 0, SectorData(128, 0)));
    Send(WriteFrameOf(g, 0, SectorData(128, 9)));  // the ack was lost and the image changed
    EXPECT_EQ(Answers(), Tok(TOKEN_CAPTURED) + Tok(TOKEN_SECTOR_OK) + Tok(TOKEN_SECTOR_OK));
    const std::vector<uint8_t> image = dev.Image();
    EXPECT_EQ(std::string(image.begin(), image.end()), SectorData(128, 9));
    const Json w = EventsOf(dev.Report(), "write")[1];
    EXPECT_TRUE(w["retry"].get<bool>());
    EXPECT_TRUE(w["changed"].get<bool>());
}

struct CheckCase {
    const char* name;
    std::vector<int> sectorsSent;  // each with SectorData(64, sector)
    size_t expectedLen;            // prefix of the three-sector reference image
    int flipByte;                  // -1: none
    bool expectGo;
    std::string problem;           // start of the first problem; empty: a match
};

TEST(SimCheckUpload, ComparesOnlyTheFileAndNeedsEverySector) {
    const SectorGeometry& g = GeometryFor(CHIP_ATMEGA88);
    const std::string reference = SectorData(64, 0) + SectorData(64, 1) + SectorData(64, 2);
    const CheckCase cases[] = {
        {"whole", {0, 1, 2}, 192, -1, false, ""},
        {"shortLastSector", {0, 1, 2}, 130, -1, false, ""},
        {"emptyFile", {}, 0, -1, false, ""},
        {"missingSector", {0, 1}, 192, -1, false, "1 of 3 sectors not received: 2"},
        {"extraSector", {0, 1, 2}, 128, -1, false, "sectors beyond the image"},
        {"changedByte", {0, 1, 2}, 192, 100, false, "byte 100 (sector 1)"},
        {"noGo", {0, 1, 2}, 192, -1, true, "no go frame received"},
    };
    for (const CheckCase& c : cases) {
        DeviceConfig cfg;
        cfg.geometry = &g;
        Device dev(cfg);
        dev.Feed('A', 0, {});
        for (int s : c.sectorsSent) {
            const std::string f = WriteFrameOf(g, static_cast<uint8_t>(s), SectorData(64, s));
            for (char b : f) dev.Feed(static_cast<uint8_t>(b), 0, {});
        }
        std::vector<uint8_t> expected(reference.begin(),
                                      reference.begin() + static_cast<long>(c.expectedLen));
        if (c.flipByte >= 0) expected[static_cast<size_t>(c.flipByte)] ^= 0xFF;
        const std::vector<std::string> problems = dev.CheckUpload(expected, c.expectGo);
        if (c.problem.empty()) {
            EXPECT_TRUE(problems.empty()) << c.name << ": " << (problems.empty() ? "" : problems[0]);
        } else {
            ASSERT_FALSE(problems.empty()) << c.name;
            EXPECT_EQ(problems[0].rfind(c.problem, 0), 0u) << c.name << ": " << problems[0];
        }
    }
}

}  // namespace
