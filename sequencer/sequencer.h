// The operation engine: one bootloader operation at a time (capture, reset
// then capture, firmware upload, go), paced by the 5 ms timer. Each tick either
// counts down a wait or runs one step: ST_START writes a frame, ST_RECV shows
// and judges the answer, ST_IDLE stops the timer and closes the port.
#pragma once

#include <cstdint>

#include "protocol/protocol.h"
#include "res/resource.h"
#include "sequencer/host.h"

constexpr int32_t ST_START = 0;
constexpr int32_t ST_RECV = 1;  // ST_START + 1: writing a frame advances the step
constexpr int32_t ST_IDLE = 24;

constexpr uint32_t MAX_CAPTURE_TRIES = 1000;  // capture characters per phase
constexpr int32_t MAXFAIL = 5;                // consecutive failures per sector
constexpr int32_t WAIT_SHORT_TICKS = 2;       // after a capture character or a reset frame
constexpr int32_t WAIT_LONG_TICKS = 20;       // after a sector or the go frame
constexpr int32_t RSVP_LIMIT = 100;           // answer length that ends a wait at once
constexpr int32_t MAX_SHOWN_ANSWER = 50;      // longest answer that is shown and judged
constexpr uint32_t BAUD_RESET57 = 56000;      // rate of the reset frame of the "57600" variant
constexpr uint32_t BAUD_CAPTURE = 38400;      // rate after the switch
constexpr int FILE_NAME_MAX = 260;

// The operation variables. The desktop program keeps one for the whole run.
struct BootState {
    int32_t command = 0;  // BTN_RESET_CAP, BTN_CAP, BTN_UPGRADE, BTN_GO; others run nothing
    int32_t nState = ST_IDLE;
    uint32_t captureTries = 0;
    int32_t captureStage = 0;  // two-stage: 0 waits for 'q', 1 for 'z', 2 captured
    int32_t bTwoStage = 0;
    int32_t bBaudSwitch = 0;
    int32_t failed = 0;
    // Next sector to send. Goes out as one byte, but counts up to MAX_SECTORS
    // so that the step after the last sector of a full 256-sector image sees
    // the end of the file instead of sector 0 again.
    int32_t sector = 0;
    int32_t chipType = 0;
    int32_t sectorSize = 0;
    int32_t lenByte = 0;
    int32_t crPos = 0;
    int32_t frameLen = 0;
    char szFileName[FILE_NAME_MAX] = {};
    char szResetCmd[200] = {};
};

// How the last operation ended, for front ends that need more than the panes.
enum class Outcome {
    None,             // nothing started yet
    Running,
    NotStarted,       // BTN_SEND found the port open with no operation running
    ConnectFailed,    // "Connection failed."
    NoRecord,         // no connection record
    Captured,
    CaptureTimedOut,  // the tries ran out (or Abort Capture)
    UploadComplete,
    UploadFailed,     // MAXFAIL consecutive failures of one sector
    FileError,        // the image could not be opened, positioned or read
    ImageTooLarge,    // more than 256 sectors: refused before any frame
    ImageChanged,     // the image changed between sectors
    GoDone,
    GoUnanswered,
    AnswerTooLong,    // more than 50 bytes came back
    NoOperation,      // `command` named no operation
};

const char* OutcomeName(Outcome outcome);

struct OperationProgress {
    int32_t command = 0;
    int32_t sector = 0;        // next sector of the upload
    int32_t sectors = 0;       // sectors in the image; 0 until the image was first read
    int32_t failed = 0;        // consecutive failures of the current sector
    int32_t retries = 0;       // all failed attempts of this upload
    uint32_t captureTries = 0;
    int32_t captureStage = 0;
};

class Sequencer {
public:
    Sequencer(SequencerHost& host, BootState& boot) : host_(host), boot_(boot) {}

    // BTN_SEND: opens the port and starts the timer. Acts only on code 0.
    void Send(int notifyCode = 0);

    // WM_TIMER.
    void Tick(unsigned timerId = TIMER_ID);

    // The buttons, each given the check-box states read by the caller.
    // ArmCapture takes BTN_CAP (Capture) or BTN_RESET_CAP (38400 Reset->Capture).
    void ArmCapture(int buttonId, bool blverChecked, bool luminaryChecked);
    // 57600 Reset-> 38400 Capture: issues BTN_RESET_CAP, whose handler arms.
    void ArmReset57Capture();
    void ArmUpgrade(bool luminaryChecked, bool atmega168Checked);
    void ArmGo();
    void AbortCapture();
    // Find Enc File before its dialog: pane texts, command, empty file name.
    // The caller runs the dialog into boot.szFileName afterwards.
    void ArmFind();
    // A click on CHK_LUMINARY recomputes the capture dialogue.
    void LuminaryClicked(bool luminaryChecked, bool blverChecked);

    bool TimerRunning() const { return timerRunning_; }
    Outcome outcome() const { return outcome_; }
    OperationProgress progress() const;

    // True while a receive step is due and the answer it waits for is already
    // all there (or too long to be judged), so that a fast front end may set
    // nDelayTicks to 0. The engine itself never shortens a wait.
    bool AnswerComplete() const;

private:
    // The connection record; without one, "WM_COMMAND: Error, GETNPTTYINFO".
    TTYInfo* RecordForCommand();
    void StartStep(TTYInfo& tty);
    void ReceiveStep(TTYInfo& tty);
    void Ending(TTYInfo& tty);

    void StartReset();
    void StartCapture(TTYInfo& tty);
    void CaptureNoAnswer();
    void CaptureAnswer(const uint8_t* answer, int32_t n);
    void StartUpload(TTYInfo& tty);
    void UploadNoAnswer();
    void UploadAnswer(const uint8_t* answer, int32_t n);
    void UploadFailure();
    void StartGo(TTYInfo& tty);

    void End(Outcome outcome);
    void Prepend(const char* text) { host_.PrependPaneLine(EDIT_DEBUG, text); }
    void Append(const char* text) { host_.AppendPaneText(EDIT_RECV, text); }

    SequencerHost& host_;
    BootState& boot_;
    uint8_t pktBuf_[PKTBUF_SIZE] = {};
    int32_t pktLen_ = 0;
    bool timerRunning_ = false;
    Outcome outcome_ = Outcome::None;
    int32_t sectors_ = 0;
    int32_t retries_ = 0;
    int64_t imageSize_ = 0;  // size and stamp of the image at sector 0
    ImageStamp imageStamp_;
};
