// The bootloader operations in the desktop program: the operation engine on
// the main window (its edit controls, its timer, its connection record and
// WM_COMMAND to itself), the handlers of the operation buttons, and the tick.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <string>

#include "app/app.h"
#include "app/port_commands.h"
#include "res/resource.h"
#include "serial/win32/port_win32.h"
#include "serial/win32/tty_platform.h"

namespace {

constexpr UINT TICK_PERIOD_MS = 5;

// The open-file record goes out in its older, shorter layout, which ends with
// the template name (OPENFILENAME_SIZE_VERSION_400A, not a constant expression).
static_assert(sizeof(void*) != 4 ||
                  offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the older open-file record is 76 bytes on 32-bit Windows");

HWND PaneHandle(int pane) { return GetDlgItem(hwndMain, pane); }

class WindowHost : public SequencerHost {
public:
    void SetPaneText(int pane, const char* text) override {
        SetWindowTextA(PaneHandle(pane), text);
    }
    void AppendPaneText(int pane, const char* text) override {
        ::AppendPaneText(PaneHandle(pane), text);
    }
    void PrependPaneLine(int pane, const char* text) override {
        ::PrependPaneLine(PaneHandle(pane), text);
    }
    std::string DestinationText() override {
        std::string text(static_cast<size_t>(GetWindowTextLengthA(hEditDest)) + 1, '\0');
        text.resize(static_cast<size_t>(
            GetWindowTextA(hEditDest, &text[0], static_cast<int>(text.size()))));
        return text;
    }
    void StartTimer() override { SetTimer(hwndMain, TIMER_ID, TICK_PERIOD_MS, nullptr); }
    void StopTimer() override { KillTimer(hwndMain, TIMER_ID); }
    TTYInfo* Record() override { return GETNPTTYINFO(hwndMain); }
    // The record passed in is the main window's own; the window forms fetch it.
    int Connect(TTYInfo&) override { return ConnectPort(hwndMain); }
    void Disconnect(TTYInfo&) override { DisconnectPort(hwndMain); }
    int Write(TTYInfo&, const uint8_t* bytes, int32_t len) override {
        return SendPortBlock(hwndMain, bytes, len);
    }
    void IssueCommand(int id) override {
        SendMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }
    void ConnectionFailed() override {
        ShowWarningBox(hwndMain, MSG_CONNECTION_FAILED);
    }
};

WindowHost host;
Sequencer engine(host, bootState);

// Parameters of the Find Enc File dialog, filled anew on each use.
OPENFILENAMEA ofn;

}  // namespace

void OnCaptureCommand(int buttonId) {
    engine.ArmCapture(buttonId, IsChecked(hChkBlver), IsChecked(hChkLuminary));
}

void OnReset57CaptureCommand() { engine.ArmReset57Capture(); }

void OnAbortCaptureCommand() { engine.AbortCapture(); }

void OnLuminaryCommand() { engine.LuminaryClicked(IsChecked(hChkLuminary), IsChecked(hChkBlver)); }

void OnFindCommand(int notifyCode) {
    if (notifyCode != BN_CLICKED) return;
    engine.ArmFind();
    ofn = OPENFILENAMEA{};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = hwndMain;
    ofn.lpstrFile = bootState.szFileName;
    ofn.nMaxFile = FILE_NAME_MAX;
    ofn.lpstrFilter = "*.ENC\0*.ENC\0";
    ofn.nFilterIndex = 1;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (GetOpenFileNameA(&ofn) == 1) SetWindowTextA(hEditFile, bootState.szFileName);
}

void OnUpgradeCommand() { engine.ArmUpgrade(IsChecked(hChkLuminary), IsChecked(hChkAtmega168)); }

void OnGoCommand() { engine.ArmGo(); }

void OnSendCommand(int notifyCode) { engine.Send(notifyCode); }

void OnOperationTimer(WPARAM timerId) { engine.Tick(static_cast<unsigned>(timerId)); }
