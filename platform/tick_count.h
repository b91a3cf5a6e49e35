// A 64-bit millisecond count built from the 32-bit one that every Windows
// version has, for systems older than the 64-bit count itself.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace qel {

// `state` holds the number of wraps in its upper half and the last 32-bit
// count seen in its lower half (zero to begin with). A count lower than the
// last one seen means the 32-bit count wrapped (every 49.7 days), so callers
// must look at least once per wrap. `read` is called after `state` is loaded,
// and the new state is only stored if no other thread stored one meanwhile,
// so calls from several threads never count a wrap that did not happen.
inline uint64_t ExtendTickCount(uint64_t* state, DWORD (*read)()) {
  for (;;) {
    uint64_t old = __atomic_load_n(state, __ATOMIC_ACQUIRE);
    DWORD now = read();
    uint64_t wraps = old >> 32;
    if (now < static_cast<DWORD>(old)) ++wraps;
    uint64_t updated = (wraps << 32) | now;
    if (__atomic_compare_exchange_n(state, &old, updated, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
      return updated;
  }
}

}  // namespace qel
