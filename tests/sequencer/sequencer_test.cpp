// BTN_SEND, the tick with its two steps and the ending.
#include <gtest/gtest.h>

#include "script_host.h"

namespace {

struct SendCase {
    const char* name;
    bool hasRecord;
    bool portOpen;
    int connectFailures;
    int notifyCode;
    const char* debug;
    const char* recv;  // nullptr: never set
    bool timerStarted;
    int32_t nState;
    int32_t nDelayTicks;
    int messageBoxes;
    Outcome outcome;
};

TEST(Send, EveryRowOfBtnSend) {
    const SendCase cases[] = {
        {"port closed, connect succeeds", true, false, 0, 0, "", " ", true, ST_START, 0, 0,
         Outcome::Running},
        {"port closed, connect fails", true, false, 1, 0, "", " ", false, ST_IDLE, 7, 1,
         Outcome::ConnectFailed},
        {"port open", true, true, 0, 0, "", " ", false, ST_IDLE, 7, 0, Outcome::NotStarted},
        {"not BN_CLICKED", true, false, 0, 1, "WM_COMMAND: Error, BTN_SEND - not BN_CLICKED\r\n",
         nullptr, false, ST_IDLE, 7, 0, Outcome::None},
        {"no record", false, false, 0, 0, "WM_COMMAND: Error, GETNPTTYINFO\r\n", nullptr, false,
         ST_IDLE, 7, 0, Outcome::NoRecord},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.hasRecord = c.hasRecord;
        r.host.tty.bPortOpen = c.portOpen ? 1 : 0;
        r.host.connectFailures = c.connectFailures;
        r.host.tty.nDelayTicks = 7;
        r.seq.Send(c.notifyCode);
        EXPECT_EQ(r.Debug(), c.debug);
        EXPECT_EQ(r.host.panes.count(EDIT_RECV) != 0, c.recv != nullptr);
        if (c.recv != nullptr) {
            EXPECT_EQ(r.Recv(), c.recv);
        }
        EXPECT_EQ(r.host.timer, c.timerStarted);
        EXPECT_EQ(r.seq.TimerRunning(), c.timerStarted);
        EXPECT_EQ(r.boot.nState, c.nState);
        EXPECT_EQ(r.host.tty.nDelayTicks, c.nDelayTicks);
        EXPECT_EQ(r.host.messageBoxes, c.messageBoxes);
        EXPECT_EQ(r.seq.outcome(), c.outcome);
        EXPECT_TRUE(r.host.frames.empty());
    }
}

TEST(Send, WhileRunningWithThePortClosedRestartsAtTheStartStep) {
    Rig r;
    r.seq.ArmGo();
    r.Ticks(5);
    ASSERT_EQ(r.boot.nState, ST_RECV);
    r.host.tty.bPortOpen = 0;
    r.seq.Send();
    EXPECT_EQ(r.boot.nState, ST_START);
    EXPECT_EQ(r.host.timerStarts, 2);
    r.Ticks(1);
    EXPECT_EQ(r.host.frames.size(), 2u);
}

// One cycle is the start tick, the wait and the receive tick: 4 ticks with a
// wait of 2, 22 with a wait of 20. Without answers the frames come that often.
TEST(Tick, CyclesTakeFourAndTwentyTwoTicks) {
    struct Case {
        const char* name;
        void (*arm)(Sequencer&);
        int cycleTicks;
    };
    const Case cases[] = {
        {"capture", [](Sequencer& s) { s.ArmCapture(BTN_CAP, false, false); }, 4},
        {"upload", [](Sequencer& s) { s.ArmUpgrade(false, true); }, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.image = Bytes(1000, 0x11);
        std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "fw.enc");
        c.arm(r.seq);
        for (int t = 1; t <= 3 * c.cycleTicks; ++t) {
            r.Ticks(1);
            EXPECT_EQ(r.host.frames.size(), static_cast<size_t>((t - 1) / c.cycleTicks + 1))
                << "tick " << t;
        }
    }
}

TEST(Tick, GoEndsOnTheTickAfterItsCycle) {
    Rig r;
    r.host.Answers({Str("x")});
    r.seq.ArmGo();
    r.Ticks(21);
    EXPECT_EQ(r.boot.nState, ST_RECV) << "still waiting after 21 ticks";
    r.Ticks(1);
    EXPECT_EQ(r.boot.nState, ST_IDLE);
    EXPECT_TRUE(r.host.timer);
    r.Ticks(1);
    EXPECT_FALSE(r.host.timer);
    EXPECT_EQ(r.host.tty.bPortOpen, 0);
    EXPECT_EQ(r.host.disconnects, 1);
}

TEST(Tick, AnAnswerOfOneHundredBytesEndsTheWaitAtTheNextTick) {
    Rig r;
    r.host.Answers({Bytes(120, 0x55)});
    r.seq.ArmGo();
    r.Ticks(1);
    EXPECT_EQ(RSVPIDX(r.host.tty), 100) << "nothing kept beyond the 100th byte";
    r.Ticks(1);
    EXPECT_EQ(r.boot.nState, ST_IDLE);
    EXPECT_EQ(r.Debug(), "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) > 50\r\nST_START, send cmd G\r\n");
    EXPECT_EQ(r.Recv(), "");
    EXPECT_EQ(r.seq.outcome(), Outcome::AnswerTooLong);
    EXPECT_EQ(r.RunToEnd(), 1);
}

TEST(Tick, OtherTimersAreIgnored) {
    Rig r;
    r.seq.ArmGo();
    r.seq.Tick(TIMER_ID + 1);
    EXPECT_TRUE(r.host.frames.empty());
    EXPECT_EQ(r.boot.nState, ST_START);
}

TEST(Tick, WithoutARecordTheOperationStops) {
    Rig r;
    r.seq.ArmGo();
    r.host.hasRecord = false;
    r.Ticks(1);
    EXPECT_EQ(r.boot.nState, ST_IDLE);
    EXPECT_FALSE(r.host.timer);
    EXPECT_FALSE(r.seq.TimerRunning());
    EXPECT_EQ(r.seq.outcome(), Outcome::NoRecord);
    EXPECT_TRUE(r.host.frames.empty());
}

TEST(Tick, TheEndingOnlyStopsTheTimerWhenThePortWasClosedBehindTheOperation) {
    Rig r;
    r.seq.ArmGo();
    r.host.tty.bPortOpen = 0;  // Disconnect by hand
    EXPECT_EQ(r.RunToEnd(), 23);
    EXPECT_TRUE(r.host.frames.empty());
    EXPECT_EQ(r.host.disconnects, 0);
    EXPECT_EQ(r.seq.outcome(), Outcome::GoUnanswered);
}

// One cycle of each row of the step table: the frame written, both panes, the
// next step.
struct CycleCase {
    const char* name;
    void (*arm)(Rig&);
    void (*afterStart)(Rig&);  // runs after the start tick
    Bytes answer;
    Bytes frame;  // empty: nothing written
    const char* debug;
    const char* recv;
    int32_t nState;
    Outcome outcome;
};

void ArmCapture(Rig& r) { r.seq.ArmCapture(BTN_CAP, false, false); }
void ArmGo(Rig& r) { r.seq.ArmGo(); }
void Nothing(Rig&) {}

TEST(Cycle, EveryRowOfTheStepTable) {
    const std::string kArmed = "E2\r\nCapture the Loader\r\n";
    const CycleCase cases[] = {
        {"reset frame, command becomes capture",
         [](Rig& r) {
             r.host.dest = "2424242";
             r.seq.ArmCapture(BTN_RESET_CAP, false, false);
         },
         Nothing, {}, Str("\n2424242022143" "5580\r"), "E2\r\nCapture the Loader\r\n", "",
         ST_START, Outcome::Running},
        {"capture character, no answer", ArmCapture, Nothing, {}, Str("A"),
         "A\r\nE2\r\nCapture the Loader\r\n", "", ST_START, Outcome::Running},
        {"capture tries used up before the start step",
         [](Rig& r) {
             ArmCapture(r);
             r.boot.captureTries = 1000;
         },
         Nothing, {}, {}, "TimeOut\r\nE2\r\nCapture the Loader\r\n", "", ST_IDLE,
         Outcome::CaptureTimedOut},
        {"no answer to the last capture character",
         [](Rig& r) {
             ArmCapture(r);
             r.boot.captureTries = 999;
         },
         Nothing, {}, Str("A"),
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == BTN_CAP\r\nA\r\nE2\r\n"
         "Capture the Loader\r\n",
         "", ST_IDLE, Outcome::CaptureTimedOut},
        {"capture answered with the token", ArmCapture, Nothing, LF_COLON_CR, Str("A"),
         "0A 3A 0D \r\nlen = 3\r\nA\r\nE2\r\nCapture the Loader\r\n",
         "len = 3\r\n0A 3A 0D \r\n\r\nCaptured", ST_IDLE, Outcome::Captured},
        {"capture answered without a token", ArmCapture, Nothing, Str("?"), Str("A"),
         "3F \r\nlen = 1\r\nA\r\nE2\r\nCapture the Loader\r\n", "len = 1\r\n3F \r\n", ST_START,
         Outcome::Running},
        {"go, no answer", ArmGo, Nothing, {}, Bytes{0x0A, 0x02, 0x47, 0x0D},
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == unknown\r\n"
         "ST_START, send cmd G\r\n",
         "", ST_IDLE, Outcome::GoUnanswered},
        {"go, answered", ArmGo, Nothing, Str("x"), Bytes{0x0A, 0x02, 0x47, 0x0D},
         "ST_RECV, after cmd G, All Done\r\n78 \r\nlen = 1\r\nST_START, send cmd G\r\n",
         "len = 1\r\n78 \r\n", ST_IDLE, Outcome::GoDone},
        {"51 bytes are neither shown nor judged", ArmGo, Nothing, Bytes(51, '!'),
         Bytes{0x0A, 0x02, 0x47, 0x0D},
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) > 50\r\nST_START, send cmd G\r\n", "", ST_IDLE,
         Outcome::AnswerTooLong},
        {"no operation at the start step",
         [](Rig& r) {
             r.boot.command = BTN_FIND;
             r.seq.Send();
         },
         Nothing, {}, {}, "", "", ST_IDLE, Outcome::NoOperation},
        {"Find Enc File during the wait, answered", ArmGo,
         [](Rig& r) { r.boot.command = BTN_FIND; }, Str("x"), Bytes{0x0A, 0x02, 0x47, 0x0D},
         "78 \r\nlen = 1\r\nST_START, send cmd G\r\n", "len = 1\r\n78 \r\n", ST_IDLE,
         Outcome::NoOperation},
        {"Find Enc File during the wait, no answer", ArmGo,
         [](Rig& r) { r.boot.command = BTN_FIND; }, {}, Bytes{0x0A, 0x02, 0x47, 0x0D},
         "WM_TIMER ERROR, RSVPIDX( npTTYInfo ) == 0\r\ncommand == unknown\r\n"
         "ST_START, send cmd G\r\n",
         "", ST_IDLE, Outcome::NoOperation},
    };
    for (const CycleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.Answers({c.answer});
        c.arm(r);
        r.Ticks(1);
        c.afterStart(r);
        while (r.boot.nState == ST_RECV) r.Ticks(1);
        if (c.frame.empty()) {
            EXPECT_TRUE(r.host.frames.empty());
        } else {
            ASSERT_EQ(r.host.frames.size(), 1u);
            EXPECT_EQ(r.host.frames[0].bytes, c.frame);
        }
        EXPECT_EQ(r.Debug(), c.debug);
        EXPECT_EQ(r.Recv(), c.recv);
        EXPECT_EQ(r.boot.nState, c.nState);
        EXPECT_EQ(r.seq.outcome(), c.outcome);
        if (c.nState == ST_IDLE) {
            // The ending follows at the next tick without a wait.
            r.RunToEnd();
            EXPECT_FALSE(r.host.timer);
            EXPECT_EQ(r.host.tty.bPortOpen, 0);
        }
    }
}

