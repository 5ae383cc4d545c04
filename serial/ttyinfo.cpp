#include "serial/ttyinfo.h"

void ResetResponse(TTYInfo& tty, int32_t limit) {
    tty.bRsvpDone.store(0);
    tty.nRsvpIdx.store(0);
    tty.nRsvpLimit.store(limit);
}

void StoreResponseBytes(TTYInfo& tty, const uint8_t* bytes, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t idx = tty.nRsvpIdx.load();
        if (tty.bRsvpDone.load() != 0 || idx >= RSVP_MAX) continue;
        tty.abRsvp[idx].store(bytes[i], std::memory_order_relaxed);
        tty.nRsvpIdx.store(idx + 1);
        if (idx + 1 >= tty.nRsvpLimit.load()) tty.bRsvpDone.store(1);
    }
}

void CopyResponse(const TTYInfo& tty, uint8_t* dst, int32_t n) {
    for (int32_t i = 0; i < n && i < RSVP_MAX; ++i)
        dst[i] = tty.abRsvp[i].load(std::memory_order_relaxed);
}
