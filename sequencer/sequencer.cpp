#include "sequencer/sequencer.h"

#include <cstdio>
#include <string>

namespace {

constexpr char MSG_NOT_CLICKED[] = "WM_COMMAND: Error, BTN_SEND - not BN_CLICKED";
constexpr char MSG_NO_RECORD[] = "WM_COMMAND: Error, GETNPTTYINFO";
constexpr char MSG_NO_ANSWER[] = "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0";
constexpr char MSG_TOO_LONG[] = "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) > 50";
constexpr char MSG_TIMEOUT[] = "TimeOut";
constexpr char MSG_CAPTURED[] = "\r\nCaptured";
constexpr char MSG_MAXFAIL[] = "Error, failed Firmware Upgrade with failed >= MAXFAIL";
constexpr char MSG_OPEN_FAILED[] = "\r\nError, failed to open the Reader.enc File, Ln 446";
constexpr char MSG_SEEK_FAILED[] = "\r\nError, lseek function failed";
constexpr char MSG_READ_FAILED[] = "\r\nError, Read function failed";
constexpr char MSG_COMPLETE[] = "\r\nFirmware upgrade complete, select the 'G' (go) cmd.";
constexpr char MSG_TOO_MANY_SECTORS[] = "\r\nError, the image has more than 256 sectors";
constexpr char MSG_IMAGE_CHANGED[] =
    "\r\nError, the image file changed during the upload; start the upload again";
constexpr char STATUS_CAPTURE[] = "E2";

// Closes the image on every path out of the upload start action.
class ImageCloser {
public:
    ImageCloser(SequencerHost& host, int fd) : host_(host), fd_(fd) {}
    ~ImageCloser() { host_.CloseImage(fd_); }
    ImageCloser(const ImageCloser&) = delete;
    ImageCloser& operator=(const ImageCloser&) = delete;

private:
    SequencerHost& host_;
    int fd_;
};

SectorGeometry GeometryOf(const BootState& boot) {
    return {boot.chipType, "", boot.sectorSize, boot.lenByte, boot.crPos, boot.frameLen};
}

const uint8_t* CaptureToken(const BootState& boot) {
    if (!boot.bTwoStage) return TOKEN_CAPTURED;
    return boot.captureStage == 0 ? TOKEN_FIRST_STAGE : TOKEN_SECOND_STAGE;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::None: return "none";
        case Outcome::Running: return "running";
        case Outcome::NotStarted: return "not started: the port is already open";
        case Outcome::ConnectFailed: return "connection failed";
        case Outcome::NoRecord: return "no connection record";
        case Outcome::Captured: return "captured";
        case Outcome::CaptureTimedOut: return "capture timed out";
        case Outcome::UploadComplete: return "upload complete";
        case Outcome::UploadFailed: return "upload failed";
        case Outcome::FileError: return "image file error";
        case Outcome::ImageTooLarge: return "image has more than 256 sectors";
        case Outcome::ImageChanged: return "image changed during the upload";
        case Outcome::GoDone: return "go done";
        case Outcome::GoUnanswered: return "go unanswered";
        case Outcome::AnswerTooLong: return "answer longer than 50 bytes";
        case Outcome::NoOperation: return "no operation";
    }
    return "unknown";
}

TTYInfo* Sequencer::RecordForCommand() {
    TTYInfo* tty = host_.Record();
    if (tty == nullptr) {
        Prepend(MSG_NO_RECORD);
        outcome_ = Outcome::NoRecord;
    }
    return tty;
}

void Sequencer::Send(int notifyCode) {
    if (notifyCode != 0) {
        Prepend(MSG_NOT_CLICKED);
        return;
    }
    TTYInfo* tty = RecordForCommand();
    if (tty == nullptr) return;
    host_.SetPaneText(EDIT_RECV, " ");
    if (tty->bPortOpen.load() != 0) {
        if (!timerRunning_) outcome_ = Outcome::NotStarted;
        return;
    }
    if (!host_.Connect(*tty)) {
        host_.ConnectionFailed();
        outcome_ = Outcome::ConnectFailed;
        return;
    }
    tty->nDelayTicks = 0;
    boot_.nState = ST_START;
    host_.StartTimer();
    timerRunning_ = true;
    outcome_ = Outcome::Running;
}

