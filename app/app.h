// The main window's module-wide state and the shell's routines, shared by the
// files of the desktop program.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sequencer/sequencer.h"
#include "serial/ttyinfo.h"

constexpr const char* MAIN_CLASS_NAME = "Ulvar_BlClass";
constexpr const char* MAIN_TITLE = "Ulvar_Bl";  // also the caption of the program's message boxes

extern HINSTANCE hInst;
extern HACCEL hAccel;
extern HWND hwndMain;

// The operation variables, for the whole run.
extern BootState bootState;

// Handles of the controls that other parts of the program read or write.
extern HWND hEditStatus;
extern HWND hEditRecv;
extern HWND hEditFile;
extern HWND hEditDebug;
extern HWND hEditDest;
extern HWND hChkLuminary;
extern HWND hChkAtmega168;
extern HWND hChkBlver;

// Main window (main_window.cpp).
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Commands (commands.cpp): every WM_COMMAND of the main window; returns 0.
LRESULT DispatchCommand(HWND hwnd, WPARAM wParam, LPARAM lParam);

// A check box counts as checked only when it answers BST_CHECKED.
inline bool IsChecked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Operations (operations.cpp): the handlers that arm the operation engine,
// and its tick. BTN_FIND acts only on notification code 0; BTN_SEND reports
// any other code in the debug pane.
void OnCaptureCommand(int buttonId);  // BTN_CAP or BTN_RESET_CAP
void OnReset57CaptureCommand();
void OnAbortCaptureCommand();
void OnLuminaryCommand();
void OnFindCommand(int notifyCode);
void OnUpgradeCommand();
void OnGoCommand();
void OnSendCommand(int notifyCode);
void OnOperationTimer(WPARAM timerId);

// Log file step (debug_log.cpp).
extern int32_t fdLog;
void PrepareDebugLog();
int32_t FileMissing(const char* path);

// Profile (profile.cpp).
void LoadProfileSettings(TTYInfo* tty);
void SaveProfileSettings(const TTYInfo* tty);

// Modal dialogs (about.cpp).
int32_t RunDialog(HINSTANCE instance, int templateId, HWND owner, DLGPROC dialogProc, LPARAM param);
INT_PTR CALLBACK AboutDlgProc(HWND hdlg, UINT msg, WPARAM wParam, LPARAM lParam);

// Pane text on the edit controls (pane_edit.cpp). A text that cannot get
// memory is dropped and the pane keeps its former text.
void AppendPaneText(HWND pane, const char* text);
void PrependPaneLine(HWND pane, const char* text);
