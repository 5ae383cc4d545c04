// The two profile values as the profile may hold them after any edit: the
// input is the port value, a NUL, then the rate value (either may be missing,
// then the reader gives the default).
#include <cstring>
#include <map>
#include <string>

#include "app/profile_values.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    const size_t nul = all.find('\0');
    std::map<std::string, std::string> keys;
    keys[PROFILE_KEY_PORT] = all.substr(0, nul);
    if (nul != std::string::npos) keys[PROFILE_KEY_BAUD] = all.substr(nul + 1);
    const auto read = [&](const char* key, const char* def) {
        const auto it = keys.find(key);
        return it == keys.end() ? std::string(def) : it->second;
    };

    const uint8_t oldPort = 0;
    const uint32_t oldBaud = 1;  // in no row of the table: shows when the value is taken
    uint8_t port = oldPort;
    uint32_t baud = oldBaud;
    LoadProfileValues(read, port, baud);

    // The port is the value's first character when that is 1..8.
    const char first = keys[PROFILE_KEY_PORT].c_str()[0];
    FUZZ_CHECK(port == ((first >= '1' && first <= '8') ? first - '0' : oldPort));
    // The rate is a table row's, and the value (up to its first NUL) begins with that row's text.
    if (baud != oldBaud) {
        const char* text = ProfileTextOfBaud(baud);
        FUZZ_CHECK(text != nullptr);
        const std::string value = read(PROFILE_KEY_BAUD, PROFILE_DEFAULT_BAUD).c_str();
        FUZZ_CHECK(value.compare(0, std::strlen(text), text) == 0);
    }

    // What was loaded saves and loads back unchanged.
    std::map<std::string, std::string> saved;
    SaveProfileValues([&](const char* key, const char* value) { saved[key] = value; }, port, baud);
    uint8_t port2 = oldPort;
    uint32_t baud2 = oldBaud;
    LoadProfileValues(
        [&](const char* key, const char* def) {
            const auto it = saved.find(key);
            return it == saved.end() ? std::string(def) : it->second;
        },
        port2, baud2);
    if (port != oldPort) FUZZ_CHECK(port2 == port);
    if (baud != oldBaud) FUZZ_CHECK(baud2 == baud);
    return 0;
}
