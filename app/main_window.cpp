// Entry point and the main window: class, child controls, label painting and
// the routing of every message to its handler.
#include <windows.h>

#include "app/app.h"
#include "res/resource.h"
#include "serial/win32/tty_platform.h"

HINSTANCE hInst = nullptr;
HACCEL hAccel = nullptr;
HWND hwndMain = nullptr;

HWND hEditStatus = nullptr;
HWND hEditRecv = nullptr;
HWND hEditFile = nullptr;
HWND hEditDebug = nullptr;
HWND hEditDest = nullptr;
HWND hChkLuminary = nullptr;
HWND hChkAtmega168 = nullptr;
HWND hChkBlver = nullptr;

BootState bootState;

namespace {

constexpr DWORD EDIT_STYLE = WS_CHILD | WS_VISIBLE | WS_BORDER;
constexpr DWORD PANE_STYLE = EDIT_STYLE | WS_VSCROLL | ES_MULTILINE;
constexpr DWORD CHECK_STYLE = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
constexpr DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;

constexpr int LABEL_X = 525;
constexpr int LABEL_Y = 210;
constexpr char LABEL_TEXT[] = "Destination";

struct ChildControl {
    HWND* handle;  // where the handle is kept; null for controls nobody reaches later
    int id;
    const char* cls;
    const char* text;
    DWORD style;
    int x, y, w, h;
};

// In creation order; positions are client pixels of the main window.
const ChildControl CHILD_CONTROLS[] = {
    {&hEditFile, EDIT_FILE, "edit", nullptr, EDIT_STYLE, 0, 410, 940, 35},
    {&hEditStatus, EDIT_STATUS, "edit", nullptr, EDIT_STYLE, 0, 0, 440, 25},
    {&hEditRecv, EDIT_RECV, "edit", nullptr, PANE_STYLE, 0, 35, 440, 200},
    {&hEditDebug, EDIT_DEBUG, "edit", nullptr, PANE_STYLE, 0, 245, 440, 160},
    {&hChkAtmega168, CHK_ATMEGA168, "button", "AtMega168", CHECK_STYLE, 450, 0, 150, 25},
    {&hChkBlver, CHK_BLVER, "button", "BL v1.01", CHECK_STYLE, 605, 0, 150, 25},
    {nullptr, BTN_CAP, "button", "Capture", BUTTON_STYLE, 450, 60, 150, 25},
    {nullptr, BTN_FIND, "button", "Find Enc File", BUTTON_STYLE, 450, 30, 150, 25},
    {nullptr, BTN_UPGRADE, "button", "Firmware Upgrade", BUTTON_STYLE, 450, 90, 150, 25},
    {nullptr, BTN_GO, "button", "G cmd", BUTTON_STYLE, 450, 120, 150, 25},
    {&hChkLuminary, CHK_LUMINARY, "button", "LuminaryMicro", CHECK_STYLE, 605, 30, 150, 35},
    {nullptr, BTN_RESET_CAP, "button", "38400 Reset->Capture", BUTTON_STYLE, 450, 150, 150, 25},
    {nullptr, BTN_RESET57_CAP, "button", "57600 Reset-> 38400 Capture", BUTTON_STYLE, 450, 180, 200,
     25},
    {&hEditDest, EDIT_DEST, "edit", nullptr, EDIT_STYLE, 450, 210, 70, 25},
    {nullptr, BTN_PRESET_SR, "button", "Set to Upgrade an Ulv-SR", BUTTON_STYLE, 605, 70, 200, 35},
    {nullptr, BTN_PRESET_RO, "button", "Set to Upgrade an Ulv-RO", BUTTON_STYLE, 605, 110, 200, 35},
};

// The start state some controls get right after their own creation.
void InitChildControl(int id, HWND hwnd) {
    switch (id) {
    case CHK_ATMEGA168:
    case CHK_BLVER:
        SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
        break;
    case EDIT_DEST:
        SetWindowTextA(hwnd, "0000000");
        break;
    default:
        break;
    }
}

void CreateChildControls(HWND hwnd) {
    for (const ChildControl& c : CHILD_CONTROLS) {
        HWND child = CreateWindowExA(0, c.cls, c.text, c.style, c.x, c.y, c.w, c.h, hwnd,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), hInst,
                                     nullptr);
        if (c.handle) *c.handle = child;
        InitChildControl(c.id, child);
    }
}

LRESULT OnCreate(HWND hwnd, LPARAM lParam) {
    bootState.nState = ST_IDLE;
    bootState.bTwoStage = 0;
    bootState.captureStage = 0;
    bootState.bBaudSwitch = 0;
    hInst = reinterpret_cast<const CREATESTRUCTA*>(lParam)->hInstance;
    PrepareDebugLog();
    CreateChildControls(hwnd);
    const int created = NewTTYInfo(hwnd);
    if (created == -1) return -1;
    LoadProfileSettings(GETNPTTYINFO(hwnd));
    return created;
}

LRESULT OnDestroy(HWND hwnd) {
    FreeTTYInfo(hwnd);
    PostQuitMessage(0);
    return 0;
}

// The "Destination" label, in the record's font and colour on a box of the
// window colour.
LRESULT OnPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    if (const TTYInfo* tty = GETNPTTYINFO(hwnd)) {
        const TTYPlatform* plat = tty->platform;
        HGDIOBJ oldFont = plat->hTextFont ? SelectObject(hdc, plat->hTextFont) : nullptr;
        SetTextColor(hdc, plat->crTextColor);
        SetBkColor(hdc, GetSysColor(COLOR_WINDOW));
        TextOutA(hdc, LABEL_X, LABEL_Y, LABEL_TEXT, static_cast<int>(sizeof LABEL_TEXT - 1));
        if (oldFont) SelectObject(hdc, oldFont);
    }
    EndPaint(hwnd, &ps);
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        return OnCreate(hwnd, lParam);
    case WM_DESTROY:
        return OnDestroy(hwnd);
    case WM_PAINT:
        return OnPaint(hwnd);
    case WM_COMMAND:
        return DispatchCommand(hwnd, wParam, lParam);
    case WM_TIMER:
        OnOperationTimer(wParam);
        return 0;
    // The controls keep their fixed places, and keys typed while the window
    // itself has the focus are dropped.
    case WM_SIZE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_CHAR:
    case WM_HSCROLL:
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR, int nCmdShow) {
    if (!hPrevInstance) {
        WNDCLASSA wc = {};
        wc.style = 0;
        wc.lpfnWndProc = MainWndProc;
        wc.cbClsExtra = 0;
        wc.cbWndExtra = sizeof(void*);  // word 0: the connection record
        wc.hInstance = hInstance;
        wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(ICON_MAIN));
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
        wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MENU);
        wc.lpszClassName = MAIN_CLASS_NAME;
        RegisterClassA(&wc);
    }
    hAccel = LoadAcceleratorsA(hInstance, MAKEINTRESOURCEA(IDR_ACCEL));
    hwndMain = CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_TITLE, WS_OVERLAPPEDWINDOW, 200, 200, 1000,
                               600, nullptr, nullptr, hInstance, nullptr);
    ShowWindow(hwndMain, nCmdShow);
    UpdateWindow(hwndMain);

    // GetMessage gives -1 on error; ending then is safer than spinning.
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(hwndMain, hAccel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
