// The communication settings dialog.
#include "serial/win32/settings_dialog.h"

#include <cstdio>

#include "res/resource.h"
#include "serial/win32/tty_platform.h"

namespace {

// Values of the list entries, in the order of their strings.
const DWORD BaudTable[] = {110,  300,   600,   1200,  2400,   4800,  9600,
                           14400, 19200, 38400, 56000, 128000, 256000};
const DWORD ParityTable[] = {NOPARITY, EVENPARITY, ODDPARITY, MARKPARITY, SPACEPARITY};
const DWORD StopBitsTable[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

constexpr int kPortCount = 8;
constexpr int kFirstDataBits = 5;
constexpr int kLastDataBits = 8;
// CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_FIXEDPITCHONLY
constexpr DWORD kFontFlags = 0x4141;
static_assert(kFontFlags == (CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_FIXEDPITCHONLY),
              "font chooser flags");

TTYInfo* DialogRecord(HWND hdlg) {
    return static_cast<TTYInfo*>(GetPropA(hdlg, MAKEINTATOM(SETTINGS_PROP_ATOM)));
}

HINSTANCE DialogInstance(HWND hdlg) {
    return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hdlg, GWLP_HINSTANCE));
}

void SetCheck(HWND hdlg, int id, bool on) {
    CheckDlgButton(hdlg, id, on ? BST_CHECKED : BST_UNCHECKED);
}

int32_t IsChecked(HWND hdlg, int id) { return IsDlgButtonChecked(hdlg, id) == BST_CHECKED ? 1 : 0; }

// The index of the selected entry; false when the list shows no selection
// (a record value that is not in the list), and then the field is kept.
bool SelectedIndex(HWND hdlg, int id, WORD* index) {
    const LRESULT sel = SendDlgItemMessageA(hdlg, id, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR) return false;
    *index = LOWORD(sel);
    return true;
}

// The value paired with the selected entry.
bool SelectedValue(HWND hdlg, int id, DWORD* value) {
    WORD index;
    if (!SelectedIndex(hdlg, id, &index)) return false;
    *value = static_cast<DWORD>(SendDlgItemMessageA(hdlg, id, CB_GETITEMDATA, index, 0));
    return true;
}

}  // namespace

void FillSettingCombo(HINSTANCE hInstance, HWND hCombo, int idFirst, const DWORD* table,
                      WORD count, DWORD current) {
    char szBuffer[81];
    for (WORD i = 0; i < count; ++i) {
        if (LoadStringA(hInstance, idFirst + i, szBuffer, sizeof szBuffer) <= 0) szBuffer[0] = '\0';
        const WORD index = LOWORD(SendMessageA(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szBuffer)));
        SendMessageA(hCombo, CB_SETITEMDATA, index, static_cast<LPARAM>(table[i]));
        if (table[i] == current) SendMessageA(hCombo, CB_SETCURSEL, index, 0);
    }
}

int LineSettingsInit(HWND hdlg) {
    TTYInfo* tty = DialogRecord(hdlg);
    if (!tty) return 0;
    const HINSTANCE hInstance = DialogInstance(hdlg);
    char szBuffer[81];
    char szTemp[81];

    if (LoadStringA(hInstance, STR_COM, szTemp, sizeof szTemp) <= 0) snprintf(szTemp, sizeof szTemp, "COM");
    for (int port = 1; port <= kPortCount; ++port) {
        snprintf(szBuffer, sizeof szBuffer, "%s%d", szTemp, port);
        SendDlgItemMessageA(hdlg, CMB_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szBuffer));
    }
    SendDlgItemMessageA(hdlg, CMB_PORT, CB_SETCURSEL, tty->bPortNum - 1, 0);
    // The port of an open connection cannot change.
    EnableWindow(GetDlgItem(hdlg, CMB_PORT), tty->bPortOpen.load() == 0);

    FillSettingCombo(hInstance, GetDlgItem(hdlg, CMB_BAUD), STR_BAUD_FIRST, BaudTable,
                     ARRAYSIZE(BaudTable), tty->dwBaud);

    for (int bits = kFirstDataBits; bits <= kLastDataBits; ++bits) {
        snprintf(szBuffer, sizeof szBuffer, "%d", bits);
        const LRESULT index =
            SendDlgItemMessageA(hdlg, CMB_DATABITS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szBuffer));
        if (bits == tty->bDataBits) SendDlgItemMessageA(hdlg, CMB_DATABITS, CB_SETCURSEL, index, 0);
    }

    FillSettingCombo(hInstance, GetDlgItem(hdlg, CMB_PARITY), STR_PARITY_FIRST, ParityTable,
                     ARRAYSIZE(ParityTable), tty->bParityCode);
    FillSettingCombo(hInstance, GetDlgItem(hdlg, CMB_STOPBITS), STR_STOP_FIRST, StopBitsTable,
                     ARRAYSIZE(StopBitsTable), tty->bStopCode);

    SetCheck(hdlg, CHK_DTRDSR, (tty->bFlowFlags & FLOW_DTRDSR) != 0);
    SetCheck(hdlg, CHK_RTSCTS, (tty->bFlowFlags & FLOW_RTSCTS) != 0);
    SetCheck(hdlg, CHK_XONXOFF, (tty->bFlowFlags & FLOW_XONXOFF) != 0);

    SetCheck(hdlg, CHK_AUTOWRAP, tty->bAutoWrap != 0);
    SetCheck(hdlg, CHK_NEWLINE, tty->bNewLine != 0);
    SetCheck(hdlg, CHK_LOCALECHO, tty->bLocalEcho != 0);
    // Shown disabled and unchecked whatever the record holds.
    EnableWindow(GetDlgItem(hdlg, CHK_CNRECEIVE), FALSE);
    SetCheck(hdlg, CHK_DISPERRORS, tty->bDisplayErrors != 0);
    return 1;
}

