// The container checks, on the embedded bank and on banks broken one fault at a time.
#include "BankTestSupport.h"

#include <gtest/gtest.h>

namespace {

SoundBankCheck Check(const Bytes& bytes) {
    return CheckSoundBank(bytes.data(), bytes.size());
}

TEST(EmbeddedBank, HasTheLayoutTheHostExpects) {
    const Bytes bank = ReadBytes(kEmbeddedBankPath);
    const SoundBankCheck check = Check(bank);
    ASSERT_TRUE(check.Ok()) << check.Error;
    const SoundBankLayout& layout = check.Layout;
    EXPECT_EQ(bank.size(), 5458724u);
    EXPECT_EQ(layout.Byte4, 0x02);
    EXPECT_EQ(layout.Version, 0x05);
    EXPECT_EQ(layout.GroupCounts, (std::array<std::uint8_t, 3>{17, 13, 16}));
    ASSERT_EQ(layout.ClipCount(), 46u);
    EXPECT_EQ(layout.Offsets.front(), 154u);
    EXPECT_EQ(layout.Offsets[layout.GroupFirstClip(1)], 2219772u);
    EXPECT_EQ(layout.Offsets[layout.GroupFirstClip(2)], 3568761u);
    EXPECT_EQ(layout.Offsets.back(), 5458720u);
    EXPECT_EQ(layout.HeaderWord, 1181676u);
    EXPECT_EQ(Bytes(bank.begin() + 150, bank.begin() + 154), (Bytes{0xEC, 0x07, 0x12, 0x00}));
    EXPECT_EQ(Bytes(bank.begin() + 9, bank.begin() + 12), (Bytes{0x9A, 0x00, 0x00}));
    EXPECT_EQ(Bytes(bank.begin() + 147, bank.begin() + 150), (Bytes{0x20, 0x4B, 0x53}));
}

TEST(EmbeddedBank, EveryClipIsLayerThreeAudio) {
    const Bytes bank = ReadBytes(kEmbeddedBankPath);
    const SoundBankCheck check = Check(bank);
    ASSERT_TRUE(check.Ok()) << check.Error;
    for (std::size_t k = 0; k < check.Layout.ClipCount(); ++k) {
        MpegFrameHeader header;
        ASSERT_TRUE(ParseMpegFrameHeader(bank.data() + check.Layout.Offsets[k],
                                         check.Layout.ClipLength(k), header))
            << "clip " << k;
        EXPECT_EQ(header.Layer, 3) << "clip " << k;
    }
}

TEST(BankCheck, AcceptsABuiltBankAndReadsItBack) {
    const Bytes bank = SmallBank();
    const SoundBankCheck check = Check(bank);
    ASSERT_TRUE(check.Ok()) << check.Error;
    EXPECT_EQ(check.Layout.ClipCount(), 6u);
    EXPECT_EQ(check.Layout.Offsets.front(), BankDataStart(6));
    EXPECT_EQ(check.Layout.Offsets.back(), bank.size() - 4);
    EXPECT_EQ(check.Layout.Trailer, (std::array<std::uint8_t, 4>{0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(check.Layout.GroupFirstClip(2), 3u);
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(check.Layout.ClipLength(k), 10 + 7 * k);
        EXPECT_EQ(bank[check.Layout.Offsets[k] + 4], 0x10 + k) << "clip " << k;
    }
}

struct Fault {
    const char* name;
    void (*breakBank)(Bytes&);
    const char* expected; // a phrase of the error line
};

const Fault kFaults[] = {
    {"Truncated", [](Bytes& b) { b.resize(8); }, "truncated"},
    {"Empty", [](Bytes& b) { b.clear(); }, "truncated"},
    {"BadMagic", [](Bytes& b) { b[3] = 'w'; }, "bad magic"},
    {"NoClips", [](Bytes& b) { b[6] = b[7] = b[8] = 0; }, "no clips"},
    {"TableBeyondEnd", [](Bytes& b) { b[6] = b[7] = b[8] = 255; }, "beyond the end"},
    {"TableCutOff", [](Bytes& b) { b.resize(30); }, "beyond the end"},
    {"CountSumTooSmall", [](Bytes& b) { --b[8]; }, "count sum does not match"},
    {"CountSumTooLarge", [](Bytes& b) { ++b[6]; }, "count sum does not match"},
    {"OffsetsNotIncreasing", [](Bytes& b) { SetEntry(b, 3, 44); }, "not increasing: entry 3"},
    {"RepeatedOffset", [](Bytes& b) { SetEntry(b, 2, 44); }, "not increasing: entry 2"},
    {"LastEntryShort", [](Bytes& b) { b.push_back(0); }, "not the file size minus 4"},
    {"LastEntryLong", [](Bytes& b) { SetEntry(b, 6, 0xFFFFFF); }, "not the file size minus 4"},
    {"ClipWithoutSync", [](Bytes& b) { b[BankDataStart(6) + 10 + 1] = 0x1B; }, "clip 1 at offset"},
};

class BrokenBank : public testing::TestWithParam<Fault> {};

TEST_P(BrokenBank, IsRejectedWithItsFaultNamed) {
    Bytes bank = SmallBank();
    GetParam().breakBank(bank);
    const SoundBankCheck check = Check(bank);
    EXPECT_FALSE(check.Ok());
    EXPECT_NE(check.Error.find(GetParam().expected), std::string::npos) << check.Error;
    EXPECT_EQ(check.Error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, BrokenBank, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& param) {
                             return param.param.name;
                         });

TEST(BankCheck, RejectsEveryProperPrefixOfAValidBank) {
    const Bytes bank = SmallBank();
    for (std::size_t size = 0; size < bank.size(); ++size) {
        const Bytes prefix(bank.begin(), bank.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(Check(prefix).Ok()) << size << " bytes";
    }
}

TEST(BankCheck, RejectsAFileTooLargeForTwentyFourBitOffsets) {
    Bytes bank = SmallBank();
    bank.resize(kBankMaxOffset + kBankTrailerSize + 1);
    const SoundBankCheck check = Check(bank);
    EXPECT_NE(check.Error.find("24-bit"), std::string::npos) << check.Error;
}

TEST(BankBuild, RefusesClipsThatDoNotMatchTheCounts) {
    SoundBankFields fields;
    fields.GroupCounts = {1, 1, 1};
    std::string error;
    EXPECT_TRUE(BuildSoundBank(fields, {FakeClip(8, 0), FakeClip(8, 1)}, error).empty());
    EXPECT_NE(error.find("3 clips, 2 were given"), std::string::npos) << error;
}

TEST(BankBuild, RefusesOffsetsBeyondTwentyFourBits) {
    SoundBankFields fields;
    fields.GroupCounts = {1, 0, 0};
    std::string error;
    EXPECT_TRUE(BuildSoundBank(fields, {FakeClip(kBankMaxOffset, 0)}, error).empty());
    EXPECT_NE(error.find("24-bit"), std::string::npos) << error;
}

TEST(BankBuild, RefusesAClipThatIsNotMpegAudio) {
    SoundBankFields fields;
    fields.GroupCounts = {0, 2, 0};
    std::string error;
    EXPECT_TRUE(BuildSoundBank(fields, {FakeClip(8, 0), Bytes(8, 0)}, error).empty());
    EXPECT_NE(error.find("clip 1"), std::string::npos) << error;
}

TEST(MpegHeader, ReadsTheCommonLayerThreeHeaders) {
    const std::uint8_t mpeg1[] = {0xFF, 0xFB, 0x90, 0xC0};
    MpegFrameHeader header;
    ASSERT_TRUE(ParseMpegFrameHeader(mpeg1, sizeof mpeg1, header));
    EXPECT_EQ(header.Describe(), "MPEG-1 Layer III, 128 kbit/s, 44100 Hz, mono");
    EXPECT_EQ(header.FrameSize(), 417u);

    const std::uint8_t mpeg2[] = {0xFF, 0xF3, 0x82, 0x44}; // 64 kbit/s, 22050 Hz, padded
    ASSERT_TRUE(ParseMpegFrameHeader(mpeg2, sizeof mpeg2, header));
    EXPECT_EQ(header.Describe(), "MPEG-2 Layer III, 64 kbit/s, 22050 Hz, stereo");
    EXPECT_EQ(header.FrameSize(), 209u);

    const std::uint8_t mpeg25[] = {0xFF, 0xE3, 0x44, 0xC4}; // 32 kbit/s, 12000 Hz
    ASSERT_TRUE(ParseMpegFrameHeader(mpeg25, sizeof mpeg25, header));
    EXPECT_EQ(header.Describe(), "MPEG-2.5 Layer III, 32 kbit/s, 12000 Hz, mono");
    EXPECT_EQ(header.FrameSize(), 192u);
}

TEST(MpegHeader, RejectsReservedFieldsAndShortInput) {
    const std::uint8_t reservedVersion[] = {0xFF, 0xEB, 0x90, 0x00};
    const std::uint8_t reservedLayer[] = {0xFF, 0xF9, 0x90, 0x00};
    const std::uint8_t badBitrate[] = {0xFF, 0xFB, 0xF0, 0x00};
    const std::uint8_t reservedRate[] = {0xFF, 0xFB, 0x9C, 0x00};
    const std::uint8_t noSync[] = {0xFF, 0x1B, 0x90, 0x00};
    MpegFrameHeader header;
    for (const std::uint8_t* bytes :
         {reservedVersion, reservedLayer, badBitrate, reservedRate, noSync})
        EXPECT_FALSE(ParseMpegFrameHeader(bytes, 4, header));
    EXPECT_FALSE(ParseMpegFrameHeader(reservedVersion, 3, header));
    EXPECT_TRUE(HasMpegFrameSync(reservedVersion, 4));
    EXPECT_FALSE(HasMpegFrameSync(noSync, 4));
}

TEST(MpegHeader, EncodesWhatItParsesForEveryVersionLayerAndBitrate) {
    int encoded = 0;
    for (int version : {3, 2, 0}) {
        for (int layer = 1; layer <= 3; ++layer) {
            for (int kbps = 0; kbps <= 448; kbps += 8) {
                MpegFrameHeader header;
                header.VersionId = version;
                header.Layer = layer;
                header.BitrateKbps = kbps;
                header.SampleRate = version == 3 ? 44100 : version == 2 ? 22050 : 8000;
                header.Padded = kbps % 16 == 0;
                std::array<std::uint8_t, kMpegHeaderSize> bytes{};
                if (!EncodeMpegFrameHeader(header, bytes))
                    continue;
                ++encoded;
                MpegFrameHeader parsed;
                ASSERT_TRUE(ParseMpegFrameHeader(bytes.data(), bytes.size(), parsed));
                EXPECT_EQ(parsed.Describe(), header.Describe());
                EXPECT_EQ(parsed.FrameSize(), header.FrameSize());
            }
        }
    }
    EXPECT_EQ(encoded, 3 * 3 * 15); // every code of every table, the free format included
}

} // namespace
