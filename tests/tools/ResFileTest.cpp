// The .res image that carries the sound bank into the executable.
#include "BankTestSupport.h"

#include "ResFile.h"

#include <gtest/gtest.h>

namespace {

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

std::uint16_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

TEST(ResFile, OpensWithTheEmptyEntry) {
    const Bytes res = MakeResFile("3BS", "ZORV", kLangRussian, {1, 2, 3});
    const Bytes empty = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0,
                         0, 0, 0, 0, 0,    0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0};
    ASSERT_GE(res.size(), 32u);
    EXPECT_EQ(Bytes(res.begin(), res.begin() + 32), empty);
}

TEST(ResFile, NamesTheTypeAndResourceInUtf16WithTheLanguage) {
    const Bytes data = {0x7A, 0x6F, 0x72, 0x76, 0x02};
    const Bytes res = MakeResFile("3BS", "ZORV", kLangRussian, data);
    const std::size_t entry = 32;
    EXPECT_EQ(U32(res, entry), data.size()); // DataSize
    EXPECT_EQ(U32(res, entry + 4), 44u);     // HeaderSize: 8 + "3BS" 8 + "ZORV" 10 + 2 + 16
    const Bytes names = {'3', 0, 'B', 0, 'S', 0, 0, 0, 'Z', 0, 'O', 0, 'R', 0, 'V', 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(res.begin() + entry + 8, res.begin() + entry + 28), names);
    EXPECT_EQ(U32(res, entry + 28), 0u);     // DataVersion
    EXPECT_EQ(U16(res, entry + 32), 0x0030); // MemoryFlags: moveable, pure
    EXPECT_EQ(U16(res, entry + 34), 0x0419); // LanguageId
    EXPECT_EQ(U32(res, entry + 36), 0u);     // Version
    EXPECT_EQ(U32(res, entry + 40), 0u);     // Characteristics
    EXPECT_EQ(Bytes(res.begin() + entry + 44, res.begin() + entry + 49), data);
    EXPECT_EQ(res.size(), entry + 44 + 8); // data padded to a DWORD boundary
}

TEST(ResFile, NeedsNoPaddingAfterNamesThatEndOnADword) {
    const Bytes res = MakeResFile("ABC", "XYZ", 0x0409, Bytes(4, 9));
    EXPECT_EQ(U32(res, 36), 8u + 8u + 8u + 16u);
    EXPECT_EQ(res.size(), 32u + 40u + 4u);
}

} // namespace
