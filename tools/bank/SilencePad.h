// Padding an MPEG Layer III clip to an exact size with whole frames of digital silence, so that
// a clip fills its place in the sound bank and still decodes as a clean stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MpegFrameHeader;

// One Layer III frame that decodes to silence: the header of `like` (its version, sample rate,
// channels, bitrate and padding bit, without CRC), all-zero side information and no main data,
// so it borrows nothing from the bit reservoir of the frames before it.
std::vector<std::uint8_t> MakeSilentFrame(const MpegFrameHeader& like);

// Appends silent frames, whose bitrates are chosen so that their sizes add up exactly, until
// `clip` is `targetSize` bytes long. The clip must be a whole number of Layer III frames.
// False with `error` set when it is not, is already longer, or the gap cannot be filled.
[[nodiscard]] bool PadWithSilentFrames(std::vector<std::uint8_t>& clip, std::size_t targetSize,
                                       std::string& error);
