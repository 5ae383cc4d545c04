// The simulated device's input: any byte stream the host may send, in chunks
// with quiet gaps between them.
//
//   config  bit 0: AtMega88 geometry (64-byte sectors) instead of 128-byte sectors
//           bit 1: two-stage capture ('Q' then 'Z')
//           bit 2: the application runs at the start
//           bits 3-4: capture characters ignored after each start
//   chunk   length byte, gap byte, then the bytes, all at one instant `gap` ms
//           after the previous chunk; gap 255 is the host closing and reopening
//           the port instead
#include <string>
#include <vector>

#include "sim/device.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

std::string Tok(const uint8_t* t) { return std::string(reinterpret_cast<const char*>(t), TOKEN_LEN); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t config = in.Byte();
    DeviceConfig cfg;
    cfg.geometry = &GeometryFor((config & 1) ? CHIP_ATMEGA88 : CHIP_ATMEGA168);
    cfg.twoStage = (config & 2) != 0;
    cfg.appRunning = (config & 4) != 0;
    cfg.captureAfter = (config >> 3) & 3;
    const size_t sectorSize = static_cast<size_t>(cfg.geometry->sectorSize);
    Device dev(cfg);
    const LineSettings line{38400};

    int64_t t = 0;
    int acks = 0;
    while (!in.empty()) {
        const uint8_t len = in.Byte();
        const uint8_t gap = in.Byte();
        const std::vector<uint8_t> bytes = in.Bytes(len);
        if (gap == 255) {
            dev.HostClosed(t);
            dev.HostOpened(t);
        } else {
            t += gap;
        }
        dev.ObserveLine(t, line);
        for (uint8_t b : bytes) dev.Feed(b, t, line);

        // Without faults every answer is one whole token of this bootloader.
        for (const Chunk& c : dev.TakeOutput()) {
            FUZZ_CHECK(c.delayMs == 0);
            if (c.bytes == Tok(TOKEN_SECTOR_OK)) {
                ++acks;
            } else if (cfg.twoStage) {
                FUZZ_CHECK(c.bytes == Tok(TOKEN_FIRST_STAGE) || c.bytes == Tok(TOKEN_SECOND_STAGE) ||
                           c.bytes == GO_ANSWER);
            } else {
                FUZZ_CHECK(c.bytes == Tok(TOKEN_CAPTURED) || c.bytes == GO_ANSWER);
            }
        }
        FUZZ_CHECK(!dev.vanished());
    }

    const std::vector<uint8_t> image = dev.Image();
    FUZZ_CHECK(image.size() % sectorSize == 0);
    FUZZ_CHECK(image.size() <= MAX_SECTORS * sectorSize);
    FUZZ_CHECK(dev.CheckUpload(image, dev.goAccepted()).empty());

    const nlohmann::ordered_json report = dev.Report();
    const nlohmann::ordered_json& summary = report["summary"];
    FUZZ_CHECK(summary["sectors_received"].get<int>() <= MAX_SECTORS);
    FUZZ_CHECK(summary["frames_accepted"].get<int>() == acks);
    FUZZ_CHECK(summary["image_bytes"].get<size_t>() == image.size());
    // The report is written out as JSON text: whatever came in must not stop that.
    const std::string text = report.dump(2);
    FUZZ_CHECK(nlohmann::ordered_json::parse(text) == report);
    return 0;
}
