#include "install/SoundBank.h"

#include <cstring>
#include <numeric>

namespace {

constexpr char kMagic[] = {'z', 'o', 'r', 'v'};
constexpr std::size_t kMagicSize = sizeof kMagic;
constexpr std::size_t kCountsOffset = 6;
constexpr std::size_t kTableOffset = kCountsOffset + kBankGroupCount;
constexpr std::size_t kOffsetSize = 3;
constexpr std::size_t kHeaderWordSize = 4;

std::uint32_t ReadU24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    return ReadU24(p) | static_cast<std::uint32_t>(p[3]) << 24;
}

void AppendLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::size_t CountSum(const std::array<std::uint8_t, kBankGroupCount>& counts) {
    return std::accumulate(counts.begin(), counts.end(), std::size_t{0});
}

std::array<std::uint8_t, kBankGroupCount> ReadCounts(const std::uint8_t* data) {
    std::array<std::uint8_t, kBankGroupCount> counts{};
    std::memcpy(counts.data(), data + kCountsOffset, kBankGroupCount);
    return counts;
}

std::string Num(std::size_t value) {
    return std::to_string(value);
}

// Reads the fixed fields and the table; the caller has made sure that they lie inside the file.
SoundBankLayout ReadLayout(const std::uint8_t* data, std::size_t clipCount) {
    SoundBankLayout layout;
    layout.Byte4 = data[4];
    layout.Version = data[5];
    layout.GroupCounts = ReadCounts(data);
    for (std::size_t k = 0; k <= clipCount; ++k)
        layout.Offsets.push_back(ReadU24(data + kTableOffset + kOffsetSize * k));
    layout.HeaderWord = ReadU32(data + kTableOffset + kOffsetSize * (clipCount + 1));
    return layout;
}

std::string CheckHeader(const std::uint8_t* data, std::size_t size) {
    if (size < kTableOffset)
        return "truncated: " + Num(size) + " bytes, the header alone needs " + Num(kTableOffset);
    if (std::memcmp(data, kMagic, kMagicSize) != 0)
        return "bad magic: the file does not start with \"zorv\"";
    const std::size_t clipCount = CountSum(ReadCounts(data));
    if (clipCount == 0)
        return "the group counts add up to no clips";
    if (BankDataStart(clipCount) + kBankTrailerSize > size)
        return "offset table beyond the end: " + Num(clipCount) + " clips need " +
               Num(BankDataStart(clipCount) + kBankTrailerSize) + " bytes of header and trailer, " +
               "the file has " + Num(size);
    if (size - kBankTrailerSize > kBankMaxOffset)
        return "over the 24-bit limit: a file of " + Num(size) +
               " bytes cannot end its clips at a 24-bit offset";
    return {};
}

std::string CheckOffsets(const SoundBankLayout& layout, std::size_t size) {
    const std::size_t clipCount = layout.ClipCount();
    if (layout.Offsets.front() != BankDataStart(clipCount))
        return "count sum does not match the table: entry 0 is " + Num(layout.Offsets.front()) +
               ", the group counts (" + Num(clipCount) + " clips) put the first clip at " +
               Num(BankDataStart(clipCount));
    for (std::size_t k = 1; k <= clipCount; ++k) {
        if (layout.Offsets[k] <= layout.Offsets[k - 1])
            return "offsets not increasing: entry " + Num(k) + " (" + Num(layout.Offsets[k]) +
                   ") does not exceed entry " + Num(k - 1) + " (" + Num(layout.Offsets[k - 1]) +
                   ")";
    }
    if (layout.Offsets.back() != size - kBankTrailerSize)
        return "last entry " + Num(layout.Offsets.back()) + " is not the file size minus 4 (" +
               Num(size - kBankTrailerSize) + ")";
    return {};
}

std::string CheckClipStarts(const std::uint8_t* data, const SoundBankLayout& layout) {
    for (std::size_t k = 0; k < layout.ClipCount(); ++k) {
        if (!HasMpegFrameSync(data + layout.Offsets[k], layout.ClipLength(k)))
            return "clip " + Num(k) + " at offset " + Num(layout.Offsets[k]) +
                   " does not start with an MPEG frame sync";
    }
    return {};
}

// Kilobits per second by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is the free format.
constexpr int kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

constexpr int kMpeg1SampleRates[3] = {44100, 48000, 32000};
constexpr int kVersionMpeg1 = 3;
constexpr int kVersionMpeg2 = 2;
constexpr int kVersionMpeg25 = 0;

const int* BitrateRow(int versionId, int layer) {
    return kBitrates[versionId == kVersionMpeg1 ? 0 : 1][layer - 1];
}

int SampleRateDivisor(int versionId) {
    return versionId == kVersionMpeg1 ? 1 : versionId == kVersionMpeg2 ? 2 : 4;
}

const char* VersionName(int versionId) {
    return versionId == kVersionMpeg1   ? "MPEG-1"
           : versionId == kVersionMpeg2 ? "MPEG-2"
                                        : "MPEG-2.5";
}

} // namespace

std::size_t SoundBankLayout::GroupFirstClip(std::size_t group) const {
    std::size_t first = 0;
    for (std::size_t g = 0; g < group; ++g)
        first += GroupCounts[g];
    return first;
}

std::uint32_t BankDataStart(std::size_t clipCount) {
    return static_cast<std::uint32_t>(kTableOffset + kOffsetSize * (clipCount + 1) +
                                      kHeaderWordSize);
}

