// Port control: opening the COM port with its queues, time-outs and line
// settings, starting and stopping the receive thread, closing.
#include <cstdio>

#include "res/resource.h"
#include "serial/win32/port_win32.h"
#include "serial/win32/tty_platform.h"

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD kQueueBytes = 4096;
constexpr DWORD kReadTotalTimeoutMs = 1000;
// Bits per second at which one byte takes 1 ms of write time-out per the
// driver's multiplier; at 38400 and above the multiplier is 0 (no time-out).
constexpr DWORD kWriteTimeoutBaudMs = 19200;
// How long closing waits for the receive thread, first after the event mask
// is cleared, then again after the handle is closed under a stuck wait.
constexpr DWORD kThreadEndWaitMs = 2000;

// "COM<n>" from the module's string table; a program without that resource
// (the command-line flasher) falls back to the plain prefix.
void BuildPortName(const TTYInfo* tty, char* szPort, size_t size) {
    if (!tty->portPath.empty()) {
        snprintf(szPort, size, "%s", tty->portPath.c_str());
        return;
    }
    char szTemp[10];
    if (LoadStringA(GetModuleHandleA(nullptr), STR_COM, szTemp, sizeof szTemp) <= 0)
        snprintf(szTemp, sizeof szTemp, "COM");
    snprintf(szPort, size, "%s%d", szTemp, tty->bPortNum);
}

void ClosePortAfterFailure(TTYInfo* tty) {
    tty->platform->dwLastError = GetLastError();
    tty->bPortOpen.store(0);
    CloseHandle(tty->hComm);
}

}  // namespace

int ConfigurePort(TTYInfo* tty) {
    if (!tty) return 0;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(tty->hComm, &dcb);

    dcb.BaudRate = tty->dwBaud;
    dcb.ByteSize = tty->bDataBits;
    dcb.Parity = tty->bParityCode;
    dcb.StopBits = tty->bStopCode;

    const bool dtrdsr = (tty->bFlowFlags & FLOW_DTRDSR) != 0;
    dcb.fOutxDsrFlow = dtrdsr;
    dcb.fDtrControl = dtrdsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;

    const bool rtscts = (tty->bFlowFlags & FLOW_RTSCTS) != 0;
    dcb.fOutxCtsFlow = rtscts;
    dcb.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;

    const bool xonxoff = (tty->bFlowFlags & FLOW_XONXOFF) != 0;
    dcb.fOutX = xonxoff;
    dcb.fInX = xonxoff;

    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;

    // Parity checking is always on; with no parity the driver has none to check.
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;

    if (!SetCommState(tty->hComm, &dcb)) {
        tty->platform->dwLastError = GetLastError();
        return 0;
    }
    return 1;
}

int ConnectPort(TTYInfo* tty) {
    if (!tty) return 0;
    tty->platform->dwLastError = 0;

    char szPort[MAX_PATH];
    BuildPortName(tty, szPort, sizeof szPort);
    tty->hComm = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (tty->hComm == INVALID_HANDLE_VALUE) {
        tty->platform->dwLastError = GetLastError();
        return 0;
    }

    SetCommMask(tty->hComm, EV_RXCHAR);
    SetupComm(tty->hComm, kQueueBytes, kQueueBytes);
    PurgeComm(tty->hComm, kPurgeAll);

    COMMTIMEOUTS CommTimeOuts{};
    CommTimeOuts.ReadIntervalTimeout = MAXDWORD;
    CommTimeOuts.ReadTotalTimeoutMultiplier = 0;
    CommTimeOuts.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
    CommTimeOuts.WriteTotalTimeoutMultiplier = tty->dwBaud ? kWriteTimeoutBaudMs / tty->dwBaud : 0;
    CommTimeOuts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(tty->hComm, &CommTimeOuts);

    const int configured = ConfigurePort(tty);
    if (!configured) {
        const DWORD why = tty->platform->dwLastError;
        ClosePortAfterFailure(tty);
        tty->platform->dwLastError = why;
        return 0;
    }

    // Open before the thread exists, so its first test finds it set. The
    // thread starts suspended so that its id is stored before it can run,
    // end, and clear it.
    tty->bPortOpen.store(1);
    DWORD dwThreadID = 0;
    HANDLE hThread = CreateThread(nullptr, 0, ReceiveThread, tty, CREATE_SUSPENDED, &dwThreadID);
    if (!hThread) {
        ClosePortAfterFailure(tty);
        return 0;
    }
    tty->platform->hThread = hThread;
    tty->dwThreadID.store(dwThreadID);
    ResumeThread(hThread);

    EscapeCommFunction(tty->hComm, SETDTR);
    return configured;
}

int DisconnectPort(TTYInfo* tty) {
    if (!tty) return 0;
    if (tty->bPortOpen.load() == 0) return 1;

    // The handshake: the thread's flag, then the event mask, whose change
    // ends the thread's pending wait.
    tty->bPortOpen.store(0);
    SetCommMask(tty->hComm, 0);

    HANDLE hThread = tty->platform->hThread;
    tty->platform->hThread = nullptr;
    if (WaitForSingleObject(hThread, kThreadEndWaitMs) == WAIT_OBJECT_0) {
        EscapeCommFunction(tty->hComm, CLRDTR);
        PurgeComm(tty->hComm, kPurgeAll);
        CloseHandle(tty->hComm);
    } else {
        // A driver that does not end the wait on the mask change: closing the
        // handle cancels the thread's pending I/O, after which it finds
        // bPortOpen 0 and ends.
        CloseHandle(tty->hComm);
        WaitForSingleObject(hThread, kThreadEndWaitMs);
    }
    CloseHandle(hThread);
    return 1;
}

std::string LastPortError(const TTYInfo* tty) {
    if (!tty || !tty->platform) return {};
    const DWORD err = tty->platform->dwLastError;
    switch (err) {
    case 0:
        return {};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        return "no such port";
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return "port busy";
    case ERROR_ACCESS_DENIED:
        // The serial driver's answer to an open of a port held by another
        // program as much as to a missing right.
        return "permission denied (or port busy)";
    case ERROR_TIMEOUT:
        return "write timed out";
    default:
        break;
    }
    char* text = nullptr;
    const DWORD len = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string why = len ? std::string(text, len) : "error " + std::to_string(err);
    if (text) LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
        why.pop_back();
    return why;
}
