// Shared by the fuzz targets: a reader that takes bytes from the front of the
// input (so that seed files read as the frames and answers they hold), and a
// check that stops the run with a message when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
                         #cond);                                                      \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    bool empty() const { return p_ == end_; }

    // The next byte; 0 once the input is used up.
    uint8_t Byte() { return empty() ? 0 : *p_++; }

    // Up to n bytes; fewer at the end of the input.
    std::vector<uint8_t> Bytes(size_t n) {
        const size_t left = static_cast<size_t>(end_ - p_);
        if (n > left) n = left;
        std::vector<uint8_t> out(p_, p_ + n);
        p_ += n;
        return out;
    }

    // A record: one length byte, then that many bytes.
    std::vector<uint8_t> Record() { return Bytes(Byte()); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};
