#include "platform/Random.h"

namespace {

// xorshift32 never leaves zero, so a zero seed is replaced by a fixed non-zero state.
constexpr std::uint32_t kNonZeroState = 0x2545F491u;

std::uint32_t State = kNonZeroState;

std::uint32_t NextRandom() {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    return State;
}

} // namespace

void Randomize(std::uint32_t seed) {
    State = seed != 0 ? seed : kNonZeroState;
}

std::uint32_t RandomBelow(std::uint32_t range) {
    if (range == 0) {
        return 0;
    }
    // Drawing again below 2^32 mod range removes the bias of a plain modulo.
    const std::uint32_t rejectBelow = (0u - range) % range;
    std::uint32_t value = NextRandom();
    while (value < rejectBelow) {
        value = NextRandom();
    }
    return value % range;
}
