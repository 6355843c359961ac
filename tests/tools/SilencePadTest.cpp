// Padding clips to exact sizes with silent frames.
#include "BankTestSupport.h"

#include "SilencePad.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

// Test names and messages show a stream by its rate, not by its raw bytes.
void PrintTo(const MpegFrameHeader& header, std::ostream* out) {
    *out << header.SampleRate << " Hz " << header.BitrateKbps << " kbps"
         << (header.Mono ? " mono" : " stereo");
}

namespace {

MpegFrameHeader Stream(int versionId, int sampleRate, int kbps, bool mono) {
    MpegFrameHeader header;
    header.VersionId = versionId;
    header.Layer = 3;
    header.SampleRate = sampleRate;
    header.BitrateKbps = kbps;
    header.Mono = mono;
    return header;
}

Bytes FramesOf(const MpegFrameHeader& header, int count) {
    Bytes clip;
    for (int i = 0; i < count; ++i) {
        const Bytes frame = MakeSilentFrame(header);
        clip.insert(clip.end(), frame.begin(), frame.end());
    }
    return clip;
}

// Walks the frames; the number of frames, or -1 when the bytes are not whole frames of the
// stream's version, rate and channel mode.
int CountFrames(const Bytes& clip, const MpegFrameHeader& stream) {
    int frames = 0;
    for (std::size_t pos = 0; pos < clip.size(); ++frames) {
        MpegFrameHeader frame;
        if (!ParseMpegFrameHeader(clip.data() + pos, clip.size() - pos, frame) ||
            frame.VersionId != stream.VersionId || frame.SampleRate != stream.SampleRate ||
            frame.Mono != stream.Mono || pos + frame.FrameSize() > clip.size())
            return -1;
        pos += frame.FrameSize();
    }
    return frames;
}

TEST(SilentFrame, IsAHeaderThenZeroSideInformationAndData) {
    const Bytes frame = MakeSilentFrame(Stream(3, 44100, 128, false));
    ASSERT_EQ(frame.size(), 417u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xFF, 0xFB, 0x90, 0x00}));
    EXPECT_EQ(std::count(frame.begin() + 4, frame.end(), 0), 413);
    MpegFrameHeader layer2 = Stream(3, 44100, 128, false);
    layer2.Layer = 2;
    EXPECT_TRUE(MakeSilentFrame(layer2).empty());
}

class PadStream : public testing::TestWithParam<MpegFrameHeader> {};

TEST_P(PadStream, FillsEveryGapFromThreeKilobytesExactly) {
    const MpegFrameHeader stream = GetParam();
    const Bytes original = FramesOf(stream, 20);
    for (std::size_t gap = 2700; gap < 4000; gap += 37) {
        Bytes clip = original;
        std::string error;
        ASSERT_TRUE(PadWithSilentFrames(clip, original.size() + gap, error)) << gap << error;
        EXPECT_EQ(clip.size(), original.size() + gap);
        EXPECT_TRUE(std::equal(original.begin(), original.end(), clip.begin()));
        EXPECT_GT(CountFrames(clip, stream), 20) << "gap " << gap;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, PadStream,
                         testing::Values(Stream(3, 44100, 128, false), Stream(3, 44100, 112, true),
                                         Stream(2, 22050, 64, true), Stream(0, 11025, 32, true)),
                         [](const testing::TestParamInfo<MpegFrameHeader>& param) {
                             const MpegFrameHeader& h = param.param;
                             return std::to_string(h.SampleRate) + "Hz" +
                                    std::to_string(h.BitrateKbps) + "kbps" +
                                    (h.Mono ? "Mono" : "Stereo");
                         });

TEST(Pad, LeavesAClipOfTheRightSizeAsItIs) {
    const MpegFrameHeader stream = Stream(3, 44100, 128, false);
    Bytes clip = FramesOf(stream, 3);
    std::string error;
    ASSERT_TRUE(PadWithSilentFrames(clip, 3 * 417, error)) << error;
    EXPECT_EQ(clip, FramesOf(stream, 3));
}

TEST(Pad, RefusesWhatItCannotDo) {
    const MpegFrameHeader stream = Stream(3, 44100, 128, false);
    struct Case {
        Bytes clip;
        std::size_t target;
        const char* expected;
    };
    Bytes cutFrame = FramesOf(stream, 2);
    cutFrame.pop_back();
    const Case cases[] = {
        {FramesOf(stream, 2), 2 * 417 + 17, "no set of whole frames"},
        {FramesOf(stream, 2), 417, "more than 417"},
        {Bytes(1000, 0), 2000, "no MPEG Layer III frame at byte 0"},
        {cutFrame, 2000, "runs past the end"},
        {Bytes{}, 2000, "empty"},
    };
    for (const Case& c : cases) {
        Bytes clip = c.clip;
        std::string error;
        EXPECT_FALSE(PadWithSilentFrames(clip, c.target, error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(clip, c.clip);
    }
}

// mpg123 is the reference decoder here: padded clips must play without a single complaint.
TEST(Pad, PaddedStreamDecodesCleanly) {
    if (std::system("mpg123 --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mpg123 is not installed";
    const auto dir = std::filesystem::temp_directory_path() / "zorv-pad-test";
    std::filesystem::create_directories(dir);
    const MpegFrameHeader stream = Stream(2, 22050, 64, false);
    Bytes clip = FramesOf(stream, 10);
    std::string error;
    ASSERT_TRUE(PadWithSilentFrames(clip, clip.size() + 3333, error)) << error;
    WriteBytes((dir / "clip.mp3").string(), clip);
    const std::string command =
        "mpg123 -q -t " + (dir / "clip.mp3").string() + " 2>" + (dir / "log").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(ReadBytes((dir / "log").string()).empty());
    std::filesystem::remove_all(dir);
}

} // namespace
