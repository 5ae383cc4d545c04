// The receive thread, the block reader and the byte writers.
#include "serial/win32/port_win32.h"
#include "serial/win32/tty_platform.h"

namespace {

constexpr DWORD kReadBlockMax = 80;
constexpr DWORD kByteWriteWaitMs = 1000;
// Beyond the line time of a whole-block write: the driver's and the peer's
// share of the wait.
constexpr DWORD kBlockWriteSlackMs = 1000;
// A wait that fails at once (not pending) is retried after this pause, so a
// port that keeps failing does not keep a processor busy.
constexpr DWORD kFailedWaitPauseMs = 10;

// Waits for an overlapped write that was given up on: cancelled, then waited
// for, so that its overlapped structure is free again.
void AbandonWrite(TTYInfo* tty) {
    DWORD dwBytesWritten = 0;
    CancelIo(tty->hComm);
    GetOverlappedResult(tty->hComm, &tty->platform->osSend, &dwBytesWritten, TRUE);
}

// Blocks until a communication event of the mask occurs or the mask is
// changed; the mask is 0 then, and after any failure.
DWORD WaitPortEvent(TTYInfo* tty, OVERLAPPED* os) {
    DWORD dwEvtMask = 0;
    if (WaitCommEvent(tty->hComm, &dwEvtMask, os)) return dwEvtMask;
    if (GetLastError() != ERROR_IO_PENDING) {
        Sleep(kFailedWaitPauseMs);
        return 0;
    }
    DWORD dwUnused = 0;
    if (!GetOverlappedResult(tty->hComm, os, &dwUnused, TRUE)) return 0;
    return dwEvtMask;
}

}  // namespace

DWORD WINAPI ReceiveThread(LPVOID param) {
    TTYInfo* tty = static_cast<TTYInfo*>(param);
    OVERLAPPED os{};
    os.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!os.hEvent) {
        MessageBoxA(nullptr, "Failed to create event for thread!", "TTY Error!",
                    MB_ICONEXCLAMATION | MB_OK);
        tty->dwThreadID.store(0);
        return 0;
    }
    if (!SetCommMask(tty->hComm, EV_RXCHAR)) {
        CloseHandle(os.hEvent);
        tty->dwThreadID.store(0);
        return 0;
    }

    uint8_t abIn[kReadBlockMax + 1];
    while (tty->bPortOpen.load() == 1) {
        if ((WaitPortEvent(tty, &os) & EV_RXCHAR) == 0) continue;
        // Drain everything the driver holds, stored or not; a device that never
        // stops sending would keep this going for ever, so closing ends it.
        DWORD n;
        do {
            n = ReadPortBlock(tty, abIn, kReadBlockMax);
            StoreResponseBytes(*tty, abIn, static_cast<int32_t>(n));
        } while (n > 0 && tty->bPortOpen.load() == 1);
    }

    CloseHandle(os.hEvent);
    tty->dwThreadID.store(0);
    return 1;
}

DWORD ReadPortBlock(TTYInfo* tty, uint8_t* buffer, DWORD max) {
    COMSTAT ComStat{};
    DWORD dwErrorFlags = 0;
    ClearCommError(tty->hComm, &dwErrorFlags, &ComStat);
    DWORD dwLength = ComStat.cbInQue < max ? ComStat.cbInQue : max;
    if (dwLength == 0) return 0;

    OVERLAPPED* osRecv = &tty->platform->osRecv;
    if (ReadFile(tty->hComm, buffer, dwLength, &dwLength, osRecv)) return dwLength;
    if (GetLastError() != ERROR_IO_PENDING) {
        ClearCommError(tty->hComm, &dwErrorFlags, &ComStat);
        return 0;
    }
    while (!GetOverlappedResult(tty->hComm, osRecv, &dwLength, TRUE)) {
        if (GetLastError() != ERROR_IO_INCOMPLETE) {
            ClearCommError(tty->hComm, &dwErrorFlags, &ComStat);
            return dwLength;
        }
    }
    return dwLength;
}

int WritePortByte(TTYInfo* tty, uint8_t byte) {
    if (!tty) return 0;
    OVERLAPPED* osSend = &tty->platform->osSend;
    DWORD dwBytesWritten = 0;
    if (WriteFile(tty->hComm, &byte, 1, &dwBytesWritten, osSend)) return 1;
    if (GetLastError() != ERROR_IO_PENDING) return 1;  // the byte is lost
    if (WaitForSingleObject(osSend->hEvent, kByteWriteWaitMs) == WAIT_OBJECT_0)
        GetOverlappedResult(tty->hComm, osSend, &dwBytesWritten, FALSE);
    else
        AbandonWrite(tty);
    return 1;
}

int SendPortByte(TTYInfo* tty, uint8_t byte) {
    if (!tty || tty->bPortOpen.load() == 0) return 0;
    return WritePortByte(tty, byte);
}

int SendPortBlock(TTYInfo* tty, const uint8_t* bytes, int32_t len) {
    for (; len > 0; --len, ++bytes)
        if (!SendPortByte(tty, *bytes)) return 0;
    return 1;
}

int WritePortAll(TTYInfo* tty, const uint8_t* bytes, int32_t len) {
    if (!tty || tty->bPortOpen.load() == 0) return 0;
    if (len <= 0) return 1;
    OVERLAPPED* osSend = &tty->platform->osSend;
    DWORD dwBytesWritten = 0;
    const DWORD count = static_cast<DWORD>(len);
    if (!WriteFile(tty->hComm, bytes, count, &dwBytesWritten, osSend)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            tty->platform->dwLastError = GetLastError();
            return 0;
        }
        // Ten bits per byte on the line.
        const DWORD baud = tty->dwBaud ? tty->dwBaud : 1;
        const DWORD lineMs = static_cast<DWORD>(10ull * 1000ull * count / baud);
        if (WaitForSingleObject(osSend->hEvent, lineMs + kBlockWriteSlackMs) != WAIT_OBJECT_0) {
            AbandonWrite(tty);
            tty->platform->dwLastError = ERROR_TIMEOUT;
            return 0;
        }
        if (!GetOverlappedResult(tty->hComm, osSend, &dwBytesWritten, FALSE)) {
            tty->platform->dwLastError = GetLastError();
            return 0;
        }
    }
    // A short count: the driver's write time-out ended the write.
    if (dwBytesWritten != count) {
        tty->platform->dwLastError = ERROR_TIMEOUT;
        return 0;
    }
    return 1;
}
