// The connection record on Win32: the record with its two manual-reset events,
// and the main window's record with the label font, kept in window word 0.
#include <windows.h>

#include <cstring>
#include <new>

#include "serial/port.h"
#include "serial/win32/tty_platform.h"

namespace {

// FixedSys, height 12, OEM character set, fixed pitch and modern family.
void SetDefaultTextFont(LOGFONTA& lf) {
    lf = LOGFONTA{};
    lf.lfHeight = 12;
    lf.lfCharSet = OEM_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strcpy(lf.lfFaceName, "FixedSys");
}

HANDLE NewManualResetEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

static_assert((FIXED_PITCH | FF_MODERN) == 0x31, "pitch and family of the label font");
static_assert(OEM_CHARSET == 255, "character set of the label font");

TTYInfo* NewPortRecord() {
    TTYInfo* tty = new (std::nothrow) TTYInfo();
    if (!tty) return nullptr;
    tty->platform = new (std::nothrow) TTYPlatform();
    if (!tty->platform) {
        delete tty;
        return nullptr;
    }
    TTYPlatform& plat = *tty->platform;
    plat.osRecv.hEvent = NewManualResetEvent();
    if (plat.osRecv.hEvent) {
        plat.osSend.hEvent = NewManualResetEvent();
        if (plat.osSend.hEvent) return tty;
        CloseHandle(plat.osRecv.hEvent);
    }
    delete tty->platform;
    delete tty;
    return nullptr;
}

void FreePortRecord(TTYInfo* tty) {
    if (!tty) return;
    if (tty->bPortOpen.load() == 1) DisconnectPort(tty);
    TTYPlatform* plat = tty->platform;
    CloseHandle(plat->osRecv.hEvent);
    CloseHandle(plat->osSend.hEvent);
    if (plat->hTextFont) DeleteObject(plat->hTextFont);
    delete plat;
    delete tty;
}

int NewTTYInfo(HWND hwnd) {
    TTYInfo* tty = NewPortRecord();
    if (!tty) return -1;
    SetDefaultTextFont(tty->platform->lfTextFont);
    SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(tty));
    RebuildTextFont(tty);
    return 1;
}

int FreeTTYInfo(HWND hwnd) {
    TTYInfo* tty = GETNPTTYINFO(hwnd);
    if (!tty) return 0;
    FreePortRecord(tty);
    // Nothing that runs later in the window's destruction sees freed memory.
    SetWindowLongPtrA(hwnd, 0, 0);
    return 1;
}

int RebuildTextFont(TTYInfo* tty) {
    if (!tty || !tty->platform) return 0;
    TTYPlatform& plat = *tty->platform;
    if (plat.hTextFont) DeleteObject(plat.hTextFont);
    plat.hTextFont = CreateFontIndirectA(&plat.lfTextFont);
    return 1;
}
