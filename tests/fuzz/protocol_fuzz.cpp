// The protocol helpers on any bytes: token search, hex text, the reset CRC and
// the frames built from them.
//
//   input  bytes 0-1: the token to look for: LF, byte 0, CR when byte 1 is even,
//          else byte 0 and the next two bytes;
//          the rest: at once an answer, a sector's data and a destination field's text
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

int Nibble(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    uint8_t token[TOKEN_LEN];
    const uint8_t mid = in.Byte();
    if ((in.Byte() & 1) == 0) {
        token[0] = FRAME_LF;
        token[1] = mid;
        token[2] = FRAME_CR;
    } else {
        token[0] = mid;
        token[1] = in.Byte();
        token[2] = in.Byte();
    }
    const std::vector<uint8_t> rest = in.Bytes(SIZE_MAX);
    const int32_t n = static_cast<int32_t>(rest.size());

    // Token search, against a plain search.
    const bool anywhere = std::search(rest.begin(), rest.end(), token, token + TOKEN_LEN) != rest.end();
    const bool atStart = n >= TOKEN_LEN && std::equal(token, token + TOKEN_LEN, rest.begin());
    FUZZ_CHECK(TokenAnywhere(rest.data(), n, token) == anywhere);
    FUZZ_CHECK(TokenAtStart(rest.data(), n, token) == atStart);

    // Hex text: exactly the size promised, and it reads back to the bytes.
    for (int32_t noSpace = 0; noSpace <= 1; ++noSpace) {
        const int32_t per = noSpace ? 2 : 3;
        std::vector<char> hex(static_cast<size_t>(per) * rest.size() + 1, '#');
        const int32_t len = HexEncode(hex.data(), rest.data(), n, noSpace);
        FUZZ_CHECK(len == per * n);
        if (n > 0) FUZZ_CHECK(hex[static_cast<size_t>(len)] == '\0');
        for (int32_t i = 0; i < n; ++i) {
            const char* p = hex.data() + per * i;
            FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(p[0])) &&
                       std::isxdigit(static_cast<unsigned char>(p[1])));
            FUZZ_CHECK(Nibble(p[0]) * 16 + Nibble(p[1]) == rest[static_cast<size_t>(i)]);
            if (!noSpace) FUZZ_CHECK(p[2] == ' ');
        }
    }

    // The CRC: the bytes followed by their CRC, high byte first, leave no remainder.
    std::vector<uint8_t> withCrc = rest;
    const uint16_t crc = Crc16(rest.data(), n);
    withCrc.push_back(static_cast<uint8_t>(crc >> 8));
    withCrc.push_back(static_cast<uint8_t>(crc & 0xFF));
    FUZZ_CHECK(Crc16(withCrc.data(), n + 2) == 0);

    // A write frame from the first bytes, in both geometries.
    for (int chip : {CHIP_ATMEGA88, CHIP_ATMEGA168}) {
        const SectorGeometry& g = GeometryFor(chip);
        const int32_t k = std::min(n, g.sectorSize);
        uint8_t pkt[PKTBUF_SIZE];
        std::memset(pkt, 0x5A, sizeof pkt);
        const uint8_t sector = n > 0 ? rest[0] : 0;
        FUZZ_CHECK(BuildWriteFrame(pkt, g, sector, rest.data(), k) == g.frameLen);
        FUZZ_CHECK(pkt[0] == FRAME_LF && pkt[1] == g.lenByte && pkt[2] == 'W' && pkt[3] == sector);
        FUZZ_CHECK(std::equal(rest.begin(), rest.begin() + k, pkt + 4));
        for (int32_t i = k; i < g.sectorSize; ++i) FUZZ_CHECK(pkt[4 + i] == SECTOR_FILL);
        FUZZ_CHECK(pkt[g.crPos] == FRAME_CR && pkt[g.frameLen] == 0x5A);
    }

    // A reset frame for the bytes as the destination field's text.
    const std::string field(rest.begin(), rest.end());
    uint8_t pkt[PKTBUF_SIZE];
    char cmd[200];
    FUZZ_CHECK(BuildResetFrame(pkt, cmd, field.c_str()) == RESET_FRAME_LEN);
    FUZZ_CHECK(pkt[0] == FRAME_LF && pkt[RESET_FRAME_LEN - 1] == FRAME_CR);
    FUZZ_CHECK(std::strlen(cmd) == static_cast<size_t>(RESET_TEXT_LEN));
    const char* dest = ResetDestination(field.c_str());
    FUZZ_CHECK(std::strlen(dest) == static_cast<size_t>(DEST_LEN));
    FUZZ_CHECK(std::memcmp(cmd, dest, DEST_LEN) == 0 && std::memcmp(cmd + DEST_LEN, "022143", 6) == 0);
    char crcText[8];
    AppendCrcHex(crcText, 0, Crc16(cmd, RESET_TEXT_LEN - 4));
    FUZZ_CHECK(std::memcmp(cmd + RESET_TEXT_LEN - 4, crcText, 4) == 0);
    return 0;
}