TEST(Cycle, AnOperationThatEndsInItsStartStepEndsThreeTicksLater) {
    Rig r;
    r.seq.ArmUpgrade(false, true);  // no file picked
    EXPECT_EQ(r.RunToEnd(), 4);
    EXPECT_EQ(r.Debug(), "Sector 0\r\nBegin Firmware Upgrade: \r\n");
    EXPECT_EQ(r.Recv(), "\r\nError, failed to open the Reader.enc File, Ln 446");
}

TEST(Cycle, FiftyBytesAreShownInBothPanes) {
    Rig r;
    r.host.Answers({Bytes(50, 0xA5)});
    r.seq.ArmGo();
    r.RunCycle();
    std::string hex;
    for (int i = 0; i < 50; ++i) hex += "A5 ";
    EXPECT_EQ(r.Recv(), "len = 50\r\n" + hex + "\r\n");
    EXPECT_EQ(r.Debug(),
              "ST_RECV, after cmd G, All Done\r\n" + hex + "\r\nlen = 50\r\nST_START, send cmd G\r\n");
}

TEST(Cycle, AnAnswerFromBeforeTheStartStepIsDropped) {
    Rig r;
    r.seq.ArmGo();
    const Bytes late = LF_COLON_CR;
    StoreResponseBytes(r.host.tty, late.data(), 3);
    r.RunCycle();
    EXPECT_EQ(r.seq.outcome(), Outcome::GoUnanswered);
}

