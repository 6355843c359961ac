// The sound-bank container "zorv.3bs": its layout, the checks that make a byte string one, and
// the inverse that assembles one from clips.
//
// Layout (little-endian, offsets absolute): "zorv", byte 4, version, three one-byte group counts
// whose sum N is the clip count, N + 1 unsigned 24-bit offsets (entry k starts clip k, entry N
// ends the last clip), a 4-byte header word, the clips back to back, a 4-byte trailer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kBankGroupCount = 3;
constexpr std::uint32_t kBankMaxOffset = 0xFFFFFF; // offsets are 24 bits wide
constexpr std::size_t kBankTrailerSize = 4;

struct SoundBankLayout {
    std::uint8_t Byte4 = 0;
    std::uint8_t Version = 0;
    std::array<std::uint8_t, kBankGroupCount> GroupCounts{};
    std::vector<std::uint32_t> Offsets; // ClipCount() + 1 entries
    std::uint32_t HeaderWord = 0;
    std::array<std::uint8_t, kBankTrailerSize> Trailer{};

    std::size_t ClipCount() const { return Offsets.empty() ? 0 : Offsets.size() - 1; }
    std::size_t GroupFirstClip(std::size_t group) const;
    std::uint32_t ClipLength(std::size_t clip) const { return Offsets[clip + 1] - Offsets[clip]; }
};

// Offset of the first clip byte for `clipCount` clips: right after the header word.
std::uint32_t BankDataStart(std::size_t clipCount);

// Either a layout that satisfies every invariant of the container, or the first fault found.
struct SoundBankCheck {
    SoundBankLayout Layout;
    std::string Error; // one line naming the fault; empty when the bytes form a valid bank

    [[nodiscard]] bool Ok() const { return Error.empty(); }
};

// Checks magic, header size, offset table (starts right after the header word, strictly
// increasing, ends 4 bytes before the end of the file), 24-bit limits, and that every clip
// starts with an MPEG audio frame sync. Never reads outside [data, data + size).
SoundBankCheck CheckSoundBank(const std::uint8_t* data, std::size_t size);

// The fields that the container carries besides its clips.
struct SoundBankFields {
    std::uint8_t Byte4 = 0;
    std::uint8_t Version = 0;
    std::array<std::uint8_t, kBankGroupCount> GroupCounts{};
    std::uint32_t HeaderWord = 0;
    std::array<std::uint8_t, kBankTrailerSize> Trailer{};
};

// Assembles a container; `error` names the fault (count mismatch, 24-bit overflow, clip that is
// not MPEG audio) and the result is then empty. The result always passes CheckSoundBank.
std::vector<std::uint8_t> BuildSoundBank(const SoundBankFields& fields,
                                         const std::vector<std::vector<std::uint8_t>>& clips,
                                         std::string& error);

// An MPEG audio frame header (Layer I, II or III of MPEG-1, MPEG-2 or MPEG-2.5).
struct MpegFrameHeader {
    int VersionId = 0;   // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int Layer = 0;       // 1 to 3
    int BitrateKbps = 0; // 0 for the free format
    int SampleRate = 0;  // Hz
    bool Padded = false;
    bool Mono = false;
    bool Protected = false; // a CRC follows the header

    std::size_t FrameSize() const; // 0 for the free format
    std::string Describe() const;  // e.g. "MPEG-1 Layer III, 128 kbit/s, 44100 Hz, stereo"
};

constexpr std::size_t kMpegHeaderSize = 4;

// True when the 4 bytes at `p` hold the 11-bit frame sync.
[[nodiscard]] bool HasMpegFrameSync(const std::uint8_t* p, std::size_t available);

// Decodes a frame header; false (and `header` untouched) when the bytes are not a valid one.
[[nodiscard]] bool ParseMpegFrameHeader(const std::uint8_t* p, std::size_t available,
                                        MpegFrameHeader& header);

// The 4 header bytes for `header` (no private, copyright or emphasis bits); false when its
// bitrate or sample rate has no code in its version and layer.
[[nodiscard]] bool EncodeMpegFrameHeader(const MpegFrameHeader& header,
                                         std::array<std::uint8_t, kMpegHeaderSize>& bytes);
