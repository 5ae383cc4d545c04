// The commands of the main window: menu items, accelerators, buttons and check
// boxes. One handler per command, dispatched from one switch.
#include <windows.h>

#include "app/app.h"
#include "app/port_commands.h"
#include "res/resource.h"

namespace {

void OnExit(HWND hwnd) { PostMessageA(hwnd, WM_CLOSE, 0, 0); }

void OnAbout(HWND hwnd) { RunDialog(hInst, DLG_ABOUT, hwnd, AboutDlgProc, 0); }

// A cleared pane holds one blank, not nothing.
void OnClearPane(HWND pane) { SetWindowTextA(pane, " "); }

// The chip and bootloader boxes name what their state means.
void OnAtmega168() { SetWindowTextA(hChkAtmega168, IsChecked(hChkAtmega168) ? "AtMega168" : "AtMega88"); }

void OnBlver() { SetWindowTextA(hChkBlver, IsChecked(hChkBlver) ? "BL v1.01" : "BL v1.00"); }

// Presets set the states only; BM_SETCHECK sends no notification, so the
// captions stay as they are.
void OnPreset(WPARAM state) {
    SendMessageA(hChkBlver, BM_SETCHECK, state, 0);
    SendMessageA(hChkAtmega168, BM_SETCHECK, state, 0);
}

void OnSetDestination(const char* serial) { SetWindowTextA(hEditDest, serial); }

}  // namespace

LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
    case IDM_EXIT: OnExit(hwnd); break;
    case IDM_ABOUT: OnAbout(hwnd); break;
    case IDM_CLEAR_DEBUG: OnClearPane(hEditDebug); break;
    case IDM_CLEAR_RECV: OnClearPane(hEditRecv); break;
    case CHK_LUMINARY: OnLuminaryCommand(); break;
    case CHK_ATMEGA168: OnAtmega168(); break;
    case CHK_BLVER: OnBlver(); break;
    case BTN_PRESET_SR: OnPreset(BST_CHECKED); break;
    case BTN_PRESET_RO: OnPreset(BST_UNCHECKED); break;
    case IDM_ABORT_CAPTURE: OnAbortCaptureCommand(); break;
    case IDM_SET_ENCODER_DEST: OnSetDestination("2424242"); break;
    case IDM_SET_SENSOR_DEST: OnSetDestination("8012345"); break;
    // Port commands: connect and disconnect by hand, the settings dialog.
    case IDM_CONNECT: OnConnectCommand(hwnd); break;
    case IDM_DISCONNECT: OnDisconnectCommand(hwnd); break;
    case IDM_SETTINGS: OnSettingsCommand(hwnd); break;
    // Operations: each sets up its dialogue with the bootloader; BTN_SEND
    // starts it.
    case BTN_CAP: OnCaptureCommand(BTN_CAP); break;
    case BTN_RESET_CAP: OnCaptureCommand(BTN_RESET_CAP); break;
    case BTN_RESET57_CAP: OnReset57CaptureCommand(); break;
    case BTN_FIND: OnFindCommand(HIWORD(wParam)); break;
    case BTN_UPGRADE: OnUpgradeCommand(); break;
    case BTN_GO: OnGoCommand(); break;
    case BTN_SEND: OnSendCommand(HIWORD(wParam)); break;
    // Notifications of the edit controls, and every other id: nothing.
    default: break;
    }
    return 0;
}
