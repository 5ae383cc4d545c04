// The engine's judgement of the device's answers. Each input is up to four
// operations run one after the other on one engine, as an operator would:
//
//   operation: op, count, [upload: sectors, rest], count answer records
//     op      bits 0-2: 0 capture, 1 38400 reset->capture, 2 57600 reset->capture,
//                       3 upload, 4 go, others capture
//             bit 3 "BL ver" box, bit 4 "Luminary" box, bit 5 "AtMega168" box,
//             bit 6 upload: an image of exactly 256 sectors, or one byte more (rest odd)
//     answer  length byte, then the bytes the device sends back to one frame
//             (length 0: no answer)
//
// Frames beyond the given answers get no answer; a capture then gives up at
// once, so that one input stays fast. Every frame written and the answer
// stored for it are kept and checked against what the operation may do.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "tests/sequencer/script_host.h"

namespace {

// The scripted host, with a debug pane that keeps only its newest line: the
// full pane grows by a line per step and would make long operations slow.
class FuzzHost : public ScriptHost {
public:
    void PrependPaneLine(int pane, const char* text) override { panes[pane] = text; }
};

struct Exchange {
    Bytes frame;
    uint32_t baud;
    Bytes answer;
    bool exhausted;  // no answer left: the operation was told to give up
};

struct FuzzRig {
    FuzzHost host;
    BootState boot;
    Sequencer seq{host, boot};
    std::vector<Exchange> log;

    FuzzRig() {
        host.seq = &seq;
        host.tty.dwBaud = 38400;
        std::strcpy(boot.szFileName, "image.enc");
    }