void Sequencer::Tick(unsigned timerId) {
    TTYInfo* tty = host_.Record();
    if (tty == nullptr) {
        // Without a record nothing can be written or closed: stop for good.
        boot_.nState = ST_IDLE;
        host_.StopTimer();
        timerRunning_ = false;
        outcome_ = Outcome::NoRecord;
        return;
    }
    if (timerId != TIMER_ID) return;
    if (tty->bRsvpDone.load() != 0) tty->nDelayTicks = 0;
    if (tty->nDelayTicks != 0) {
        --tty->nDelayTicks;
        return;
    }
    switch (boot_.nState) {
        case ST_START: StartStep(*tty); break;
        case ST_RECV: ReceiveStep(*tty); break;
        default: Ending(*tty); break;
    }
}

void Sequencer::StartStep(TTYInfo& tty) {
    host_.SetPaneText(EDIT_RECV, "");
    tty.nDelayTicks = WAIT_SHORT_TICKS;
    ResetResponse(tty, RSVP_LIMIT);
    switch (boot_.command) {
        case BTN_RESET_CAP: StartReset(); break;
        case BTN_CAP: StartCapture(tty); break;
        case BTN_UPGRADE: StartUpload(tty); break;
        case BTN_GO: StartGo(tty); break;
        default: End(Outcome::NoOperation); break;
    }
    if (boot_.nState == ST_IDLE) return;
    // A frame that does not go out shows as a missing answer in the receive step.
    host_.Write(tty, pktBuf_, pktLen_);
    boot_.nState = boot_.nState + 1;
}

void Sequencer::ReceiveStep(TTYInfo& tty) {
    boot_.nState = ST_IDLE;
    const int32_t n = RSVPIDX(tty);
    if (n == 0) {
        switch (boot_.command) {
            case BTN_CAP: CaptureNoAnswer(); break;
            case BTN_UPGRADE: UploadNoAnswer(); break;
            default:
                Prepend("command == unknown");
                Prepend(MSG_NO_ANSWER);
                End(boot_.command == BTN_GO ? Outcome::GoUnanswered : Outcome::NoOperation);
                break;
        }
        return;
    }
    if (n > MAX_SHOWN_ANSWER) {
        Prepend(MSG_TOO_LONG);
        End(Outcome::AnswerTooLong);
        return;
    }

    char buffer[200];
    uint8_t inputtextbuffer[80];
    std::snprintf(buffer, sizeof buffer, "len = %d\r\n", static_cast<int>(n));
    Append(buffer);
    std::snprintf(buffer, sizeof buffer, "len = %d", static_cast<int>(n));
    Prepend(buffer);
    CopyResponse(tty, inputtextbuffer, n);
    HexEncode(buffer, inputtextbuffer, n, 0);
    Append(buffer);
    Prepend(buffer);
    Append("\r\n");

    switch (boot_.command) {
        case BTN_CAP: CaptureAnswer(inputtextbuffer, n); break;
        case BTN_UPGRADE: UploadAnswer(inputtextbuffer, n); break;
        case BTN_GO:
            Prepend("ST_RECV, after cmd G, All Done");
            End(Outcome::GoDone);
            break;
        default: End(Outcome::NoOperation); break;
    }
}

void Sequencer::Ending(TTYInfo& tty) {
    host_.StopTimer();
    timerRunning_ = false;
    if (tty.bPortOpen.load() != 0) host_.Disconnect(tty);
}

void Sequencer::End(Outcome outcome) {
    boot_.nState = ST_IDLE;
    outcome_ = outcome;
}

// ---- capture and reset ----

void Sequencer::ArmCapture(int buttonId, bool blverChecked, bool luminaryChecked) {
    if (blverChecked) {
        boot_.bTwoStage = 1;
        boot_.captureStage = 0;
    } else {
        boot_.bTwoStage = 0;
    }
    if (luminaryChecked) {
        boot_.bTwoStage = 1;
        boot_.captureStage = 0;
    }
    boot_.command = buttonId;
    boot_.captureTries = 0;
    Prepend("Capture the Loader");
    Prepend(STATUS_CAPTURE);
    host_.SetPaneText(EDIT_STATUS, STATUS_CAPTURE);
    host_.IssueCommand(BTN_SEND);
}

void Sequencer::ArmReset57Capture() {
    TTYInfo* tty = RecordForCommand();
    if (tty == nullptr) return;
    host_.SetPaneText(EDIT_RECV, "");
    if (tty->bPortOpen.load() != 0) host_.Disconnect(*tty);
    tty->dwBaud = BAUD_RESET57;
    boot_.bBaudSwitch = 1;
    host_.IssueCommand(BTN_RESET_CAP);
}

void Sequencer::AbortCapture() { boot_.captureTries = MAX_CAPTURE_TRIES; }

