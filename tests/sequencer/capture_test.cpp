// Capture and reset-then-capture: the phases, the baud switch, Abort Capture.
#include <gtest/gtest.h>

#include "script_host.h"

namespace {

std::vector<Bytes> Written(const Rig& r) {
    std::vector<Bytes> out;
    for (const Frame& f : r.host.frames) out.push_back(f.bytes);
    return out;
}

const Bytes RESET_0000000 = Str("\n0000000022143DBE0\r");

TEST(CaptureArming, SetsTheDialogueTheLinesAndTheStatus) {
    struct Case {
        bool blver, luminary;
        int32_t twoStage;
    };
    for (const Case& c : {Case{false, false, 0}, Case{true, false, 1}, Case{false, true, 1},
                          Case{true, true, 1}}) {
        SCOPED_TRACE(testing::Message() << "blver " << c.blver << " luminary " << c.luminary);
        Rig r;
        r.boot.captureStage = 2;
        r.boot.captureTries = 1000;  // an earlier Abort Capture
        r.seq.ArmCapture(BTN_CAP, c.blver, c.luminary);
        EXPECT_EQ(r.boot.bTwoStage, c.twoStage);
        EXPECT_EQ(r.boot.captureStage, c.twoStage ? 0 : 2);
        EXPECT_EQ(r.boot.captureTries, 0u);
        EXPECT_EQ(r.boot.command, BTN_CAP);
        EXPECT_EQ(r.Debug(), "E2\r\nCapture the Loader\r\n");
        EXPECT_EQ(r.host.Pane(EDIT_STATUS), "E2");
        EXPECT_EQ(r.host.issued, std::vector<int>{BTN_SEND});
        EXPECT_TRUE(r.host.timer);
    }
}

TEST(CaptureArming, WithThePortAlreadyOpenNothingStarts) {
    Rig r;
    r.host.tty.bPortOpen = 1;
    r.seq.ArmCapture(BTN_RESET_CAP, false, false);
    EXPECT_EQ(r.boot.command, BTN_RESET_CAP);
    EXPECT_EQ(r.host.Pane(EDIT_STATUS), "E2");
    EXPECT_EQ(r.Recv(), " ");
    EXPECT_FALSE(r.host.timer);
    EXPECT_EQ(r.seq.outcome(), Outcome::NotStarted);
}

TEST(Capture, OneStageWritesAUntilTheAnswerBeginsWithTheToken) {
    Rig r;
    r.host.Answers({{}, Str("x"), LF_Q_CR, Bytes{0x0A, ':'}, {0x0A, ':', 0x0D, 'R', 'e', 'a', 'd'}});
    r.seq.ArmCapture(BTN_CAP, false, false);
    EXPECT_EQ(r.RunToEnd(), 5 * 4 + 1);
    EXPECT_EQ(Written(r), std::vector<Bytes>(5, Str("A")));
    EXPECT_EQ(r.Recv(), "len = 7\r\n0A 3A 0D 52 65 61 64 \r\n\r\nCaptured");
    EXPECT_EQ(r.Debug().find("Captured"), std::string::npos);
    EXPECT_EQ(r.seq.outcome(), Outcome::Captured);
    EXPECT_EQ(r.host.tty.bPortOpen, 0);
}

TEST(Capture, TwoStageGoesFromQToZWithFreshTries) {
    Rig r;
    r.host.Answers({LF_Z_CR, LF_Q_CR, LF_Q_CR, LF_Z_CR});
    r.seq.ArmCapture(BTN_CAP, true, false);
    r.RunCycle();
    r.RunCycle();
    EXPECT_EQ(r.boot.captureStage, 1);
    EXPECT_EQ(r.boot.captureTries, 0u) << "the Z phase has its own 1000 tries";
    EXPECT_EQ(r.seq.progress().captureStage, 1);
    r.RunToEnd();
    EXPECT_EQ(Written(r), (std::vector<Bytes>{Str("Q"), Str("Q"), Str("Z"), Str("Z")}));
    EXPECT_EQ(r.boot.captureStage, 2);
    EXPECT_EQ(r.Recv(), "len = 3\r\n0A 7A 0D \r\n\r\nCaptured");
    EXPECT_EQ(r.Debug().rfind("\r\nCaptured\r\n0A 7A 0D \r\nlen = 3\r\nZ\r\n", 0), 0u);
    EXPECT_NE(r.Debug().find("\r\nFound little q\r\n0A 71 0D \r\nlen = 3\r\nQ\r\n"),
              std::string::npos);
    EXPECT_EQ(r.seq.outcome(), Outcome::Captured);
}

TEST(Capture, TheAnswerToTheResetFrameLeadsStraightToAPhase) {
    struct Case {
        const char* name;
        bool blver;
        std::vector<Bytes> answers;
        std::vector<Bytes> written;
    };
    const Case cases[] = {
        {"one-stage, captured by the reset answer", false, {LF_COLON_CR}, {RESET_0000000}},
        {"one-stage, then A", false, {{}, LF_COLON_CR}, {RESET_0000000, Str("A")}},
        {"two-stage, q straight to Z", true, {LF_Q_CR, LF_Z_CR}, {RESET_0000000, Str("Z")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.dest = "123456";  // not 7 characters: the default destination
        r.host.Answers(c.answers);
        r.seq.ArmCapture(BTN_RESET_CAP, c.blver, false);
        r.RunToEnd();
        EXPECT_EQ(Written(r), c.written);
        EXPECT_STREQ(r.boot.szResetCmd, "0000000022143DBE0");
        EXPECT_EQ(r.seq.outcome(), Outcome::Captured);
    }
}

TEST(Capture, ThousandTriesPerPhase) {
    struct Case {
        const char* name;
        Bytes answer;
        const char* top;  // newest lines of the debug pane
    };
    const Case cases[] = {
        {"unanswered", {},
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == BTN_CAP\r\nA\r\n"},
        {"answered without a token", Str("x"), "TimeOut\r\n78 \r\nlen = 1\r\nA\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.device = [&c](const Bytes&) { return c.answer; };
        r.seq.ArmCapture(BTN_CAP, false, false);
        EXPECT_EQ(r.RunToEnd(), 1000 * 4 + 1);
        EXPECT_EQ(r.host.frames.size(), 1000u);
        EXPECT_EQ(r.Debug().rfind(c.top, 0), 0u);
        EXPECT_EQ(r.seq.outcome(), Outcome::CaptureTimedOut);
    }
}

TEST(Capture, AbortCaptureActsAtTheNextStep) {
    struct Case {
        const char* name;
        int button;
        int ticksBeforeAbort;
        Bytes answer;
        size_t framesWritten;
        const char* top;
    };
    const Case cases[] = {
        {"waiting, answered", BTN_CAP, 2, Str("x"), 1, "TimeOut\r\n78 \r\nlen = 1\r\nA\r\n"},
        {"waiting, unanswered", BTN_CAP, 2, {}, 1,
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == BTN_CAP\r\nA\r\n"},
        {"start step due", BTN_CAP, 4, Str("x"), 1, "TimeOut\r\n78 \r\nlen = 1\r\nA\r\n"},
        {"reset frame still due", BTN_RESET_CAP, 0, Str("x"), 1, "TimeOut\r\n78 \r\nlen = 1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.device = [&c](const Bytes&) { return c.answer; };
        r.seq.ArmCapture(c.button, false, false);
        r.Ticks(c.ticksBeforeAbort);
        r.seq.AbortCapture();
        r.RunToEnd();
        EXPECT_EQ(r.host.frames.size(), c.framesWritten);
        EXPECT_EQ(r.Debug().rfind(c.top, 0), 0u) << r.Debug();
        EXPECT_EQ(r.seq.outcome(), Outcome::CaptureTimedOut);
    }
}

TEST(Reset57, ResetsAt56000ThenCapturesAt38400) {
    Rig r;
    r.host.tty.bPortOpen = 1;  // opened by hand: closed first
    r.host.tty.dwBaud = 9600;
    r.host.Answers({{}, LF_COLON_CR});
    r.seq.ArmReset57Capture();
    EXPECT_EQ(r.host.issued, (std::vector<int>{BTN_RESET_CAP, BTN_SEND}));
    EXPECT_EQ(r.host.disconnects, 1);
    EXPECT_EQ(r.boot.bBaudSwitch, 1);
    r.RunToEnd();
    ASSERT_EQ(r.host.frames.size(), 2u);
    EXPECT_EQ(r.host.frames[0].bytes, RESET_0000000);
    EXPECT_EQ(r.host.frames[0].baud, 56000u);
    EXPECT_EQ(r.host.frames[1].bytes, Str("A"));
    EXPECT_EQ(r.host.frames[1].baud, 38400u);
    EXPECT_EQ(r.host.connectBauds, (std::vector<uint32_t>{56000, 38400}));
    EXPECT_EQ(r.boot.bBaudSwitch, 0);
    EXPECT_EQ(r.host.tty.dwBaud, 38400u);
    EXPECT_EQ(r.seq.outcome(), Outcome::Captured);
}

TEST(Reset57, CapturedByTheResetAnswerStaysAt56000) {
    Rig r;
    r.host.Answers({LF_COLON_CR});
    r.seq.ArmReset57Capture();
    r.RunToEnd();
    EXPECT_EQ(r.host.frames.size(), 1u);
    EXPECT_EQ(r.boot.bBaudSwitch, 1);
    EXPECT_EQ(r.host.tty.dwBaud, 56000u);
}

TEST(Reset57, AFailedReconnectIsShownAndTheCaptureRunsOutItsTries) {
    Rig r;
    r.seq.ArmReset57Capture();
    r.Ticks(4);  // reset frame, wait, no answer
    r.host.connectFailures = 1;
    r.Ticks(1);
    EXPECT_EQ(r.Recv(), "\r\nFailed to Open Connection");
    r.RunToEnd();
    EXPECT_EQ(r.host.frames.size(), 1u) << "nothing is written on the closed port";
    EXPECT_EQ(r.Debug().rfind("WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == BTN_CAP\r\n", 0),
              0u);
    EXPECT_EQ(r.seq.outcome(), Outcome::CaptureTimedOut);
}

TEST(Reset57, WithoutARecordNothingHappens) {
    Rig r;
    r.host.hasRecord = false;
    r.seq.ArmReset57Capture();
    EXPECT_EQ(r.Debug(), "WM_COMMAND: Error, GETNPTTYINFO\r\n");
    EXPECT_TRUE(r.host.issued.empty());
    EXPECT_EQ(r.boot.bBaudSwitch, 0);
}

TEST(Reset57, AFailedConnectKeepsTheSwitchForTheNextCapture) {
    Rig r;
    r.host.connectFailures = 1;
    r.seq.ArmReset57Capture();
    EXPECT_EQ(r.host.messageBoxes, 1);
    EXPECT_EQ(r.host.tty.dwBaud, 56000u);
    EXPECT_EQ(r.boot.bBaudSwitch, 1);
    r.host.Answers({LF_COLON_CR});
    r.seq.ArmCapture(BTN_CAP, false, false);
    r.RunToEnd();
    ASSERT_EQ(r.host.frames.size(), 1u);
    EXPECT_EQ(r.host.frames[0].baud, 38400u);
    EXPECT_EQ(r.host.connectBauds, (std::vector<uint32_t>{56000, 38400}));
}

TEST(Capture, LuminaryClickedDuringACaptureChangesTheNextCharacter) {
    Rig r;
    r.seq.ArmCapture(BTN_CAP, false, false);
    r.RunCycle();
    r.seq.LuminaryClicked(true, false);
    r.RunCycle();
    r.seq.LuminaryClicked(false, true);
    EXPECT_EQ(r.boot.bTwoStage, 1);
    r.seq.LuminaryClicked(false, false);
    r.RunCycle();
    EXPECT_EQ(Written(r), (std::vector<Bytes>{Str("A"), Str("Q"), Str("A")}));
}

}  // namespace
