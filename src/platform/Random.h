// The process's pseudo-random generator (temporary file names); seeded once at start-up.
#pragma once

#include <cstdint>

void Randomize(std::uint32_t seed);
std::uint32_t RandomBelow(std::uint32_t range); // uniform in [0, range)
