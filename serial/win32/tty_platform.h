// The Win32 part of the connection record: the writer's and the block
// reader's overlapped structures, and the font and colour of the main
// window's "Destination" label.
#pragma once

#include <windows.h>

#include "serial/ttyinfo.h"

struct TTYPlatform {
    OVERLAPPED osSend{};  // the byte writer's; its event is manual-reset
    OVERLAPPED osRecv{};  // the block reader's; its event is manual-reset
    HFONT hTextFont = nullptr;
    LOGFONTA lfTextFont{};
    COLORREF crTextColor = 0;
    HANDLE hThread = nullptr;  // the receive thread, while a connection is open
    DWORD dwLastError = 0;     // why the last ConnectPort/ConfigurePort failed
};

// The record of the main window, kept in its extra window word 0.
inline TTYInfo* GETNPTTYINFO(HWND hwnd) {
    return reinterpret_cast<TTYInfo*>(GetWindowLongPtrA(hwnd, 0));
}

// Creates the record, attaches it to the window and builds the label font.
// 1 done, -1 failed (nothing left allocated, the window word stays null).
int NewTTYInfo(HWND hwnd);
// Closes an open connection, then frees the record. 1 done; 0 when none.
int FreeTTYInfo(HWND hwnd);
// Rebuilds hTextFont from lfTextFont. 1 done; 0 for a null record.
int RebuildTextFont(TTYInfo* tty);
