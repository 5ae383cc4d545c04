// The About box and the runner of the program's modal dialogs.
#include <windows.h>

#include "app/app.h"
#include "res/resource.h"

namespace {

constexpr int PICTURE_X = 10;
constexpr int PICTURE_Y = 10;
constexpr int PICTURE_SIZE = 64;

// The bitmap is loaded and freed on every paint; nothing is cached.
void PaintAboutPicture(HWND hdlg) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hdlg, &ps);
    if (HDC mem = CreateCompatibleDC(hdc)) {
        HINSTANCE inst = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hdlg, GWLP_HINSTANCE));
        if (HBITMAP bmp = LoadBitmapA(inst, MAKEINTRESOURCEA(BMP_ABOUT))) {
            HGDIOBJ old = SelectObject(mem, bmp);
            BitBlt(hdc, PICTURE_X, PICTURE_Y, PICTURE_SIZE, PICTURE_SIZE, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bmp);
        }
        DeleteDC(mem);
    }
    EndPaint(hdlg, &ps);
}

}  // namespace

int32_t RunDialog(HINSTANCE instance, int templateId, HWND owner, DLGPROC dialogProc, LPARAM param) {
    return static_cast<int32_t>(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, dialogProc, param));
}

INT_PTR CALLBACK AboutDlgProc(HWND hdlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        ShowWindow(GetDlgItem(hdlg, ICON_ABOUT), SW_HIDE);
        return 1;
    case WM_PAINT:
        PaintAboutPicture(hdlg);
        return 0;
    case WM_COMMAND:
        // Esc and the close box send IDCANCEL; they close the box as OK does.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hdlg, 1);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}
