// The port commands of the main window.
#include "app/port_commands.h"

#include "app/app.h"
#include "res/resource.h"
#include "serial/win32/port_win32.h"
#include "serial/win32/settings_dialog.h"
#include "serial/win32/tty_platform.h"

void ShowWarningBox(HWND hwnd, const char* text) {
    MessageBoxA(hwnd, text, MAIN_TITLE, MB_ICONWARNING | MB_OK);
}

void OnConnectCommand(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    // An open port is never opened a second time.
    if (!tty || tty->bPortOpen.load()) return;
    if (!ConnectPort(hwnd)) ShowWarningBox(hwnd, MSG_CONNECTION_FAILED);
}

void OnDisconnectCommand(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    if (tty && tty->bPortOpen.load()) DisconnectPort(hwnd);
}

void OnSettingsCommand(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    if (!tty) return;
    RunDialog(hInst, DLG_SETTINGS, hwnd, LineSettingsDlgProc, reinterpret_cast<LPARAM>(tty));
    SaveProfileSettings(tty);
    if (tty->bPortOpen.load() && !ConfigurePort(hwnd)) ShowWarningBox(hwnd, "Settings failed!");
}
