#include "sim/faults.h"

#include <cstdlib>

namespace {

bool ParseNumber(const std::string& s, int minValue, int& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::atoi(s.c_str());
    return out >= minValue;
}

struct KindInfo {
    const char* name;
    FaultKind kind;
    bool argAllowed;
    bool argRequired;
    int defaultArg;
};

constexpr KindInfo KINDS[] = {
    {"no-answer", FaultKind::NoAnswer, false, false, 0},
    {"garbage", FaultKind::Garbage, true, false, 3},
    {"partial", FaultKind::Partial, false, false, 0},
    {"split", FaultKind::Split, true, false, 30},
    {"flood", FaultKind::Flood, true, true, 0},
    {"late", FaultKind::Late, true, true, 0},
    {"vanish", FaultKind::Vanish, false, false, 0},
};

}  // namespace

std::optional<Fault> ParseFault(const std::string& text, std::string& error) {
    Fault f;
    f.text = text;
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "fault '" + text + "': expected TARGET:KIND, e.g. sector=3:no-answer";
        return std::nullopt;
    }
    const std::string target = text.substr(0, colon);
    std::string kind = text.substr(colon + 1);

    if (target == "go") {
        f.target = FaultTarget::Go;
    } else if (target.rfind("sector=", 0) == 0 && ParseNumber(target.substr(7), 0, f.number) &&
               f.number <= 255) {
        f.target = FaultTarget::Sector;
    } else if (target.rfind("capture=", 0) == 0 && ParseNumber(target.substr(8), 1, f.number)) {
        f.target = FaultTarget::Capture;
    } else {
        error = "fault '" + text + "': target must be sector=N (0-255), capture=N (1 or more) or go";
        return std::nullopt;
    }

    const size_t star = kind.find('*');
    if (star != std::string::npos) {
        if (!ParseNumber(kind.substr(star + 1), 1, f.count)) {
            error = "fault '" + text + "': the count after '*' must be 1 or more";
            return std::nullopt;
        }
        kind.resize(star);
    }
    std::string arg;
    const size_t eq = kind.find('=');
    if (eq != std::string::npos) {
        arg = kind.substr(eq + 1);
        kind.resize(eq);
    }
    for (const KindInfo& k : KINDS) {
        if (kind != k.name) continue;
        f.kind = k.kind;
        f.arg = k.defaultArg;
        if (eq != std::string::npos && (!k.argAllowed || !ParseNumber(arg, 1, f.arg))) {
            error = "fault '" + text + "': " + k.name +
                    (k.argAllowed ? " takes a number of 1 or more" : " takes no value");
            return std::nullopt;
        }
        if (k.argRequired && eq == std::string::npos) {
            error = "fault '" + text + "': " + k.name + " needs a value, e.g. " + k.name + "=300";
            return std::nullopt;
        }
        return f;
    }
    error = "fault '" + text +
            "': kind must be no-answer, garbage, partial, split, flood, late or vanish";
    return std::nullopt;
}

const Fault* FindFault(const std::vector<Fault>& faults, FaultTarget target, int number,
                       int attempt) {
    for (const Fault& f : faults) {
        if (f.target != target) continue;
        switch (target) {
            case FaultTarget::Sector:
                if (f.number == number && attempt <= f.count) return &f;
                break;
            case FaultTarget::Capture:
                if (number >= f.number && number < f.number + f.count) return &f;
                break;
            case FaultTarget::Go:
                if (attempt <= f.count) return &f;
                break;
        }
    }
    return nullptr;
}

std::string NoiseBytes(int n) {
    static constexpr char PATTERN[] = {'\x55', '\xAA', '\x00', '\xFF', '\x3F'};
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(PATTERN[i % sizeof PATTERN]);
    return s;
}