int LineSettingsStore(HWND hdlg) {
    TTYInfo* tty = DialogRecord(hdlg);
    if (!tty) return 0;
    WORD index;
    DWORD value;
    if (SelectedIndex(hdlg, CMB_PORT, &index)) tty->bPortNum = static_cast<uint8_t>(index + 1);
    if (SelectedValue(hdlg, CMB_BAUD, &value)) tty->dwBaud = value;
    if (SelectedIndex(hdlg, CMB_DATABITS, &index))
        tty->bDataBits = static_cast<uint8_t>(index + kFirstDataBits);
    if (SelectedValue(hdlg, CMB_PARITY, &value)) tty->bParityCode = static_cast<uint8_t>(value);
    if (SelectedValue(hdlg, CMB_STOPBITS, &value)) tty->bStopCode = static_cast<uint8_t>(value);

    uint8_t flow = 0;
    if (IsChecked(hdlg, CHK_DTRDSR)) flow |= FLOW_DTRDSR;
    if (IsChecked(hdlg, CHK_RTSCTS)) flow |= FLOW_RTSCTS;
    if (IsChecked(hdlg, CHK_XONXOFF)) flow |= FLOW_XONXOFF;
    tty->bFlowFlags = flow;

    tty->bAutoWrap = IsChecked(hdlg, CHK_AUTOWRAP);
    tty->bNewLine = IsChecked(hdlg, CHK_NEWLINE);
    tty->bLocalEcho = IsChecked(hdlg, CHK_LOCALECHO);
    tty->bUseCnReceive = IsChecked(hdlg, CHK_CNRECEIVE);
    tty->bDisplayErrors = IsChecked(hdlg, CHK_DISPERRORS);
    return 1;
}

int LineSettingsFont(HWND hdlg) {
    TTYInfo* tty = DialogRecord(hdlg);
    if (!tty) return 0;
    TTYPlatform* platform = tty->platform;
    // The chooser starts from the record's font and writes the choice into it.
    CHOOSEFONTA cfTTYFont{};
    cfTTYFont.lStructSize = sizeof cfTTYFont;
    cfTTYFont.hwndOwner = hdlg;
    cfTTYFont.lpLogFont = &platform->lfTextFont;
    cfTTYFont.Flags = kFontFlags;
    cfTTYFont.rgbColors = platform->crTextColor;
    cfTTYFont.hInstance = DialogInstance(hdlg);
    if (ChooseFontA(&cfTTYFont)) {
        platform->crTextColor = cfTTYFont.rgbColors;
        RebuildTextFont(tty);
    }
    return 1;
}

INT_PTR CALLBACK LineSettingsDlgProc(HWND hdlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        SetPropA(hdlg, MAKEINTATOM(SETTINGS_PROP_ATOM), reinterpret_cast<HANDLE>(lParam));
        return LineSettingsInit(hdlg);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            LineSettingsStore(hdlg);
            EndDialog(hdlg, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(hdlg, 1);
            return TRUE;
        case BTN_FONT:
            return LineSettingsFont(hdlg);
        default:
            return FALSE;
        }
    case WM_DESTROY:
        RemovePropA(hdlg, MAKEINTATOM(SETTINGS_PROP_ATOM));
        return FALSE;
    default:
        return FALSE;
    }
}
