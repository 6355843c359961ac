// The process's pseudo-random generator.
#include "platform/Random.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

std::vector<std::uint32_t> Draws(std::uint32_t seed, std::uint32_t range, int count) {
    Randomize(seed);
    std::vector<std::uint32_t> values;
    for (int i = 0; i < count; ++i) {
        values.push_back(RandomBelow(range));
    }
    return values;
}

TEST(RandomTest, SameSeedSameSequenceOtherSeedOtherSequence) {
    EXPECT_EQ(Draws(12345, 1000, 50), Draws(12345, 1000, 50));
    EXPECT_NE(Draws(12345, 1000, 50), Draws(12346, 1000, 50));
}

TEST(RandomTest, ZeroSeedStillVaries) {
    const std::vector<std::uint32_t> values = Draws(0, 1u << 31, 20);
    for (std::size_t i = 1; i < values.size(); ++i) {
        EXPECT_NE(values[i], values[0]);
    }
}

TEST(RandomTest, LettersAreInRangeAndEvenlySpread) {
    constexpr int kPerLetter = 2000;
    std::array<int, 26> counts{};
    for (std::uint32_t value : Draws(0xC0FFEE, 26, 26 * kPerLetter)) {
        ASSERT_LT(value, 26u);
        ++counts[value];
    }
    for (int count : counts) {
        EXPECT_GT(count, kPerLetter * 85 / 100);
        EXPECT_LT(count, kPerLetter * 115 / 100);
    }
}

TEST(RandomTest, DegenerateRanges) {
    for (std::uint32_t value : Draws(99, 1, 10)) {
        EXPECT_EQ(value, 0u);
    }
    EXPECT_EQ(RandomBelow(0), 0u);
}

TEST(RandomTest, LargeRangeStaysBelowIt) {
    const std::vector<std::uint32_t> values = Draws(5, 0x80000001u, 1000);
    for (std::uint32_t value : values) {
        EXPECT_LE(value, 0x80000000u);
    }
}

} // namespace
