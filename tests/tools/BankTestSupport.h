// Helpers shared by the sound-bank tests: file bytes and small banks built from known clips.
#pragma once

#include "install/SoundBank.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (!in || size <= 0)
        return {};
    Bytes bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return in ? bytes : Bytes{};
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline const std::string kEmbeddedBankPath = ZELM_SOURCE_DIR "/res/zorv.3bs";

// A clip that starts with an MPEG-1 Layer III header (128 kbit/s, 44100 Hz) and then carries
// `fill` in every byte, so that each clip of a bank is recognisable.
inline Bytes FakeClip(std::size_t size, std::uint8_t fill) {
    Bytes clip(size, fill);
    const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0xC0};
    std::copy(header, header + sizeof header, clip.begin());
    return clip;
}

// A valid bank with 2 + 1 + 3 clips of different sizes.
inline Bytes SmallBank() {
    SoundBankFields fields;
    fields.Byte4 = 2;
    fields.Version = 5;
    fields.GroupCounts = {2, 1, 3};
    fields.HeaderWord = 0x001207EC;
    fields.Trailer = {0xA1, 0xB2, 0xC3, 0xD4};
    std::vector<Bytes> clips;
    for (std::uint8_t k = 0; k < 6; ++k)
        clips.push_back(FakeClip(std::size_t{10} + 7u * k, static_cast<std::uint8_t>(0x10 + k)));
    std::string error;
    return BuildSoundBank(fields, clips, error);
}

// Little-endian 24-bit offset table entry k of a bank.
inline void SetEntry(Bytes& bank, std::size_t k, std::uint32_t value) {
    for (std::size_t i = 0; i < 3; ++i)
        bank[9 + 3 * k + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