    // Ticks until the timer stops; returns how many it took (limit + 1: never stopped).
    int RunToEnd(int limit) {
        int n = 0;
        while (seq.TimerRunning()) {
            if (++n > limit) return n;
            seq.AnswerComplete();
            seq.Tick(TIMER_ID);
            FUZZ_CHECK(seq.progress().sector <= MAX_SECTORS);
        }
        return n;
    }
};

bool StartsWith(const Bytes& a, const uint8_t token[TOKEN_LEN]) {
    return a.size() >= TOKEN_LEN && std::memcmp(a.data(), token, TOKEN_LEN) == 0;
}

bool Holds(const Bytes& a, const uint8_t token[TOKEN_LEN]) {
    return std::search(a.begin(), a.end(), token, token + TOKEN_LEN) != a.end();
}

bool TooLong(const Bytes& a) { return a.size() > static_cast<size_t>(MAX_SHOWN_ANSWER); }

// The last exchange, and nothing after a too-long answer.
void CheckTooLong(const FuzzRig& r) {
    for (size_t i = 0; i < r.log.size(); ++i)
        if (TooLong(r.log[i].answer)) {
            FUZZ_CHECK(i + 1 == r.log.size());
            FUZZ_CHECK(r.seq.outcome() == Outcome::AnswerTooLong);
        }
    if (r.seq.outcome() == Outcome::AnswerTooLong)
        FUZZ_CHECK(!r.log.empty() && TooLong(r.log.back().answer));
}

// `rate`: the record's rate when the operation was armed.
void CheckCapture(const FuzzRig& r, int kind, bool twoStage, uint32_t rate) {
    const Outcome out = r.seq.outcome();
    FUZZ_CHECK(out == Outcome::Captured || out == Outcome::CaptureTimedOut ||
               out == Outcome::AnswerTooLong);
    CheckTooLong(r);
    size_t i = 0;
    if (kind != 0) {
        // The reset frame goes out first, at 56000 baud in the 57600 variant,
        // else at the rate in force (56000 still, after a 57600 variant that
        // captured on its reset frame's answer).
        FUZZ_CHECK(!r.log.empty() && r.log[0].frame.size() == RESET_FRAME_LEN);
        FUZZ_CHECK(r.log[0].frame.front() == FRAME_LF && r.log[0].frame.back() == FRAME_CR);
        FUZZ_CHECK(r.log[0].baud == (kind == 2 ? BAUD_RESET57 : rate));
    }
    int stage = 0;
    bool captured = false;
    for (; i < r.log.size(); ++i) {
        const Exchange& e = r.log[i];
        if (i > 0 || kind == 0) {
            const char want = !twoStage ? CAPTURE_ONE_STAGE : stage == 0 ? CAPTURE_FIRST
                                                                         : CAPTURE_SECOND;
            FUZZ_CHECK(e.frame.size() == 1 && e.frame[0] == static_cast<uint8_t>(want));
            FUZZ_CHECK(e.baud == BAUD_CAPTURE);
        }
        if (TooLong(e.answer)) break;
        const bool last = i + 1 == r.log.size();
        // The answer to every frame, the reset frame's included, is judged by
        // its first three bytes only.
        if (!twoStage && StartsWith(e.answer, TOKEN_CAPTURED)) {
            FUZZ_CHECK(last);
            captured = true;
        } else if (twoStage && stage == 0 && StartsWith(e.answer, TOKEN_FIRST_STAGE)) {
            stage = 1;
        } else if (twoStage && stage == 1 && StartsWith(e.answer, TOKEN_SECOND_STAGE)) {
            FUZZ_CHECK(last);
            captured = true;
        } else if (last) {
            // No capture: the operation ends only when it was told to give up.
            FUZZ_CHECK(out == Outcome::CaptureTimedOut && e.exhausted);
        }
    }
    FUZZ_CHECK(captured == (out == Outcome::Captured));
}

void CheckUpload(const FuzzRig& r, const SectorGeometry& g, const Bytes& image) {
    const Outcome out = r.seq.outcome();
    FUZZ_CHECK(out == Outcome::UploadComplete || out == Outcome::UploadFailed ||
               out == Outcome::ImageTooLarge || out == Outcome::AnswerTooLong);
    CheckTooLong(r);
    const size_t size = image.size();
    const size_t sectors = (size + g.sectorSize - 1) / g.sectorSize;
    if (sectors > static_cast<size_t>(MAX_SECTORS)) {
        FUZZ_CHECK(out == Outcome::ImageTooLarge && r.log.empty());
        return;
    }
    size_t sector = 0;  // the next sector the device must be sent
    int failed = 0;
    for (size_t i = 0; i < r.log.size(); ++i) {
        const Exchange& e = r.log[i];
        // Each frame carries the sector it should, with the image's bytes.
        FUZZ_CHECK(sector < sectors);
        FUZZ_CHECK(e.frame.size() == static_cast<size_t>(g.frameLen));
        FUZZ_CHECK(e.frame[0] == FRAME_LF && e.frame[1] == g.lenByte && e.frame[2] == 'W');
        FUZZ_CHECK(e.frame[3] == static_cast<uint8_t>(sector));
        FUZZ_CHECK(e.frame[g.crPos] == FRAME_CR);
        for (int k = 0; k < g.sectorSize; ++k) {
            const size_t at = sector * g.sectorSize + k;
            FUZZ_CHECK(e.frame[4 + k] == (at < size ? image[at] : SECTOR_FILL));
        }
        if (TooLong(e.answer)) break;
        if (Holds(e.answer, TOKEN_SECTOR_OK)) {
            ++sector;
            failed = 0;
        } else {
            FUZZ_CHECK(++failed <= MAXFAIL);
            if (failed == MAXFAIL) FUZZ_CHECK(i + 1 == r.log.size() && out == Outcome::UploadFailed);
        }
    }
    // Complete only once every sector got its acknowledgement.
    if (out == Outcome::UploadComplete) FUZZ_CHECK(sector == sectors);
    if (out == Outcome::UploadFailed) FUZZ_CHECK(failed == MAXFAIL);
    FUZZ_CHECK(out != Outcome::ImageTooLarge);
}

void CheckGo(const FuzzRig& r) {
    FUZZ_CHECK(r.log.size() == 1);
    const Bytes go = {FRAME_LF, 0x02, 'G', FRAME_CR};
    FUZZ_CHECK(r.log[0].frame == go);
    const Bytes& a = r.log[0].answer;
    const Outcome want = a.empty()  ? Outcome::GoUnanswered
                         : TooLong(a) ? Outcome::AnswerTooLong
                                      : Outcome::GoDone;
    FUZZ_CHECK(r.seq.outcome() == want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzRig r;
    for (int op = 0; op < 4 && !in.empty(); ++op) {
        const uint8_t code = in.Byte();
        const int count = in.Byte();
        const int kind = code & 7;
        const bool blver = (code & 0x08) != 0;
        const bool luminary = (code & 0x10) != 0;
        const bool atmega168 = (code & 0x20) != 0;

        const SectorGeometry& g =
            GeometryFor(luminary ? CHIP_LUMINARY : atmega168 ? CHIP_ATMEGA168 : CHIP_ATMEGA88);
        Bytes image;
        if (kind == 3) {
            const int sectors = in.Byte();
            const int rest = in.Byte();
            const size_t len = (code & 0x40) ? MAX_SECTORS * g.sectorSize + (rest & 1)
                                             : sectors * g.sectorSize + rest % g.sectorSize;
            image.resize(len);
            for (size_t k = 0; k < len; ++k) image[k] = static_cast<uint8_t>(k * 7 + k / 251);
        }
        auto answers = std::make_shared<std::deque<Bytes>>();
        for (int k = 0; k < count && !in.empty(); ++k) answers->push_back(in.Record());

        const bool capture = kind <= 2 || kind > 4;
        r.log.clear();
        r.host.frames.clear();
        r.host.image = image;
        r.host.blver = blver;
        r.host.luminary = luminary;
        r.host.device = [&r, answers, capture](const Bytes& frame) {
            Exchange e{frame, r.host.tty.dwBaud, {}, answers->empty()};
            if (!e.exhausted) {
                e.answer = answers->front();
                answers->pop_front();
            } else if (capture) {
                r.seq.AbortCapture();
            }
            r.log.push_back(e);
            return e.answer;
        };

        const uint32_t rate = r.host.tty.dwBaud;
        int bound = 0;
        switch (kind) {
            case 1: r.seq.ArmCapture(BTN_RESET_CAP, blver, luminary); break;
            case 2: r.seq.ArmReset57Capture(); break;
            case 3: r.seq.ArmUpgrade(luminary, atmega168); break;
            case 4: r.seq.ArmGo(); break;
            default: r.seq.ArmCapture(BTN_CAP, blver, luminary); break;
        }
        if (capture) {
            // Two phases at most, each a bounded number of characters, each
            // character a write, a short wait and a judgement.
            bound = 2 * (static_cast<int>(MAX_CAPTURE_TRIES) + 2) * (WAIT_SHORT_TICKS + 2) + 8;
        } else {
            // Every sector at most MAXFAIL times, each a write, a long wait and
            // a judgement; then the step that finds the end, and the close.
            bound = (MAX_SECTORS * MAXFAIL + 1) * (WAIT_LONG_TICKS + 2) + 8;
        }
        const int ticks = r.RunToEnd(bound);
        FUZZ_CHECK(ticks <= bound);
        FUZZ_CHECK(!r.host.timer && r.host.tty.bPortOpen.load() == 0);

        if (capture)
            CheckCapture(r, kind > 4 ? 0 : kind, blver || luminary, rate);
        else if (kind == 3)
            CheckUpload(r, g, image);
        else
            CheckGo(r);
    }
    return 0;
}
