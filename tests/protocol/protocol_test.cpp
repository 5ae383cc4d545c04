#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list) v.push_back(static_cast<uint8_t>(b));
    return v;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct CrcCase {
    const char* text;
    uint16_t crc;
};

class CrcTest : public ::testing::TestWithParam<CrcCase> {};

TEST_P(CrcTest, MatchesKnownValueAndEndsInZeroAndEvenDigit) {
    const CrcCase& c = GetParam();
    const uint16_t crc = Crc16(c.text, static_cast<int32_t>(std::strlen(c.text)));
    EXPECT_EQ(crc, c.crc);
    EXPECT_EQ(crc & 0x1F, 0) << "the five lowest bits of every result are 0";
}

INSTANTIATE_TEST_SUITE_P(Vectors, CrcTest,
                         ::testing::Values(CrcCase{"0000000022143", 0xDBE0},
                                           CrcCase{"2424242022143", 0x5580},
                                           CrcCase{"8012345022143", 0x4580},
                                           CrcCase{"abc", 0x9EE0},
                                           CrcCase{"123456789", 0x47E0},
                                           CrcCase{"", 0x0000}));

TEST(Crc16, NegativeLengthGivesZero) { EXPECT_EQ(Crc16("abc", -1), 0); }

struct ResetCase {
    const char* field;  // the destination field's text
    const char* text;   // the 17-character command
};

class ResetFrameTest : public ::testing::TestWithParam<ResetCase> {};

TEST_P(ResetFrameTest, FrameIsLfCommandCr) {
    const ResetCase& c = GetParam();
    uint8_t pktBuf[PKTBUF_SIZE];
    std::memset(pktBuf, 0xEE, sizeof pktBuf);
    char szResetCmd[200] = {};
    ASSERT_EQ(BuildResetFrame(pktBuf, szResetCmd, c.field), RESET_FRAME_LEN);
    EXPECT_STREQ(szResetCmd, c.text);

    std::vector<uint8_t> expected{0x0A};
    for (const char* p = c.text; *p; ++p) expected.push_back(static_cast<uint8_t>(*p));
    expected.push_back(0x0D);
    EXPECT_EQ(std::vector<uint8_t>(pktBuf, pktBuf + RESET_FRAME_LEN), expected);
    EXPECT_EQ(pktBuf[RESET_FRAME_LEN], 0xEE) << "no terminator is written";
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, ResetFrameTest,
    ::testing::Values(ResetCase{"0000000", "0000000022143DBE0"},
                      ResetCase{"2424242", "2424242022143" "5580"},
                      ResetCase{"8012345", "8012345022143" "4580"},
                      ResetCase{"", "0000000022143DBE0"},
                      ResetCase{"123456", "0000000022143DBE0"},
                      ResetCase{"12345678", "0000000022143DBE0"},
                      ResetCase{nullptr, "0000000022143DBE0"}));

TEST(ResetFrame, DefaultDestinationBytesExactly) {
    uint8_t pktBuf[PKTBUF_SIZE];
    char szResetCmd[200];
    BuildResetFrame(pktBuf, szResetCmd, "0000000");
    EXPECT_EQ(std::vector<uint8_t>(pktBuf, pktBuf + RESET_FRAME_LEN),
              Bytes({0x0A, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32, 0x32, 0x31, 0x34,
                     0x33, 0x44, 0x42, 0x45, 0x30, 0x0D}));
}

TEST(ResetFrame, SevenCharactersAreTakenAsTypedIntoTextAndCrc) {
    char szResetCmd[200];
    uint8_t pktBuf[PKTBUF_SIZE];
    BuildResetFrame(pktBuf, szResetCmd, "AB  xyz");
    const std::string body = "AB  xyz022143";
    EXPECT_EQ(std::string(szResetCmd, 13), body);
    char crc[8];
    AppendCrcHex(crc, 0, Crc16(body.data(), 13));
    EXPECT_STREQ(szResetCmd + 13, crc);
}

TEST(FinishResetCommand, LeavesTheFinishedTextInBothBuffers) {
    char text[32] = "00000000221";
    char dst[32] = "garbage";
    FinishResetCommand(dst, text);
    EXPECT_STREQ(text, "0000000022143DBE0");
    EXPECT_STREQ(dst, "0000000022143DBE0");
}

TEST(AppendCrcHex, OverwritesFromLenAndTerminates) {
    char text[16] = "ABCDEFGHIJ";
    EXPECT_EQ(AppendCrcHex(text, 3, 0x0A5F), 7);
    EXPECT_STREQ(text, "ABC0A5F");
}

TEST(HexEncode, WithSpacesEachByteEndsInASpace) {
    char dst[16];
    const auto src = Bytes({0x0A, 0x3A, 0x0D});
    EXPECT_EQ(HexEncode(dst, src.data(), 3, 0), 9);
    EXPECT_STREQ(dst, "0A 3A 0D ");
}

TEST(HexEncode, WithoutSpacesUppercaseDigits) {
    char dst[16];
    const auto src = Bytes({0x00, 0xFF, 0x10, 0xab});
    EXPECT_EQ(HexEncode(dst, src.data(), 4, 1), 8);
    EXPECT_STREQ(dst, "00FF10AB");
}

TEST(HexEncode, NulFollowsEveryByteAndNextByteOverwritesIt) {
    char dst[16];
    std::memset(dst, 'x', sizeof dst);
    const auto src = Bytes({0x12, 0x34});
    HexEncode(dst, src.data(), 2, 1);
    EXPECT_EQ(std::string(dst, 6), std::string("1234\0x", 6));
}

