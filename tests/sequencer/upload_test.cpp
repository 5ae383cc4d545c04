// Firmware upload sector by sector, its failures and limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "script_host.h"

namespace {

constexpr char COMPLETE[] = "\r\nFirmware upgrade complete, select the 'G' (go) cmd.";
constexpr char CHANGED[] =
    "\r\nError, the image file changed during the upload; start the upload again";
constexpr char MAXFAIL_LINE[] = "Error, failed Firmware Upgrade with failed >= MAXFAIL\r\n";

Bytes Image(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

void ArmUpload(Rig& r, const Bytes& image, bool luminary = false, bool atmega168 = true) {
    r.host.image = image;
    std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "Reader.enc");
    r.seq.ArmUpgrade(luminary, atmega168);
}

void AckEverything(Rig& r) {
    r.host.device = [](const Bytes&) { return ACK; };
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

TEST(Upload, SendsEverySectorAsAFullFrameAndCompletes) {
    struct Case {
        const char* name;
        bool luminary, atmega168;
        size_t size;
        int chipType, sectorSize, lenByte, crPos, frameLen;
    };
    const Case cases[] = {
        {"AtMega168, short last sector", false, true, 130, 3, 128, 131, 132, 133},
        {"AtMega88", false, false, 130, 2, 64, 67, 68, 69},
        {"LuminaryMicro overrides the AtMega box", true, false, 256, 1, 128, 131, 132, 133},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        AckEverything(r);
        const Bytes image = Image(c.size);
        ArmUpload(r, image, c.luminary, c.atmega168);
        EXPECT_EQ(r.boot.chipType, c.chipType);
        const size_t sectors = (c.size + c.sectorSize - 1) / c.sectorSize;
        EXPECT_EQ(r.RunToEnd(), static_cast<int>(sectors) * 22 + 4);
        ASSERT_EQ(r.host.frames.size(), sectors);
        for (size_t s = 0; s < sectors; ++s) {
            const Bytes& f = r.host.frames[s].bytes;
            ASSERT_EQ(f.size(), static_cast<size_t>(c.frameLen));
            EXPECT_EQ(f[0], 0x0A);
            EXPECT_EQ(f[1], c.lenByte);
            EXPECT_EQ(f[2], 'W');
            EXPECT_EQ(f[3], s);
            EXPECT_EQ(f[c.crPos], 0x0D);
            for (int i = 0; i < c.sectorSize; ++i) {
                const size_t at = s * c.sectorSize + i;
                EXPECT_EQ(f[4 + i], at < c.size ? image[at] : 0xCC) << "sector " << s << " byte " << i;
            }
        }
        EXPECT_EQ(r.Recv(), COMPLETE);
        EXPECT_EQ(r.seq.outcome(), Outcome::UploadComplete);
        EXPECT_EQ(r.seq.progress().sectors, static_cast<int32_t>(sectors));
        EXPECT_EQ(r.host.opens, r.host.closes);
    }
}

TEST(Upload, DebugPaneOfAOneSectorUpload) {
    Rig r;
    AckEverything(r);
    ArmUpload(r, Image(10));
    r.RunToEnd();
    EXPECT_EQ(r.Debug(),
              "Sector 1\r\nLF-!-CR (success)\r\n0A 21 0D \r\nlen = 3\r\nSector 0\r\n"
              "Begin Firmware Upgrade: \r\n");
}

TEST(Upload, AnEmptyImageCompletesAtOnce) {
    Rig r;
    ArmUpload(r, {});
    EXPECT_EQ(r.RunToEnd(), 4);
    EXPECT_TRUE(r.host.frames.empty());
    EXPECT_EQ(r.Recv(), COMPLETE);
}

TEST(Upload, FailuresAndTheirLimit) {
    const Bytes none;
    const Bytes bad = Str("?");
    struct Case {
        const char* name;
        size_t size;
        std::vector<Bytes> answers;
        size_t frames;
        Outcome outcome;
        const char* top;  // newest debug lines
        int32_t retries;
    };
    const Case cases[] = {
        {"an acknowledgement resets the count", 200,
         {none, bad, none, bad, ACK, bad, none, none, bad, ACK}, 10, Outcome::UploadComplete,
         "Sector 2\r\n", 8},
        {"five unanswered frames fail loudly", 100, {none, none, none, none, none}, 5,
         Outcome::UploadFailed, "Error, failed Firmware Upgrade with failed >= MAXFAIL\r\n"
                                "WM_TIMER ERROR\r\nSector 0\r\n", 5},
        {"mixed failures, the fifth answered", 100, {none, bad, none, none, bad}, 5,
         Outcome::UploadFailed, "Error, failed Firmware Upgrade with failed >= MAXFAIL\r\n"
                                "failed\r\n3F \r\nlen = 1\r\nSector 0\r\n", 5},
        {"LF ! without CR is no acknowledgement", 100, std::vector<Bytes>(5, {0x0A, '!'}), 5,
         Outcome::UploadFailed, MAXFAIL_LINE, 5},
        {"the token anywhere acknowledges", 100, {{0x55, 0x0A, '!', 0x0D}}, 1,
         Outcome::UploadComplete, "Sector 1\r\nLF-!-CR (success)\r\n55 0A 21 0D \r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.Answers(c.answers);
        ArmUpload(r, Image(c.size));
        r.RunToEnd();
        EXPECT_EQ(r.host.frames.size(), c.frames);
        EXPECT_EQ(r.seq.outcome(), c.outcome);
        EXPECT_TRUE(StartsWith(r.Debug(), c.top)) << r.Debug().substr(0, 200);
        EXPECT_EQ(r.seq.progress().retries, c.retries);
        EXPECT_EQ(r.Recv() == COMPLETE, c.outcome == Outcome::UploadComplete);
    }
}

TEST(Upload, ALongAnswerEndsTheUploadWithoutCountingAFailure) {
    Rig r;
    r.host.Answers({Bytes(60, '!')});
    ArmUpload(r, Image(100));
    EXPECT_EQ(r.RunToEnd(), 23);
    EXPECT_EQ(r.boot.failed, 0);
    EXPECT_EQ(r.Recv(), "");
    EXPECT_TRUE(StartsWith(r.Debug(), "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) > 50\r\nSector 0\r\n"));
    EXPECT_EQ(r.seq.outcome(), Outcome::AnswerTooLong);
}

TEST(Upload, OneHundredBytesCutTheWaitShort) {
    Bytes flood(100, 0x20);
    flood[10] = 0x0A, flood[11] = '!', flood[12] = 0x0D;
    Rig r;
    r.host.Answers({flood});
    ArmUpload(r, Image(100));
    EXPECT_EQ(r.RunToEnd(), 3);
    EXPECT_EQ(r.seq.outcome(), Outcome::AnswerTooLong);
}

TEST(Upload, AFullImageOf256SectorsCompletes) {
    for (const bool atmega168 : {true, false}) {
        const size_t sectorSize = atmega168 ? 128 : 64;
        SCOPED_TRACE(sectorSize);
        Rig r;
        AckEverything(r);
        ArmUpload(r, Image(256 * sectorSize), false, atmega168);
        EXPECT_EQ(r.RunToEnd(1000000), 256 * 22 + 4);
        ASSERT_EQ(r.host.frames.size(), 256u);
        for (size_t s = 0; s < 256; ++s) EXPECT_EQ(r.host.frames[s].bytes[3], s);
        EXPECT_EQ(r.Recv(), COMPLETE);
        EXPECT_EQ(r.seq.outcome(), Outcome::UploadComplete);
    }
}

TEST(Upload, AnImageOfMoreThan256SectorsIsRefusedBeforeAnyFrame) {
    for (const bool atmega168 : {true, false}) {
        SCOPED_TRACE(atmega168);
        Rig r;
        AckEverything(r);
        ArmUpload(r, Image(256 * (atmega168 ? 128 : 64) + 1), false, atmega168);
        EXPECT_EQ(r.RunToEnd(), 4);
        EXPECT_TRUE(r.host.frames.empty());
        EXPECT_EQ(r.Recv(), "\r\nError, the image has more than 256 sectors");
        EXPECT_EQ(r.Debug(), "Sector 0\r\nBegin Firmware Upgrade: \r\n");
        EXPECT_EQ(r.seq.outcome(), Outcome::ImageTooLarge);
    }
}

TEST(Upload, AnImageThatChangesBetweenSectorsEndsTheUpload) {
    struct Case {
        const char* name;
        void (*change)(ScriptHost&);
    };
    const Case cases[] = {
        {"grows", [](ScriptHost& h) { h.image.push_back(0); }},
        {"truncated to the part already sent", [](ScriptHost& h) { h.image.resize(128); }},
        {"rewritten in place", [](ScriptHost& h) { h.stamp.mtime += 1; }},
        {"replaced by another file", [](ScriptHost& h) { h.stamp.inode += 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        AckEverything(r);
        r.host.afterWrite = [&r, &c](size_t written) {
            if (written == 1) c.change(r.host);
        };
        ArmUpload(r, Image(300));
        r.RunToEnd();
        EXPECT_EQ(r.host.frames.size(), 1u);
        EXPECT_EQ(r.Recv(), CHANGED);
        EXPECT_TRUE(StartsWith(r.Debug(), "Sector 1\r\n"));
        EXPECT_EQ(r.seq.outcome(), Outcome::ImageChanged);
        EXPECT_EQ(r.host.opens, r.host.closes);
    }
}

TEST(Upload, FileErrorsEndTheUploadWithTheirMessage) {
    struct Case {
        const char* name;
        void (*fault)(ScriptHost&);
        const char* recv;
        const char* debugTop;
    };
    const Case cases[] = {
        {"open fails", [](ScriptHost& h) { h.openFails = true; },
         "\r\nError, failed to open the Reader.enc File, Ln 446", "Sector 0\r\n"},
        {"size unknown", [](ScriptHost& h) { h.sizeFails = true; },
         "\r\nError, lseek function failed", "Sector 0\r\n"},
        {"seek fails", [](ScriptHost& h) { h.seekFails = true; },
         "\r\nError, lseek function failed", "Sector 0\r\n"},
        {"short read", [](ScriptHost& h) { h.readShort = true; },
         "\r\nError, Read function failed", "\r\nError, Read function failed\r\nSector 0\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        AckEverything(r);
        c.fault(r.host);
        ArmUpload(r, Image(300));
        EXPECT_EQ(r.RunToEnd(), 4);
        EXPECT_TRUE(r.host.frames.empty());
        EXPECT_EQ(r.Recv(), c.recv);
        EXPECT_TRUE(StartsWith(r.Debug(), c.debugTop));
        EXPECT_EQ(r.seq.outcome(), Outcome::FileError);
        EXPECT_EQ(r.host.opens, r.host.closes);
    }
}

// The default reads on the run-time's descriptor calls, with a real file.
class RealFile : public ::testing::Test {
protected:
    // One folder per test and process: the test builds run side by side.
    std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) /
        ("sequencer_upload_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
         "_" + std::to_string(getpid()));
    std::filesystem::path path = dir / "fw.enc";

    void SetUp() override {
        std::filesystem::create_directories(dir);
        Write(path, Image(300));
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static void Write(const std::filesystem::path& p, const Bytes& b) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }

    void Arm(Rig& r) {
        r.host.realFile = true;
        std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "%s", path.string().c_str());
        r.seq.ArmUpgrade(false, true);
    }
};

TEST_F(RealFile, UploadsTheFileByteForByte) {
    Rig r;
    AckEverything(r);
    Arm(r);
    r.RunToEnd();
    ASSERT_EQ(r.host.frames.size(), 3u);
    Bytes sent;
    for (const Frame& f : r.host.frames) sent.insert(sent.end(), f.bytes.begin() + 4, f.bytes.begin() + 132);
    sent.resize(300);
    EXPECT_EQ(sent, Image(300));
    EXPECT_EQ(r.seq.outcome(), Outcome::UploadComplete);
}

TEST_F(RealFile, ReplacingTheFileBetweenSectorsIsSeen) {
    Rig r;
    AckEverything(r);
    r.host.afterWrite = [this](size_t written) {
        if (written != 1) return;
        Bytes other = Image(300);
        other[200] ^= 0xFF;
        Write(dir / "new.enc", other);
        std::filesystem::rename(dir / "new.enc", path);
    };
    Arm(r);
    r.RunToEnd();
    EXPECT_EQ(r.host.frames.size(), 1u);
    EXPECT_EQ(r.Recv(), CHANGED);
    EXPECT_EQ(r.seq.outcome(), Outcome::ImageChanged);
}

TEST(Go, ArmsAndWritesTheGoFrame) {
    Rig r;
    r.host.Answers({LF_COLON_CR});
    r.seq.ArmGo();
    EXPECT_EQ(r.boot.command, BTN_GO);
    EXPECT_EQ(r.host.issued, std::vector<int>{BTN_SEND});
    EXPECT_EQ(r.RunToEnd(), 23);
    ASSERT_EQ(r.host.frames.size(), 1u);
    EXPECT_EQ(r.host.frames[0].bytes, (Bytes{0x0A, 0x02, 0x47, 0x0D}));
    EXPECT_EQ(r.seq.outcome(), Outcome::GoDone);
}

}  // namespace
