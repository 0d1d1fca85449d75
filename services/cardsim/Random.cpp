#include "Random.h"

namespace cardsim {

uint32_t Random::Below(uint32_t bound)
{
    if (bound == 0)
        return 0;
    // Reject the top partial range so every remainder is equally likely.
    const uint32_t limit = UINT32_MAX - (UINT32_MAX % bound + 1) % bound;
    for (;;) {
        const uint32_t draw = static_cast<uint32_t>(engine_());
        if (draw <= limit)
            return draw % bound;
    }
}

int Random::Between(int low, int high)
{
    if (high <= low)
        return low;
    const auto span = static_cast<uint32_t>(static_cast<int64_t>(high) - low + 1);
    return static_cast<int>(static_cast<int64_t>(low) + Below(span));
}

} // namespace cardsim
