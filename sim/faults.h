// Faults the simulated device injects into its answers on request.
//
// Syntax of one fault:  TARGET:KIND[=ARG][*COUNT]
//   TARGET  sector=N   write frames of sector N (every attempt counts)
//           capture=N  the N-th capture character received (1 = the first)
//           go         go frames
//   KIND    no-answer      the answer is not sent
//           garbage[=B]    B noise bytes (default 3) instead of the answer
//           partial        only the first two bytes of the answer (LF '!')
//           split[=MS]     the answer in two writes, LF first, the rest MS ms later (default 30)
//           flood=B        B noise bytes instead of the answer
//           late=MS        the answer MS ms later than normal
//           vanish         the device closes its side and exits instead of answering
//   COUNT   how many attempts are affected (default 1): sector=3:no-answer*5 hits
//           the first five frames of sector 3; capture=2:garbage*3 hits characters 2, 3 and 4.
// Noise bytes never contain LF, so no token can appear in them.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class FaultTarget { Sector, Capture, Go };
enum class FaultKind { NoAnswer, Garbage, Partial, Split, Flood, Late, Vanish };

struct Fault {
    FaultTarget target = FaultTarget::Sector;
    int number = 0;  // sector number or capture character number; unused for go
    FaultKind kind = FaultKind::NoAnswer;
    int arg = 0;     // bytes for garbage/flood, milliseconds for split/late
    int count = 1;
    std::string text;  // as given, for the report
};

// Parses one fault; on failure returns nothing and sets error.
std::optional<Fault> ParseFault(const std::string& text, std::string& error);

// The fault hitting an answer, or null. `number` is the sector or the capture
// character number, `attempt` the 1-based attempt at that sector or go frame.
const Fault* FindFault(const std::vector<Fault>& faults, FaultTarget target, int number,
                       int attempt);

// Noise that never holds a token.
std::string NoiseBytes(int n);
