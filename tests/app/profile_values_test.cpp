#include "app/profile_values.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace {

// A profile section as win.ini holds it: a missing key reads as the default.
struct FakeProfile {
    std::map<std::string, std::string> keys;

    std::string Read(const char* key, const char* def) const {
        const auto it = keys.find(key);
        return it == keys.end() ? def : it->second;
    }
};

struct LoadCase {
    const char* name;
    std::map<std::string, std::string> keys;
    uint8_t port;
    uint32_t baud;
};

class LoadProfile : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadProfile, GivesPortAndRate) {
    const LoadCase& c = GetParam();
    const FakeProfile profile{c.keys};
    uint8_t port = 1;     // the record's defaults
    uint32_t baud = 9600;
    LoadProfileValues([&](const char* key, const char* def) { return profile.Read(key, def); },
                      port, baud);
    EXPECT_EQ(port, c.port);
    EXPECT_EQ(baud, c.baud);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadProfile,
    testing::Values(
        LoadCase{"MissingSection", {}, 1, 38400},
        LoadCase{"EmptyValues", {{"DefaultPort", ""}, {"DefaultBaudRate", ""}}, 1, 9600},
        LoadCase{"Port12ReadsOnlyItsFirstDigit", {{"DefaultPort", "12"}}, 1, 38400},
        LoadCase{"Port8", {{"DefaultPort", "8"}}, 8, 38400},
        LoadCase{"Port0", {{"DefaultPort", "0"}}, 1, 38400},
        LoadCase{"Port9", {{"DefaultPort", "9"}}, 1, 38400},
        LoadCase{"PortLetter", {{"DefaultPort", "x3"}}, 1, 38400},
        LoadCase{"Rate1100BeginsWith110", {{"DefaultBaudRate", "1100"}}, 1, 110},
        LoadCase{"Rate57600NotInTable", {{"DefaultBaudRate", "57600"}}, 1, 9600},
        LoadCase{"Rate115200NotInTable", {{"DefaultBaudRate", "115200"}}, 1, 9600},
        LoadCase{"Rate56000", {{"DefaultBaudRate", "56000"}}, 1, 56000},
        LoadCase{"RateWithTrailingText", {{"DefaultBaudRate", "9600 baud"}}, 1, 9600},
        LoadCase{"RateShorterThanAnyText", {{"DefaultBaudRate", "11"}}, 1, 9600},
        LoadCase{"BothSet", {{"DefaultPort", "3"}, {"DefaultBaudRate", "256000"}}, 3, 256000}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

TEST(LoadProfile, EveryTableTextLoadsItsOwnRate) {
    for (const ProfileBaud& row : ProfileBaudTable)
        EXPECT_EQ(BaudFromProfileText(row.text, 0), row.baud) << row.text;
}

std::map<std::string, std::string> Saved(uint8_t port, uint32_t baud) {
    std::map<std::string, std::string> written;
    SaveProfileValues([&](const char* key, const char* value) { written[key] = value; }, port,
                      baud);
    return written;
}

TEST(SaveProfile, WritesOnlyValuesItCanNameAgain) {
    using Keys = std::map<std::string, std::string>;
    EXPECT_EQ(Saved(1, 38400), (Keys{{"DefaultPort", "1"}, {"DefaultBaudRate", "38400"}}));
    EXPECT_EQ(Saved(8, 56000), (Keys{{"DefaultPort", "8"}, {"DefaultBaudRate", "56000"}}));
    EXPECT_EQ(Saved(0, 57600), Keys{});
    EXPECT_EQ(Saved(9, 110), (Keys{{"DefaultBaudRate", "110"}}));
}

}  // namespace
