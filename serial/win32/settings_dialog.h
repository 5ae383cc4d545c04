// The "Setup Settings..." dialog (template DLG_SETTINGS): shows and edits the
// line settings and stored options of a connection record, and picks the font
// and colour of the main window's "Destination" label. Run it with the record
// pointer as its initialisation parameter; Ok stores, Cancel stores nothing,
// both end it with 1.
#pragma once

#include <windows.h>

#include <cstdint>

// Name of the dialog's window property that holds the record pointer.
constexpr ATOM SETTINGS_PROP_ATOM = 256;

INT_PTR CALLBACK LineSettingsDlgProc(HWND hdlg, UINT msg, WPARAM wParam, LPARAM lParam);

// Each returns 1, or 0 when the dialog holds no record.
int LineSettingsInit(HWND hdlg);
int LineSettingsStore(HWND hdlg);
int LineSettingsFont(HWND hdlg);

// Adds count strings, from string idFirst on, to a combo box, each with its
// value from table as item data, and selects the entry whose value is current.
void FillSettingCombo(HINSTANCE hInstance, HWND hCombo, int idFirst, const DWORD* table,
                      WORD count, DWORD current);