TEST(Road, CaptureUploadAndGoEachOpenAndCloseThePort) {
    Rig r;
    r.host.device = [](const Bytes& frame) {
        if (frame == Str("A")) return LF_COLON_CR;
        if (frame.size() == 133) return ACK;
        return Str("\n!\r");
    };
    r.host.image = Bytes(300, 0x42);
    std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "fw.enc");

    r.seq.ArmCapture(BTN_CAP, false, false);
    EXPECT_EQ(r.RunToEnd(), 5);
    EXPECT_EQ(r.seq.outcome(), Outcome::Captured);

    r.seq.ArmUpgrade(false, true);
    EXPECT_EQ(r.RunToEnd(), 3 * 22 + 4);
    EXPECT_EQ(r.seq.outcome(), Outcome::UploadComplete);
    EXPECT_EQ(r.seq.progress().sector, 3);
    EXPECT_EQ(r.seq.progress().sectors, 3);

    r.seq.ArmGo();
    EXPECT_EQ(r.RunToEnd(), 23);
    EXPECT_EQ(r.seq.outcome(), Outcome::GoDone);

    EXPECT_EQ(r.host.connectBauds.size(), 3u);
    EXPECT_EQ(r.host.disconnects, 3);
    EXPECT_EQ(r.host.frames.size(), 5u);
}

