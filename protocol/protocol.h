// The bootloader wire protocol: every byte the host sends and every token it
// expects back. Pure functions on the caller's buffers; no I/O.
#pragma once

#include <cstddef>
#include <cstdint>

// Frames open with LF and close with CR; nothing inside is escaped.
constexpr uint8_t FRAME_LF = 0x0A;
constexpr uint8_t FRAME_CR = 0x0D;

constexpr int PKTBUF_SIZE = 202;        // frame buffer; the largest frame is 133 bytes
constexpr uint8_t SECTOR_FILL = 0xCC;   // data positions past a short last sector
constexpr int MAX_SECTORS = 256;        // the sector number is one byte
constexpr int RESET_TEXT_LEN = 17;      // serial(7) "02" "21" "43" CRC(4)
constexpr int RESET_FRAME_LEN = RESET_TEXT_LEN + 2;
constexpr int GO_FRAME_LEN = 4;
constexpr int DEST_LEN = 7;
constexpr char DEFAULT_DEST[] = "0000000";

// Capture characters, sent alone without LF, CR or length.
constexpr char CAPTURE_ONE_STAGE = 'A';
constexpr char CAPTURE_FIRST = 'Q';
constexpr char CAPTURE_SECOND = 'Z';

// Response tokens, compared as blocks of three bytes.
constexpr int TOKEN_LEN = 3;
constexpr uint8_t TOKEN_CAPTURED[TOKEN_LEN] = {0x0A, ':', 0x0D};
constexpr uint8_t TOKEN_FIRST_STAGE[TOKEN_LEN] = {0x0A, 'q', 0x0D};
constexpr uint8_t TOKEN_SECOND_STAGE[TOKEN_LEN] = {0x0A, 'z', 0x0D};
constexpr uint8_t TOKEN_SECTOR_OK[TOKEN_LEN] = {0x0A, '!', 0x0D};

// Chip kinds as the main window's check boxes choose them.
constexpr int CHIP_LUMINARY = 1;
constexpr int CHIP_ATMEGA88 = 2;
constexpr int CHIP_ATMEGA168 = 3;

struct SectorGeometry {
    int chipType;
    const char* name;
    int sectorSize;  // data bytes per write frame
    int lenByte;     // sectorSize + 3: 'W', sector number, data, CR
    int crPos;       // index of the closing CR
    int frameLen;    // sectorSize + 5
};

// The geometry of chipType 1, 2 or 3; any other value is a caller's bug and
// yields the AtMega168 row.
const SectorGeometry& GeometryFor(int chipType);

// Two uppercase hex digits per byte, a space after each unless noSpace, and a
// NUL after each byte's characters. A count of 0 writes nothing. Returns the
// characters written, NULs not counted.
int32_t HexEncode(char* dst, const void* src, int32_t count, int32_t noSpace);

// dst = LF, body, CR. Returns n + 2. No terminator is written.
int32_t WrapFrame(uint8_t* dst, const void* body, int32_t n);

// CRC of the reset command: polynomial 0x1020, start 0, no reflection, no final XOR.
uint16_t Crc16(const void* data, int32_t len);

// Writes the CRC as 4 uppercase hex digits at text[len], then a NUL. Returns len + 4.
int32_t AppendCrcHex(char* text, int32_t len, uint16_t crc);

// Appends "43" and the CRC of the whole text to `text` in place and copies the
// finished text, terminator included, to dst. `text` needs 7 more bytes.
void FinishResetCommand(char* dst, char* text);

// The serial used in the reset command: the destination field's text when it
// is exactly 7 characters long, otherwise "0000000". Characters are not checked.
const char* ResetDestination(const char* fieldText);

// Builds the reset command text into szResetCmd (at least 18 bytes) and its
// frame into pktBuf. Returns the frame length, 19.
int32_t BuildResetFrame(uint8_t* pktBuf, char* szResetCmd, const char* fieldText);

// Builds a write frame for `sector` from n (0..sectorSize) data bytes. Data
// positions past n hold SECTOR_FILL. Returns g.frameLen.
int32_t BuildWriteFrame(uint8_t* pktBuf, const SectorGeometry& g, uint8_t sector,
                        const uint8_t* data, int32_t n);

// LF 0x02 'G' CR. Returns 4.
int32_t BuildGoFrame(uint8_t* pktBuf);

// One capture character. Returns 1.
int32_t BuildCaptureChar(uint8_t* pktBuf, char c);

// True when the answer's first three bytes are the token.
bool TokenAtStart(const uint8_t* answer, int32_t n, const uint8_t token[TOKEN_LEN]);

// True when the token starts at any position 0..n-3 of the answer.
bool TokenAnywhere(const uint8_t* answer, int32_t n, const uint8_t token[TOKEN_LEN]);