TEST(HexEncode, CountZeroWritesNothing) {
    char dst[4] = {'k', 'e', 'e', 'p'};
    EXPECT_EQ(HexEncode(dst, "\x01", 0, 0), 0);
    EXPECT_EQ(std::string(dst, 4), "keep");
}

struct GeometryCase {
    int chipType;
    int sectorSize, lenByte, crPos, frameLen;
};

class WriteFrameTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(WriteFrameTest, HeaderDataAndCrAtItsPosition) {
    const GeometryCase& c = GetParam();
    const SectorGeometry& g = GeometryFor(c.chipType);
    EXPECT_EQ(g.sectorSize, c.sectorSize);
    EXPECT_EQ(g.lenByte, c.lenByte);
    EXPECT_EQ(g.crPos, c.crPos);
    EXPECT_EQ(g.frameLen, c.frameLen);

    std::vector<uint8_t> data(static_cast<size_t>(g.sectorSize));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    data[0] = 0x0A;  // LF and CR inside the data go out unchanged
    data[1] = 0x0D;
    uint8_t pktBuf[PKTBUF_SIZE];
    ASSERT_EQ(BuildWriteFrame(pktBuf, g, 0, data.data(), g.sectorSize), c.frameLen);
    EXPECT_EQ(std::vector<uint8_t>(pktBuf, pktBuf + 4), Bytes({0x0A, c.lenByte, 0x57, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(pktBuf + 4, pktBuf + c.crPos), data);
    EXPECT_EQ(pktBuf[c.crPos], 0x0D);
}

INSTANTIATE_TEST_SUITE_P(Chips, WriteFrameTest,
                         ::testing::Values(GeometryCase{CHIP_LUMINARY, 128, 0x83, 132, 133},
                                           GeometryCase{CHIP_ATMEGA88, 64, 0x43, 68, 69},
                                           GeometryCase{CHIP_ATMEGA168, 128, 0x83, 132, 133}));

TEST(WriteFrame, ShortSectorIsPaddedWithFillAndKeepsFullLength) {
    const SectorGeometry& g = GeometryFor(CHIP_ATMEGA168);
    const uint8_t tail[2] = {0x80, 0x81};
    uint8_t pktBuf[PKTBUF_SIZE];
    ASSERT_EQ(BuildWriteFrame(pktBuf, g, 1, tail, 2), 133);
    EXPECT_EQ(pktBuf[3], 1);
    EXPECT_EQ(pktBuf[4], 0x80);
    EXPECT_EQ(pktBuf[5], 0x81);
    for (int i = 6; i < g.crPos; ++i) ASSERT_EQ(pktBuf[i], SECTOR_FILL) << "index " << i;
    EXPECT_EQ(pktBuf[132], 0x0D);
}

TEST(Frames, GoAndCaptureCharacters) {
    uint8_t pktBuf[PKTBUF_SIZE];
    ASSERT_EQ(BuildGoFrame(pktBuf), 4);
    EXPECT_EQ(std::vector<uint8_t>(pktBuf, pktBuf + 4), Bytes({0x0A, 0x02, 0x47, 0x0D}));
    for (auto [c, byte] : {std::pair{CAPTURE_ONE_STAGE, 0x41}, std::pair{CAPTURE_FIRST, 0x51},
                           std::pair{CAPTURE_SECOND, 0x5A}}) {
        pktBuf[1] = 0xEE;
        ASSERT_EQ(BuildCaptureChar(pktBuf, c), 1);
        EXPECT_EQ(pktBuf[0], byte);
        EXPECT_EQ(pktBuf[1], 0xEE);
    }
}

struct TokenCase {
    std::vector<uint8_t> answer;
    bool atStart;
    bool anywhere;
};

class TokenSearchTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenSearchTest, FindsTheSectorAckToken) {
    const TokenCase& c = GetParam();
    const int32_t n = static_cast<int32_t>(c.answer.size());
    EXPECT_EQ(TokenAtStart(c.answer.data(), n, TOKEN_SECTOR_OK), c.atStart);
    EXPECT_EQ(TokenAnywhere(c.answer.data(), n, TOKEN_SECTOR_OK), c.anywhere);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TokenSearchTest,
    ::testing::Values(TokenCase{Bytes("\n!\r"), true, true},
                      TokenCase{Bytes("\n!\rjunk"), true, true},
                      TokenCase{Bytes("\x55\n!\r"), false, true},
                      TokenCase{Bytes("ab\n!\rcd"), false, true},
                      TokenCase{Bytes("ab\n!"), false, false},   // split off by the end
                      TokenCase{Bytes("\n!"), false, false},     // two bytes
                      TokenCase{Bytes("\n"), false, false},      // one byte
                      TokenCase{Bytes(""), false, false},
                      TokenCase{Bytes("\n:\r"), false, false}));

TEST(TokenAtStart, CaptureTokensAreDistinct) {
    const auto q = Bytes("\nq\r");
    EXPECT_TRUE(TokenAtStart(q.data(), 3, TOKEN_FIRST_STAGE));
    EXPECT_FALSE(TokenAtStart(q.data(), 3, TOKEN_SECOND_STAGE));
    EXPECT_FALSE(TokenAtStart(q.data(), 3, TOKEN_CAPTURED));
    const auto late = Bytes("x\n:\r");
    EXPECT_FALSE(TokenAtStart(late.data(), 4, TOKEN_CAPTURED));
}

}  // namespace
