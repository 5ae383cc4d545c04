// The settings dialog on a record: what it shows, what Ok stores, that Cancel
// stores nothing. The dialog runs modal on the main thread as in the program;
// a second thread plays the operator through the dialog's controls.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "serial/port.h"
#include "serial/win32/settings_dialog.h"
#include "serial/win32/tty_platform.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        ++failures;
        printf("FAIL: %s\n", what);
    }
}

std::string SelectedText(HWND hdlg, int id) {
    const LRESULT sel = SendDlgItemMessageA(hdlg, id, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR) return "(none)";
    char text[81] = {};
    SendDlgItemMessageA(hdlg, id, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(text));
    return text;
}

void Select(HWND hdlg, int id, const char* text) {
    const LRESULT index = SendDlgItemMessageA(hdlg, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(text));
    SendDlgItemMessageA(hdlg, id, CB_SETCURSEL, index, 0);
}

bool Checked(HWND hdlg, int id) { return IsDlgButtonChecked(hdlg, id) == BST_CHECKED; }

// What the operator does in the dialog, and what the dialog showed before.
struct Visit {
    Visit(std::vector<std::pair<int, const char*>> c, std::vector<int> b, int btn)
        : choices(std::move(c)), boxesToCheck(std::move(b)), button(btn) {}
    std::vector<std::pair<int, const char*>> choices;
    std::vector<int> boxesToCheck;
    int button;  // IDOK or IDCANCEL

    std::string shown[5];  // port, baud, data bits, parity, stop bits
    bool portEnabled = false;
    bool flow[3] = {};
    bool cnReceiveEnabled = true;
    bool cnReceiveChecked = true;
    bool dispErrors = false;
    bool found = false;
};

DWORD WINAPI Operator(LPVOID param) {
    Visit* visit = static_cast<Visit*>(param);
    // The dialog shows itself once its initialisation is done.
    HWND hdlg = nullptr;
    for (int i = 0; i < 1000; ++i, Sleep(10)) {
        hdlg = FindWindowA(nullptr, "Setup Settings...");
        if (hdlg && IsWindowVisible(hdlg)) break;
    }
    if (!hdlg || !IsWindowVisible(hdlg)) return 0;
    visit->found = true;
    const int lists[] = {CMB_PORT, CMB_BAUD, CMB_DATABITS, CMB_PARITY, CMB_STOPBITS};
    for (int i = 0; i < 5; ++i) visit->shown[i] = SelectedText(hdlg, lists[i]);
    visit->portEnabled = IsWindowEnabled(GetDlgItem(hdlg, CMB_PORT)) != FALSE;
    visit->flow[0] = Checked(hdlg, CHK_DTRDSR);
    visit->flow[1] = Checked(hdlg, CHK_RTSCTS);
    visit->flow[2] = Checked(hdlg, CHK_XONXOFF);
    visit->cnReceiveEnabled = IsWindowEnabled(GetDlgItem(hdlg, CHK_CNRECEIVE)) != FALSE;
    visit->cnReceiveChecked = Checked(hdlg, CHK_CNRECEIVE);
    visit->dispErrors = Checked(hdlg, CHK_DISPERRORS);

    for (const auto& choice : visit->choices) Select(hdlg, choice.first, choice.second);
    for (int box : visit->boxesToCheck) SendDlgItemMessageA(hdlg, box, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(hdlg, WM_COMMAND, MAKEWPARAM(visit->button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hdlg, visit->button)));
    return 1;
}

// Runs the dialog on the record with the operator's visit; the dialog's result.
INT_PTR RunVisit(TTYInfo* tty, Visit* visit) {
    HANDLE op = CreateThread(nullptr, 0, Operator, visit, 0, nullptr);
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_SETTINGS),
                                           nullptr, LineSettingsDlgProc, reinterpret_cast<LPARAM>(tty));
    WaitForSingleObject(op, 5000);
    CloseHandle(op);
    return result;
}

void SetupRecord(TTYInfo* tty) {
    tty->bPortNum = 3;
    tty->dwBaud = 9600;
    tty->bUseCnReceive = 1;
    tty->bDisplayErrors = 1;
}

