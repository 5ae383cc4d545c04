#include "protocol/protocol.h"

#include <cstring>

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr uint16_t CRC_POLY = 0x1020;

constexpr SectorGeometry GEOMETRY[] = {
    {CHIP_LUMINARY, "LuminaryMicro", 128, 131, 132, 133},
    {CHIP_ATMEGA88, "AtMega88", 64, 67, 68, 69},
    {CHIP_ATMEGA168, "AtMega168", 128, 131, 132, 133},
};

}  // namespace

const SectorGeometry& GeometryFor(int chipType) {
    for (const SectorGeometry& g : GEOMETRY)
        if (g.chipType == chipType) return g;
    return GEOMETRY[2];
}

int32_t HexEncode(char* dst, const void* src, int32_t count, int32_t noSpace) {
    const uint8_t* bytes = static_cast<const uint8_t*>(src);
    int32_t out = 0;
    for (int32_t i = 0; i < count; ++i) {
        dst[out++] = HEX_DIGITS[bytes[i] >> 4];
        dst[out++] = HEX_DIGITS[bytes[i] & 0x0F];
        if (!noSpace) dst[out++] = ' ';
        dst[out] = '\0';
    }
    return out;
}

int32_t WrapFrame(uint8_t* dst, const void* body, int32_t n) {
    dst[0] = FRAME_LF;
    std::memcpy(dst + 1, body, static_cast<size_t>(n));
    dst[n + 1] = FRAME_CR;
    return n + 2;
}

uint16_t Crc16(const void* data, int32_t len) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint16_t crc = 0;
    for (int32_t i = 0; i < len; ++i) {
        crc ^= static_cast<uint16_t>(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ CRC_POLY)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

int32_t AppendCrcHex(char* text, int32_t len, uint16_t crc) {
    char Ascii_Crc[8];
    const uint8_t bytes[2] = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF)};
    HexEncode(Ascii_Crc, bytes, 2, 1);
    std::memcpy(text + len, Ascii_Crc, 4);
    text[len + 4] = '\0';
    return len + 4;
}

void FinishResetCommand(char* dst, char* text) {
    std::strcat(text, "43");
    const int32_t len = static_cast<int32_t>(std::strlen(text));
    AppendCrcHex(text, len, Crc16(text, len));
    std::strcpy(dst, text);
}

const char* ResetDestination(const char* fieldText) {
    if (fieldText != nullptr && std::strlen(fieldText) == static_cast<size_t>(DEST_LEN))
        return fieldText;
    return DEFAULT_DEST;
}

int32_t BuildResetFrame(uint8_t* pktBuf, char* szResetCmd, const char* fieldText) {
    char SendPacket[PKTBUF_SIZE];
    std::strcpy(SendPacket, ResetDestination(fieldText));
    std::strcat(SendPacket, "02");
    std::strcat(SendPacket, "21");
    FinishResetCommand(szResetCmd, SendPacket);
    return WrapFrame(pktBuf, szResetCmd, static_cast<int32_t>(std::strlen(szResetCmd)));
}

int32_t BuildWriteFrame(uint8_t* pktBuf, const SectorGeometry& g, uint8_t sector,
                        const uint8_t* data, int32_t n) {
    std::memset(pktBuf, SECTOR_FILL, static_cast<size_t>(g.frameLen));
    pktBuf[0] = FRAME_LF;
    pktBuf[1] = static_cast<uint8_t>(g.lenByte);
    pktBuf[2] = 'W';
    pktBuf[3] = sector;
    if (n > 0) std::memcpy(pktBuf + 4, data, static_cast<size_t>(n));
    pktBuf[g.crPos] = FRAME_CR;
    return g.frameLen;
}

int32_t BuildGoFrame(uint8_t* pktBuf) {
    const uint8_t go[GO_FRAME_LEN] = {FRAME_LF, 0x02, 'G', FRAME_CR};
    std::memcpy(pktBuf, go, sizeof go);
    return GO_FRAME_LEN;
}

int32_t BuildCaptureChar(uint8_t* pktBuf, char c) {
    pktBuf[0] = static_cast<uint8_t>(c);
    return 1;
}

bool TokenAtStart(const uint8_t* answer, int32_t n, const uint8_t token[TOKEN_LEN]) {
    return n >= TOKEN_LEN && std::memcmp(answer, token, TOKEN_LEN) == 0;
}

bool TokenAnywhere(const uint8_t* answer, int32_t n, const uint8_t token[TOKEN_LEN]) {
    for (int32_t i = 0; i + TOKEN_LEN <= n; ++i)
        if (std::memcmp(answer + i, token, TOKEN_LEN) == 0) return true;
    return false;
}
