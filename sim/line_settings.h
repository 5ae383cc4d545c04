// Line settings that the host has put on the simulated port.
#pragma once

#include <cstdint>
#include <string>

struct LineSettings {
    uint32_t baud = 0;
    int dataBits = 8;
    char parity = 'N';  // N, E, O, M (mark) or S (space)
    int stopBits = 1;

    bool operator==(const LineSettings& o) const {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity &&
               stopBits == o.stopBits;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }

    // "38400 8N1"
    std::string Text() const {
        return std::to_string(baud) + " " + std::to_string(dataBits) + parity +
               std::to_string(stopBits);
    }
};