TEST(Find, ReplacesBothPanesAndForgetsTheFile) {
    Rig r;
    r.host.panes[EDIT_DEBUG] = "old\r\n";
    r.host.panes[EDIT_RECV] = "old";
    std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "fw.enc");
    r.seq.ArmFind();
    EXPECT_EQ(r.Debug(), "BTN_FIND");
    EXPECT_EQ(r.Recv(), "BTN_FIND\r\n");
    EXPECT_EQ(r.boot.command, BTN_FIND);
    EXPECT_STREQ(r.boot.szFileName, "");
    EXPECT_FALSE(r.host.timer);
}

TEST(FastMode, AnswerCompleteKnowsWhatEachReceiveStepWaitsFor) {
    struct Case {
        const char* name;
        void (*arm)(Rig&);
        Bytes answer;
        bool complete;
    };
    const Case cases[] = {
        {"capture token", ArmCapture, LF_COLON_CR, true},
        {"capture, other bytes", ArmCapture, Str("\n:"), false},
        {"capture, nothing yet", ArmCapture, {}, false},
        {"Q phase, q token",
         [](Rig& r) { r.seq.ArmCapture(BTN_CAP, true, false); }, LF_Q_CR, true},
        {"Q phase, z token",
         [](Rig& r) { r.seq.ArmCapture(BTN_CAP, true, false); }, LF_Z_CR, false},
        {"upload, token inside",
         [](Rig& r) {
             r.host.image = Bytes(10, 1);
             std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "fw.enc");
             r.seq.ArmUpgrade(false, true);
         },
         Bytes{0x55, 0x0A, '!', 0x0D}, true},
        {"upload, token cut short",
         [](Rig& r) {
             r.host.image = Bytes(10, 1);
             std::snprintf(r.boot.szFileName, sizeof r.boot.szFileName, "fw.enc");
             r.seq.ArmUpgrade(false, true);
         },
         Bytes{0x0A, '!'}, false},
        {"go, any byte", ArmGo, Str("?"), true},
        {"too long to judge", ArmGo, Bytes(60, 0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.host.Answers({c.answer});
        c.arm(r);
        EXPECT_FALSE(r.seq.AnswerComplete()) << "no receive step due yet";
        r.Ticks(1);
        ASSERT_EQ(r.boot.nState, ST_RECV);
        EXPECT_EQ(r.seq.AnswerComplete(), c.complete);
    }
}

}  // namespace
