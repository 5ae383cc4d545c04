// The port commands of the main window: connecting and disconnecting by hand,
// and the settings dialog with the saving and re-applying that follow it.
#pragma once

#include <windows.h>

// Opens the connection unless one is open; "Connection failed." when it fails.
void OnConnectCommand(HWND hwnd);
// Closes the connection if one is open; silent either way.
void OnDisconnectCommand(HWND hwnd);
// The "Setup Settings..." dialog; then the profile is saved (after Ok and
// Cancel alike) and an open port takes the settings ("Settings failed!").
void OnSettingsCommand(HWND hwnd);

constexpr const char* MSG_CONNECTION_FAILED = "Connection failed.";

// A warning box owned by the main window, with the program's caption.
void ShowWarningBox(HWND hwnd, const char* text);
