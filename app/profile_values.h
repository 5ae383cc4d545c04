// The two values kept in the user's profile: the COM port number and the
// baud rate. Pure rules, shared by the Windows profile calls and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

constexpr const char* PROFILE_SECTION = "Ulvar_BlApp";
constexpr const char* PROFILE_KEY_PORT = "DefaultPort";
constexpr const char* PROFILE_KEY_BAUD = "DefaultBaudRate";
constexpr const char* PROFILE_DEFAULT_PORT = "1";
constexpr const char* PROFILE_DEFAULT_BAUD = "38400";

struct ProfileBaud {
    const char* text;
    uint32_t baud;
};

// The rates the settings dialog offers, in the order searched when loading.
constexpr int PROFILE_BAUD_COUNT = 13;
extern const ProfileBaud ProfileBaudTable[PROFILE_BAUD_COUNT];

// The port a value names: its first character, '1' to '8'; otherwise `current`.
uint8_t PortFromProfileText(const char* value, uint8_t current);

// The rate of the first table row whose text the value begins with;
// otherwise `current`.
uint32_t BaudFromProfileText(const char* value, uint32_t current);

// The table's text for a rate; nullptr when the rate is not in the table.
const char* ProfileTextOfBaud(uint32_t baud);

// Reads a key's value, giving `def` when the key or the section is missing.
using ProfileReader = std::function<std::string(const char* key, const char* def)>;
using ProfileWriter = std::function<void(const char* key, const char* value)>;

// Updates the port number and the rate from the profile; values that name
// nothing leave the field as it was.
void LoadProfileValues(const ProfileReader& read, uint8_t& portNum, uint32_t& baud);

// Writes the port number when it is 1 to 8 and the rate when the table has it;
// anything else leaves that key untouched.
void SaveProfileValues(const ProfileWriter& write, uint8_t portNum, uint32_t baud);
