// The port operations as the desktop program calls them: on the record of
// its main window.
#include "serial/win32/port_win32.h"
#include "serial/win32/tty_platform.h"

int ConnectPort(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    if (!tty) return 0;
    HCURSOR hOldCursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    const int result = ConnectPort(tty);
    SetCursor(hOldCursor);
    return result;
}

int ConfigurePort(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    return tty ? ConfigurePort(tty) : 0;
}

int DisconnectPort(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    return tty ? DisconnectPort(tty) : 0;
}

int SendPortBlock(HWND hwnd, const uint8_t* bytes, int32_t len) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    return tty ? SendPortBlock(tty, bytes, len) : 0;
}

int SendPortByte(HWND hwnd, uint8_t byte) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    return tty ? SendPortByte(tty, byte) : 0;
}

int WritePortByte(HWND hwnd, uint8_t byte) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    return tty ? WritePortByte(tty, byte) : 0;
}