void Sequencer::LuminaryClicked(bool luminaryChecked, bool blverChecked) {
    boot_.bTwoStage = (luminaryChecked || blverChecked) ? 1 : 0;
}

void Sequencer::StartReset() {
    pktLen_ = BuildResetFrame(pktBuf_, boot_.szResetCmd, host_.DestinationText().c_str());
    boot_.command = BTN_CAP;
}

void Sequencer::StartCapture(TTYInfo& tty) {
    if (boot_.bBaudSwitch) {
        boot_.bBaudSwitch = 0;
        if (tty.bPortOpen.load() != 0) host_.Disconnect(tty);
        tty.dwBaud = BAUD_CAPTURE;
        if (tty.bPortOpen.load() == 0 && !host_.Connect(tty))
            Append("\r\nFailed to Open Connection");
    }
    if (boot_.captureTries >= MAX_CAPTURE_TRIES) {
        boot_.nState = ST_IDLE;
        Prepend(MSG_TIMEOUT);
        outcome_ = Outcome::CaptureTimedOut;
    } else {
        char c = CAPTURE_ONE_STAGE;
        if (boot_.bTwoStage) c = boot_.captureStage == 0 ? CAPTURE_FIRST : CAPTURE_SECOND;
        pktLen_ = BuildCaptureChar(pktBuf_, c);
        const char line[2] = {c, '\0'};
        Prepend(line);
    }
    ++boot_.captureTries;
}

void Sequencer::CaptureNoAnswer() {
    if (boot_.captureTries < MAX_CAPTURE_TRIES) {
        boot_.nState = ST_START;
        return;
    }
    Prepend("command == BTN_CAP");
    Prepend(MSG_NO_ANSWER);
    End(Outcome::CaptureTimedOut);
}

void Sequencer::CaptureAnswer(const uint8_t* answer, int32_t n) {
    if (boot_.captureTries >= MAX_CAPTURE_TRIES) {
        Prepend(MSG_TIMEOUT);
        End(Outcome::CaptureTimedOut);
        return;
    }
    if (!boot_.bTwoStage) {
        if (TokenAtStart(answer, n, TOKEN_CAPTURED)) {
            Append(MSG_CAPTURED);
            End(Outcome::Captured);
        } else {
            boot_.nState = ST_START;
        }
        return;
    }
    if (boot_.captureStage == 0 && TokenAtStart(answer, n, TOKEN_FIRST_STAGE)) {
        boot_.captureStage = 1;
        boot_.captureTries = 0;
        boot_.nState = ST_START;
        Prepend("\r\nFound little q");
    } else if (boot_.captureStage == 1 && TokenAtStart(answer, n, TOKEN_SECOND_STAGE)) {
        boot_.captureStage = 2;
        boot_.captureTries = 0;
        Append(MSG_CAPTURED);
        Prepend(MSG_CAPTURED);
        End(Outcome::Captured);
    } else {
        boot_.nState = ST_START;
    }
}

// ---- upload and go ----

void Sequencer::ArmFind() {
    host_.SetPaneText(EDIT_DEBUG, "BTN_FIND");
    host_.SetPaneText(EDIT_RECV, "BTN_FIND\r\n");
    boot_.command = BTN_FIND;
    boot_.szFileName[0] = '\0';
}

void Sequencer::ArmUpgrade(bool luminaryChecked, bool atmega168Checked) {
    boot_.chipType = atmega168Checked ? CHIP_ATMEGA168 : CHIP_ATMEGA88;
    if (luminaryChecked) boot_.chipType = CHIP_LUMINARY;
    const SectorGeometry& g = GeometryFor(boot_.chipType);
    boot_.sectorSize = g.sectorSize;
    boot_.lenByte = g.lenByte;
    boot_.crPos = g.crPos;
    boot_.frameLen = g.frameLen;
    Prepend("Begin Firmware Upgrade: ");
    boot_.sector = 0;
    boot_.command = BTN_UPGRADE;
    boot_.failed = 0;
    sectors_ = 0;
    retries_ = 0;
    host_.IssueCommand(BTN_SEND);
}

void Sequencer::ArmGo() {
    boot_.command = BTN_GO;
    host_.IssueCommand(BTN_SEND);
}

