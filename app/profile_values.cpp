#include "app/profile_values.h"

#include <cstring>

const ProfileBaud ProfileBaudTable[PROFILE_BAUD_COUNT] = {
    {"110", 110},       {"300", 300},       {"600", 600},     {"1200", 1200},     {"2400", 2400},
    {"4800", 4800},     {"9600", 9600},     {"14400", 14400}, {"19200", 19200},   {"38400", 38400},
    {"56000", 56000},   {"128000", 128000}, {"256000", 256000},
};

uint8_t PortFromProfileText(const char* value, uint8_t current) {
    const char c = value[0];
    return (c >= '1' && c <= '8') ? static_cast<uint8_t>(c - '0') : current;
}

uint32_t BaudFromProfileText(const char* value, uint32_t current) {
    // strncmp stops at the value's terminating zero, so a shorter value never
    // matches; a longer one matches the first row it begins with.
    for (const ProfileBaud& row : ProfileBaudTable)
        if (std::strncmp(value, row.text, std::strlen(row.text)) == 0) return row.baud;
    return current;
}

const char* ProfileTextOfBaud(uint32_t baud) {
    for (const ProfileBaud& row : ProfileBaudTable)
        if (row.baud == baud) return row.text;
    return nullptr;
}

void LoadProfileValues(const ProfileReader& read, uint8_t& portNum, uint32_t& baud) {
    portNum = PortFromProfileText(read(PROFILE_KEY_PORT, PROFILE_DEFAULT_PORT).c_str(), portNum);
    baud = BaudFromProfileText(read(PROFILE_KEY_BAUD, PROFILE_DEFAULT_BAUD).c_str(), baud);
}

void SaveProfileValues(const ProfileWriter& write, uint8_t portNum, uint32_t baud) {
    if (portNum >= 1 && portNum <= 8) {
        const char digit[2] = {static_cast<char>('0' + portNum), '\0'};
        write(PROFILE_KEY_PORT, digit);
    }
    if (const char* text = ProfileTextOfBaud(baud)) write(PROFILE_KEY_BAUD, text);
}
