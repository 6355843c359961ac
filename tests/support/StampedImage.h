// Stamped updater images for tests on the simulated Windows: a small PE-like file that carries a
// payload (standing in for the sound bank) and a stamp area, stamped as the build stamps the
// real executable.
#pragma once

#include <cstddef>
#include <string>

namespace sim_tests {

// Where the parts of an image made by BuildStampedImage lie.
struct StampedImage {
    std::string bytes;
    std::size_t checkSumOffset;         // the optional header's CheckSum
    std::size_t certificateEntryOffset; // data directory 4: offset and size of the certificates
    std::size_t markerOffset;
    std::size_t slotOffset;
    std::size_t payloadOffset;
};

// Headers, code-like filler, the marker and slot, the payload, trailing filler; the slot holds
// the image's digest.
StampedImage BuildStampedImage(const std::string& payload);
std::string MakeStampedImage(const std::string& payload);
// The same image with its slot left as the linker leaves it: all zero.
std::string MakeUnstampedImage(const std::string& payload);

// What a signing tool does: appends `table` as the certificate table, points data directory 4 at
// it and rewrites the CheckSum field.
void AppendCertificateTable(StampedImage& image, const std::string& table);
// Writes the image's own digest into its slot again, as the stamper does.
void Stamp(StampedImage& image);

} // namespace sim_tests
