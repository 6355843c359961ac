#include "support/StampedImage.h"

#include "install/ImageDigest.h"

#include <cstdint>
#include <stdexcept>

namespace sim_tests {
namespace {

constexpr std::size_t kPeOffset = 0x80;
constexpr std::size_t kOptionalHeader = kPeOffset + 4 + 20;
constexpr std::size_t kOptionalHeaderSize = 0xE0; // PE32 with 16 directories
constexpr std::size_t kHeadersEnd = 0x400;
constexpr std::size_t kCodeSize = 0x600;

void PutLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value,
                     std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }
}

std::string Filler(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245U + 12345U;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

std::string Headers() {
    std::string bytes(kHeadersEnd, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutLittleEndian(bytes, 0x3C, kPeOffset, 4);
    bytes.replace(kPeOffset, 4, std::string("PE\0\0", 4));
    PutLittleEndian(bytes, kPeOffset + 4, 0x14C, 2); // i386
    PutLittleEndian(bytes, kPeOffset + 4 + 16, kOptionalHeaderSize, 2);
    PutLittleEndian(bytes, kOptionalHeader, 0x10B, 2);           // PE32
    PutLittleEndian(bytes, kOptionalHeader + 64, 0x0001E2A4, 4); // CheckSum
    PutLittleEndian(bytes, kOptionalHeader + 92, 16, 4);         // NumberOfRvaAndSizes
    return bytes;
}

} // namespace

StampedImage BuildStampedImage(const std::string& payload) {
    StampedImage image{};
    image.checkSumOffset = kOptionalHeader + 64;
    image.certificateEntryOffset = kOptionalHeader + 96 + 4 * 8;
    image.bytes = Headers() + Filler(kCodeSize, 7);
    image.markerOffset = image.bytes.size();
    image.bytes.append(kStampMarker.begin(), kStampMarker.end());
    image.slotOffset = image.bytes.size();
    image.bytes.append(kStampSlotSize, '\0');
    image.bytes += Filler(0x200, 11);
    image.payloadOffset = image.bytes.size();
    image.bytes += payload + Filler(0x300, 13);
    Stamp(image);
    return image;
}

std::string MakeStampedImage(const std::string& payload) {
    return BuildStampedImage(payload).bytes;
}

std::string MakeUnstampedImage(const std::string& payload) {
    StampedImage image = BuildStampedImage(payload);
    image.bytes.replace(image.slotOffset, kStampSlotSize, kStampSlotSize, '\0');
    return image.bytes;
}

void AppendCertificateTable(StampedImage& image, const std::string& table) {
    PutLittleEndian(image.bytes, image.certificateEntryOffset,
                    static_cast<std::uint32_t>(image.bytes.size()), 4);
    PutLittleEndian(image.bytes, image.certificateEntryOffset + 4,
                    static_cast<std::uint32_t>(table.size()), 4);
    PutLittleEndian(image.bytes, image.checkSumOffset, 0x00C0FFEE, 4);
    image.bytes += table;
}

void Stamp(StampedImage& image) {
    const ImageDigestResult result =
        DigestImage(reinterpret_cast<const std::uint8_t*>(image.bytes.data()), image.bytes.size(),
                    kStampMarker);
    if (result.status != ImageStatus::Ok) {
        throw std::logic_error("test image cannot be stamped");
    }
    image.bytes.replace(result.slotOffset, kStampSlotSize,
                        reinterpret_cast<const char*>(result.digest.data()), kStampSlotSize);
}

} // namespace sim_tests
