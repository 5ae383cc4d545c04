// The port number and the baud rate in the user's win.ini.
#include <windows.h>

#include <string>

#include "app/app.h"
#include "app/profile_values.h"

namespace {

constexpr DWORD PROFILE_BUFFER_CHARS = 98;

std::string ReadProfileValue(const char* key, const char* def) {
    char buf[PROFILE_BUFFER_CHARS] = {};
    const DWORD n = GetProfileStringA(PROFILE_SECTION, key, def, buf, PROFILE_BUFFER_CHARS);
    return std::string(buf, n);
}

void WriteProfileValue(const char* key, const char* value) {
    WriteProfileStringA(PROFILE_SECTION, key, value);
}

}  // namespace

void LoadProfileSettings(TTYInfo* tty) {
    if (tty) LoadProfileValues(ReadProfileValue, tty->bPortNum, tty->dwBaud);
}

void SaveProfileSettings(const TTYInfo* tty) {
    if (tty) SaveProfileValues(WriteProfileValue, tty->bPortNum, tty->dwBaud);
}
