#include "SilencePad.h"

#include "install/SoundBank.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr int kMpeg1 = 3;
constexpr int kLayer3 = 3;
// Every bitrate of every MPEG version and layer; a stream's own table picks its subset.
constexpr int kAnyBitrateKbps[] = {8,   16,  24,  32,  40,  48,  56,  64,  80,  96,  112, 128,
                                   144, 160, 176, 192, 224, 256, 288, 320, 352, 384, 416, 448};

std::size_t SideInfoSize(const MpegFrameHeader& header) {
    if (header.VersionId == kMpeg1)
        return header.Mono ? 17 : 32;
    return header.Mono ? 9 : 17;
}

// Checks that the clip is nothing but Layer III frames and returns the first one's header.
bool ReadStreamHeader(const std::vector<std::uint8_t>& clip, MpegFrameHeader& first,
                      std::string& error) {
    std::size_t pos = 0;
    while (pos < clip.size()) {
        MpegFrameHeader frame;
        if (!ParseMpegFrameHeader(clip.data() + pos, clip.size() - pos, frame) ||
            frame.Layer != kLayer3 || frame.FrameSize() == 0) {
            error = "no MPEG Layer III frame at byte " + std::to_string(pos);
            return false;
        }
        if (pos == 0)
            first = frame;
        pos += frame.FrameSize();
    }
    if (pos == 0 || pos != clip.size()) {
        error = pos == 0 ? "the clip is empty" : "the last frame runs past the end of the clip";
        return false;
    }
    return true;
}

// The silent frames that may follow the stream: same version, rate and channels, any bitrate.
std::vector<MpegFrameHeader> SilentFrameKinds(const MpegFrameHeader& stream) {
    std::vector<MpegFrameHeader> kinds;
    for (int kbps : kAnyBitrateKbps) {
        for (bool padded : {false, true}) {
            MpegFrameHeader kind = stream;
            kind.BitrateKbps = kbps;
            kind.Padded = padded;
            kind.Protected = false;
            std::array<std::uint8_t, kMpegHeaderSize> unused{};
            if (EncodeMpegFrameHeader(kind, unused))
                kinds.push_back(kind);
        }
    }
    return kinds;
}

// Fewest frames whose sizes add up to `gap` exactly (coin change); empty when impossible.
std::vector<MpegFrameHeader> ChooseFrames(const std::vector<MpegFrameHeader>& kinds,
                                          std::size_t gap) {
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> fewest(1, 0); // filling nothing takes no frames
    fewest.resize(gap + 1, kNone);
    std::vector<std::size_t> lastKind(gap + 1, 0);
    for (std::size_t n = 1; n <= gap; ++n) {
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const std::size_t size = kinds[k].FrameSize();
            if (size <= n && fewest[n - size] != kNone && fewest[n - size] + 1 < fewest[n]) {
                fewest[n] = fewest[n - size] + 1;
                lastKind[n] = k;
            }
        }
    }
    std::vector<MpegFrameHeader> chosen;
    for (std::size_t n = gap; n > 0 && fewest[n] != kNone; n -= kinds[lastKind[n]].FrameSize())
        chosen.push_back(kinds[lastKind[n]]);
    return chosen;
}

} // namespace

std::vector<std::uint8_t> MakeSilentFrame(const MpegFrameHeader& like) {
    MpegFrameHeader header = like;
    header.Protected = false;
    std::array<std::uint8_t, kMpegHeaderSize> bytes{};
    const std::size_t size = header.FrameSize();
    if (header.Layer != kLayer3 || !EncodeMpegFrameHeader(header, bytes) ||
        size < kMpegHeaderSize + SideInfoSize(header))
        return {};
    std::vector<std::uint8_t> frame(size, 0);
    std::copy(bytes.begin(), bytes.end(), frame.begin());
    return frame;
}

bool PadWithSilentFrames(std::vector<std::uint8_t>& clip, std::size_t targetSize,
                         std::string& error) {
    MpegFrameHeader stream;
    if (!ReadStreamHeader(clip, stream, error))
        return false;
    if (clip.size() > targetSize) {
        error = "the clip has " + std::to_string(clip.size()) + " bytes, more than " +
                std::to_string(targetSize);
        return false;
    }
    const std::size_t gap = targetSize - clip.size();
    const std::vector<MpegFrameHeader> frames = ChooseFrames(SilentFrameKinds(stream), gap);
    if (gap > 0 && frames.empty()) {
        error = "no set of whole frames fills the " + std::to_string(gap) + " missing bytes";
        return false;
    }
    for (const MpegFrameHeader& frame : frames) {
        const std::vector<std::uint8_t> silence = MakeSilentFrame(frame);
        clip.insert(clip.end(), silence.begin(), silence.end());
    }
    return true;
}
