// The Win32 serial backend: the receive thread, the byte writer and port
// control on overlapped I/O, in the record forms that serial/port.h declares
// and in the window forms the desktop program calls. A window form fetches the
// record from the main window and does nothing (result 0) when there is none.
#pragma once

#include <windows.h>

#include <cstdint>

#include "serial/port.h"

// Collects every byte that arrives into the record's response buffer until
// bPortOpen drops; clears dwThreadID as its last act. Start parameter: the
// record. 1 after a normal end, 0 when it could not start.
DWORD WINAPI ReceiveThread(LPVOID param);

// Reads what the driver already holds, at most max bytes; the count read.
DWORD ReadPortBlock(TTYInfo* tty, uint8_t* buffer, DWORD max);

// 0 when the connection is not open, else WritePortByte's result.
int SendPortByte(TTYInfo* tty, uint8_t byte);

// Writes one byte and waits at most 1000 ms for it; 1 (a lost byte is not
// reported).
int WritePortByte(TTYInfo* tty, uint8_t byte);

// The window forms. ConnectPort shows the wait cursor while it works.
int ConnectPort(HWND hwnd);
int ConfigurePort(HWND hwnd);
int DisconnectPort(HWND hwnd);
int SendPortBlock(HWND hwnd, const uint8_t* bytes, int32_t len);
int SendPortByte(HWND hwnd, uint8_t byte);
int WritePortByte(HWND hwnd, uint8_t byte);
