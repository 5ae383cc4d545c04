// Starts a real top-level window, pumps its messages and closes it: proves
// that the cross toolchain and Wine on the display work end to end.
#include <windows.h>

static LRESULT CALLBACK SmokeWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SmokeWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "SmokeClass";
    if (!RegisterClassA(&wc)) return 2;
    HWND hwnd = CreateWindowA("SmokeClass", "smoke", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, hInstance, nullptr);
    if (!hwnd) return 3;
    ShowWindow(hwnd, SW_SHOW);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return static_cast<int>(msg.wParam);
}
