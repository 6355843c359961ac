// zelm_stamp IMAGE: writes the image's digest into its stamp slot, so that the updater can tell at
// run time that its file is the one the build produced. Run on the linked executable, before any
// Authenticode signature is added. A PE file is first padded with zeros to a multiple of eight
// bytes.
//
// zelm_stamp --verify IMAGE: the check the updater makes of its own file, so that a release can
// make it on the file it ships, signed or not; exits 0 when the stamp verifies.
#include "install/ImageDigest.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::vector<std::uint8_t>> ReadImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

bool WriteImage(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

// A signing tool pads a PE file to a multiple of eight bytes before it appends the certificate
// table, which would add bytes to the digest; padding before stamping leaves it nothing to add.
void PadForSigning(std::vector<std::uint8_t>& image) {
    constexpr std::size_t kCertificateAlignment = 8;
    image.resize((image.size() + kCertificateAlignment - 1) / kCertificateAlignment *
                 kCertificateAlignment);
}

// Writes the PE checksum as linkers and signing tools compute it: the file's 16-bit words, with
// the CheckSum field as zero, summed with the carry folded back in, plus the file's size.
void SetPeCheckSum(std::vector<std::uint8_t>& image, std::size_t checkSumOffset) {
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(checkSumOffset), 4, std::uint8_t{0});
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < image.size(); at += 2) {
        const std::uint32_t high = at + 1 < image.size() ? image[at + 1] : 0U;
        sum += image[at] | high << 8;
        sum = (sum & 0xFFFFU) + (sum >> 16);
    }
    const std::uint32_t checkSum = sum + static_cast<std::uint32_t>(image.size());
    for (std::size_t i = 0; i < 4; ++i) {
        image[checkSumOffset + i] = static_cast<std::uint8_t>(checkSum >> (8 * i));
    }
}

// Why the image cannot be stamped, or empty when it can.
std::string Refusal(const ImageDigestResult& result) {
    switch (result.status) {
    case ImageStatus::Ok:
        break;
    case ImageStatus::NoMarker:
        return "the stamp marker does not occur in the image (was the self-check linked in?)";
    case ImageStatus::DuplicateMarker:
        return "the stamp marker occurs more than once in the image";
    case ImageStatus::SlotPastEnd:
        return "the stamp marker is too close to the end of the image to be followed by its slot";
    case ImageStatus::MisplacedCertificates:
        return "the certificate table is not at the end of the image";
    }
    if (result.hasCertificates) {
        return "the image is already signed; stamp it before signing";
    }
    return {};
}

int Verify(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const ImageDigestResult result = DigestImage(bytes.data(), bytes.size(), kStampMarker);
    if (!IsIntact(result)) {
        const std::string why = result.status == ImageStatus::Ok
                                    ? "the slot does not hold the image's digest (never stamped, "
                                      "or changed after stamping)"
                                    : Refusal(result);
        std::cerr << "zelm_stamp: " << path << ": the stamp does not verify: " << why << "\n";
        return 1;
    }
    std::cout << "zelm_stamp: " << path << ": the stamp verifies, digest " << ToHex(result.digest)
              << (result.hasCertificates ? " (signed)" : "") << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool verify = argc == 3 && std::string(argv[1]) == "--verify";
    if (argc != 2 && !verify) {
        std::cerr << "usage: zelm_stamp IMAGE\n       zelm_stamp --verify IMAGE\n";
        return 2;
    }
    const std::string path = argv[argc - 1];
    std::optional<std::vector<std::uint8_t>> image = ReadImage(path);
    if (!image) {
        std::cerr << "zelm_stamp: cannot read " << path << "\n";
        return 1;
    }
    std::vector<std::uint8_t>& bytes = *image;
    if (verify) {
        return Verify(path, bytes);
    }
    if (DigestImage(bytes.data(), bytes.size(), kStampMarker).isPe) {
        PadForSigning(bytes);
    }
    const ImageDigestResult result = DigestImage(bytes.data(), bytes.size(), kStampMarker);
    const std::string refusal = Refusal(result);
    if (!refusal.empty()) {
        std::cerr << "zelm_stamp: " << path << ": " << refusal << "\n";
        return 1;
    }
    std::copy(result.digest.begin(), result.digest.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(result.slotOffset));
    // The linker's checksum no longer fits the stamped file. Set right, it is also what removing
    // a signature later writes, so the unsigned file can be compared with the build's byte for
    // byte. The digest leaves the field out.
    if (result.isPe) {
        SetPeCheckSum(bytes, static_cast<std::size_t>(result.checkSumOffset));
    }
    if (!WriteImage(path, bytes)) {
        std::cerr << "zelm_stamp: cannot write " << path << "\n";
        return 1;
    }
    std::cout << "zelm_stamp: " << path << ": digest " << ToHex(result.digest) << " at offset "
              << result.slotOffset << "\n";
    return 0;
}