SoundBankCheck CheckSoundBank(const std::uint8_t* data, std::size_t size) {
    SoundBankCheck check;
    check.Error = CheckHeader(data, size);
    if (!check.Ok())
        return check;
    const std::size_t clipCount = CountSum(ReadCounts(data));
    check.Layout = ReadLayout(data, clipCount);
    check.Error = CheckOffsets(check.Layout, size);
    if (check.Ok())
        check.Error = CheckClipStarts(data, check.Layout);
    if (check.Ok())
        std::memcpy(check.Layout.Trailer.data(), data + size - kBankTrailerSize, kBankTrailerSize);
    return check;
}

std::vector<std::uint8_t> BuildSoundBank(const SoundBankFields& fields,
                                         const std::vector<std::vector<std::uint8_t>>& clips,
                                         std::string& error) {
    const std::size_t clipCount = CountSum(fields.GroupCounts);
    if (clipCount != clips.size()) {
        error = "the group counts add up to " + Num(clipCount) + " clips, " + Num(clips.size()) +
                " were given";
        return {};
    }
    std::vector<std::uint8_t> bank(kMagic, kMagic + kMagicSize);
    bank.push_back(fields.Byte4);
    bank.push_back(fields.Version);
    bank.insert(bank.end(), fields.GroupCounts.begin(), fields.GroupCounts.end());
    std::size_t offset = BankDataStart(clipCount);
    for (std::size_t k = 0; k <= clipCount; ++k) {
        if (offset > kBankMaxOffset) {
            error = "over the 24-bit limit: entry " + Num(k) + " would be " + Num(offset);
            return {};
        }
        AppendLittleEndian(bank, static_cast<std::uint32_t>(offset), kOffsetSize);
        if (k < clipCount)
            offset += clips[k].size();
    }
    AppendLittleEndian(bank, fields.HeaderWord, kHeaderWordSize);
    for (const auto& clip : clips)
        bank.insert(bank.end(), clip.begin(), clip.end());
    bank.insert(bank.end(), fields.Trailer.begin(), fields.Trailer.end());
    error = CheckSoundBank(bank.data(), bank.size()).Error;
    if (!error.empty())
        bank.clear();
    return bank;
}

bool HasMpegFrameSync(const std::uint8_t* p, std::size_t available) {
    return available >= kMpegHeaderSize && p[0] == 0xFF && (p[1] & 0xE0) == 0xE0;
}

bool ParseMpegFrameHeader(const std::uint8_t* p, std::size_t available, MpegFrameHeader& header) {
    if (!HasMpegFrameSync(p, available))
        return false;
    const int versionId = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionId == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    MpegFrameHeader parsed;
    parsed.VersionId = versionId;
    parsed.Layer = 4 - layerBits;
    parsed.BitrateKbps = BitrateRow(versionId, parsed.Layer)[bitrateIndex];
    parsed.SampleRate = kMpeg1SampleRates[rateIndex] / SampleRateDivisor(versionId);
    parsed.Padded = (p[2] & 2) != 0;
    parsed.Mono = (p[3] >> 6) == 3;
    parsed.Protected = (p[1] & 1) == 0;
    header = parsed;
    return true;
}

bool EncodeMpegFrameHeader(const MpegFrameHeader& header,
                           std::array<std::uint8_t, kMpegHeaderSize>& bytes) {
    const bool knownVersion = header.VersionId == kVersionMpeg1 ||
                              header.VersionId == kVersionMpeg2 ||
                              header.VersionId == kVersionMpeg25;
    if (!knownVersion || header.Layer < 1 || header.Layer > 3)
        return false;
    const int* row = BitrateRow(header.VersionId, header.Layer);
    int bitrateIndex = 0;
    while (bitrateIndex < 15 && row[bitrateIndex] != header.BitrateKbps)
        ++bitrateIndex;
    int rateIndex = 0;
    while (rateIndex < 3 &&
           kMpeg1SampleRates[rateIndex] / SampleRateDivisor(header.VersionId) != header.SampleRate)
        ++rateIndex;
    if (bitrateIndex == 15 || rateIndex == 3)
        return false;
    bytes[0] = 0xFF;
    bytes[1] = static_cast<std::uint8_t>(0xE0 | header.VersionId << 3 | (4 - header.Layer) << 1 |
                                         (header.Protected ? 0 : 1));
    bytes[2] =
        static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | (header.Padded ? 2 : 0));
    bytes[3] = header.Mono ? 0xC0 : 0x00;
    return true;
}

std::size_t MpegFrameHeader::FrameSize() const {
    const std::size_t bitsPerSecond = static_cast<std::size_t>(BitrateKbps) * 1000;
    const auto rate = static_cast<std::size_t>(SampleRate);
    const std::size_t pad = Padded ? 1 : 0;
    if (rate == 0)
        return 0;
    if (Layer == 1)
        return (12 * bitsPerSecond / rate + pad) * 4;
    const bool halfFrame = Layer == 3 && VersionId != kVersionMpeg1;
    return (halfFrame ? 72 : 144) * bitsPerSecond / rate + pad;
}

std::string MpegFrameHeader::Describe() const {
    static const char* const kLayerNames[] = {"I", "II", "III"};
    std::string text = std::string(VersionName(VersionId)) + " Layer " + kLayerNames[Layer - 1];
    text += BitrateKbps == 0 ? ", free format" : ", " + std::to_string(BitrateKbps) + " kbit/s";
    text += ", " + std::to_string(SampleRate) + " Hz, ";
    text += Mono ? "mono" : "stereo";
    return text;
}