void Sequencer::StartUpload(TTYInfo& tty) {
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "Sector %d", static_cast<int>(boot_.sector));
    Prepend(buffer);

    const int fd = host_.OpenImage(boot_.szFileName);
    if (fd < 0) {
        boot_.nState = ST_IDLE;
        Append(MSG_OPEN_FAILED);
        outcome_ = Outcome::FileError;
        return;
    }
    ImageCloser closer(host_, fd);

    const int64_t size = host_.SeekImage(fd, 0, SEEK_END);
    if (size < 0) {
        // An unknown size must not pass for an exhausted image.
        Append(MSG_SEEK_FAILED);
        End(Outcome::FileError);
        return;
    }
    // The device must never hold a mix of two images: sector 0 fixes which
    // image this upload sends.
    const ImageStamp stamp = host_.StampImage(fd);
    if (boot_.sector == 0) {
        imageSize_ = size;
        imageStamp_ = stamp;
    } else if (size != imageSize_ || !(stamp == imageStamp_)) {
        Append(MSG_IMAGE_CHANGED);
        End(Outcome::ImageChanged);
        return;
    }
    // The sector number is one byte on the wire.
    if (size > static_cast<int64_t>(MAX_SECTORS) * boot_.sectorSize) {
        Append(MSG_TOO_MANY_SECTORS);
        End(Outcome::ImageTooLarge);
        return;
    }
    sectors_ = static_cast<int32_t>((size + boot_.sectorSize - 1) / boot_.sectorSize);

    const int64_t offset = static_cast<int64_t>(boot_.sector) * boot_.sectorSize;
    if (offset >= size) {
        Append(MSG_COMPLETE);
        End(Outcome::UploadComplete);
        return;
    }
    if (host_.SeekImage(fd, offset, SEEK_SET) != offset) {
        Append(MSG_SEEK_FAILED);
        End(Outcome::FileError);
        return;
    }
    const int32_t n = static_cast<int32_t>(size - offset < boot_.sectorSize ? size - offset
                                                                            : boot_.sectorSize);
    uint8_t data[PKTBUF_SIZE];
    if (host_.ReadImage(fd, data, n) != n) {
        Append(MSG_READ_FAILED);
        Prepend(MSG_READ_FAILED);
        End(Outcome::FileError);
        return;
    }
    pktLen_ = BuildWriteFrame(pktBuf_, GeometryOf(boot_), static_cast<uint8_t>(boot_.sector),
                              data, n);
    tty.nDelayTicks = WAIT_LONG_TICKS;
}

void Sequencer::UploadNoAnswer() {
    Prepend("WM_TIMER ERROR");
    UploadFailure();
}

void Sequencer::UploadAnswer(const uint8_t* answer, int32_t n) {
    if (TokenAnywhere(answer, n, TOKEN_SECTOR_OK)) {
        boot_.failed = 0;
        ++boot_.sector;
        Prepend("LF-!-CR (success)");
        boot_.nState = ST_START;
        return;
    }
    Prepend("failed");
    UploadFailure();
}

// A failed attempt, with or without an answer: the same sector again, or,
// at the MAXFAIL-th in a row, the end with the failure named.
void Sequencer::UploadFailure() {
    ++boot_.failed;
    ++retries_;
    if (boot_.failed < MAXFAIL) {
        boot_.nState = ST_START;
        return;
    }
    Prepend(MSG_MAXFAIL);
    End(Outcome::UploadFailed);
}

void Sequencer::StartGo(TTYInfo& tty) {
    Prepend("ST_START, send cmd G");
    pktLen_ = BuildGoFrame(pktBuf_);
    tty.nDelayTicks = WAIT_LONG_TICKS;
}

// ---- front-end queries ----

OperationProgress Sequencer::progress() const {
    OperationProgress p;
    p.command = boot_.command;
    p.sector = boot_.sector;
    p.sectors = sectors_;
    p.failed = boot_.failed;
    p.retries = retries_;
    p.captureTries = boot_.captureTries;
    p.captureStage = boot_.captureStage;
    return p;
}

bool Sequencer::AnswerComplete() const {
    const TTYInfo* tty = host_.Record();
    if (tty == nullptr || !timerRunning_ || boot_.nState != ST_RECV) return false;
    const int32_t n = RSVPIDX(*tty);
    if (n == 0) return false;
    if (n > MAX_SHOWN_ANSWER) return true;
    uint8_t answer[MAX_SHOWN_ANSWER];
    CopyResponse(*tty, answer, n);
    switch (boot_.command) {
        case BTN_CAP: return TokenAtStart(answer, n, CaptureToken(boot_));
        case BTN_UPGRADE: return TokenAnywhere(answer, n, TOKEN_SECTOR_OK);
        default: return true;
    }
}