void TestShowsRecordAndOkStores() {
    TTYInfo tty;
    SetupRecord(&tty);
    Visit visit{{{CMB_BAUD, "56k"}, {CMB_PARITY, "Even"}, {CMB_DATABITS, "5"}, {CMB_STOPBITS, "2"}},
                {CHK_DTRDSR, CHK_RTSCTS, CHK_XONXOFF},
                IDOK};
    Check(RunVisit(&tty, &visit) == 1, "Ok ends the dialog with 1");
    Check(visit.found, "dialog found by its caption");
    Check(visit.shown[0] == "COM3", "port list shows COM3");
    Check(visit.shown[1] == "9600", "baud list shows 9600");
    Check(visit.shown[2] == "8", "data bits list shows 8");
    Check(visit.shown[3] == "None", "parity list shows None");
    Check(visit.shown[4] == "1", "stop bits list shows 1");
    Check(visit.portEnabled, "port list enabled while closed");
    Check(!visit.flow[0] && !visit.flow[1] && !visit.flow[2], "no flow box checked");
    Check(!visit.cnReceiveEnabled && !visit.cnReceiveChecked, "CN_RECEIVE box disabled, unchecked");
    Check(visit.dispErrors, "Display Errors checked");

    Check(tty.dwBaud == 56000, "56k stores 56000");
    Check(tty.bParityCode == 2, "Even stores 2");
    Check(tty.bDataBits == 5, "data bits 5 stores 5");
    Check(tty.bStopCode == 2, "stop bits 2 stores 2");
    Check(tty.bFlowFlags == 7, "three flow boxes store 7");
    Check(tty.bUseCnReceive == 0, "Ok stores 0 in bUseCnReceive");
    Check(tty.bDisplayErrors == 1, "Display Errors stays 1");
    Check(tty.bPortNum == 3, "port kept");
}

void TestCancelStoresNothing() {
    TTYInfo tty;
    SetupRecord(&tty);
    Visit visit{{{CMB_PORT, "COM5"}, {CMB_BAUD, "128k"}, {CMB_PARITY, "Odd"}},
                {CHK_XONXOFF, CHK_AUTOWRAP},
                IDCANCEL};
    Check(RunVisit(&tty, &visit) == 1, "Cancel ends the dialog with 1");
    Check(tty.bPortNum == 3 && tty.dwBaud == 9600 && tty.bParityCode == 0 && tty.bFlowFlags == 0 &&
              tty.bAutoWrap == 0 && tty.bUseCnReceive == 1,
          "Cancel leaves the record");
}

void TestOpenPortListDisabled() {
    TTYInfo tty;
    SetupRecord(&tty);
    tty.bPortOpen.store(1);
    Visit visit{{{CMB_BAUD, "256k"}}, {}, IDOK};
    RunVisit(&tty, &visit);
    Check(!visit.portEnabled, "port list disabled while open");
    Check(visit.shown[0] == "COM3", "disabled list still shows the port");
    Check(tty.bPortNum == 3 && tty.dwBaud == 256000, "Ok keeps the port, stores 256000");
}

// A rate that is not in the list (a hand-edited profile) shows no selection;
// Ok must not turn the empty selection into a rate.
void TestRateOutsideListKept() {
    TTYInfo tty;
    SetupRecord(&tty);
    tty.dwBaud = 57600;
    Visit visit{{}, {}, IDOK};
    RunVisit(&tty, &visit);
    Check(visit.shown[1] == "(none)", "unknown rate shows no selection");
    Check(tty.dwBaud == 57600, "Ok keeps a rate that is not in the list");
}

// The Font button: the chooser starts from the record's font, and its Ok
// rebuilds the label font at once, which a later Cancel does not undo.
DWORD WINAPI FontOperator(LPVOID param) {
    bool* confirmed = static_cast<bool*>(param);
    HWND hdlg = nullptr;
    for (int i = 0; i < 1000 && !(hdlg && IsWindowVisible(hdlg)); ++i, Sleep(10))
        hdlg = FindWindowA(nullptr, "Setup Settings...");
    PostMessageA(hdlg, WM_COMMAND, MAKEWPARAM(BTN_FONT, BN_CLICKED), 0);
    HWND chooser = nullptr;
    for (int i = 0; i < 1000 && !(chooser && IsWindowVisible(chooser)); ++i, Sleep(10))
        chooser = FindWindowA(nullptr, "Font");
    if (chooser && IsWindowVisible(chooser)) {
        SendMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < 500 && IsWindow(chooser); ++i) Sleep(10);
        *confirmed = !IsWindow(chooser);
    }
    SendMessageA(hdlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 1;
}

void TestFontButton() {
    TTYInfo* tty = NewPortRecord();
    LOGFONTA& lf = tty->platform->lfTextFont;
    lf.lfHeight = 12;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "Courier New");
    RebuildTextFont(tty);
    const HFONT before = tty->platform->hTextFont;

    bool confirmed = false;
    HANDLE op = CreateThread(nullptr, 0, FontOperator, &confirmed, 0, nullptr);
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(DLG_SETTINGS), nullptr,
                    LineSettingsDlgProc, reinterpret_cast<LPARAM>(tty));
    WaitForSingleObject(op, 5000);
    CloseHandle(op);
    Check(confirmed, "font chooser shown and confirmed");
    Check(tty->platform->hTextFont != nullptr && tty->platform->hTextFont != before,
          "label font rebuilt, kept after Cancel");
    FreePortRecord(tty);
}

}  // namespace

int main() {
    TestShowsRecordAndOkStores();
    TestCancelStoresNothing();
    TestOpenPortListDisabled();
    TestRateOutsideListKept();
    TestFontButton();
    printf("%s\n", failures ? "settings dialog: FAILED" : "settings dialog: ok");
    return failures ? 1 : 0;
}
