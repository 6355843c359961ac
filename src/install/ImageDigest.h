// The digest that ties the updater's executable to the build that produced it.
//
// The stamper computes it after linking and writes it into a 32-byte slot that follows a 16-byte
// marker in the image; the updater recomputes it over its own file at run time. The digest covers
// every byte of the file except the slot itself and, in a PE file, the fields that Authenticode
// also leaves out (the optional header's CheckSum, the certificate-table directory entry and the
// certificate table), so signing the stamped file afterwards keeps the stamp valid. Any other file
// is hashed whole, apart from the slot.
#pragma once

#include "install/Sha256.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t kStampMarkerSize = 16;
inline constexpr std::size_t kStampSlotSize = 32;
using StampMarker = std::array<std::uint8_t, kStampMarkerSize>;

// Random bytes, so they do not turn up by chance. The updater must not use this constant in its
// code: it reads the marker from its own stamp area, so the image holds the bytes exactly once.
inline constexpr StampMarker kStampMarker = {0x1f, 0xa7, 0xea, 0x73, 0x46, 0x2e, 0xdc, 0x75,
                                             0xc6, 0x18, 0x7e, 0xd1, 0xa0, 0x26, 0x59, 0x81};

enum class ImageStatus {
    Ok,
    NoMarker,
    DuplicateMarker,
    SlotPastEnd,           // the marker sits too close to the end to be followed by a slot
    MisplacedCertificates, // a certificate table that does not end the file after the slot
};

struct ImageDigestResult {
    ImageStatus status = ImageStatus::NoMarker;
    bool isPe = false;
    bool hasCertificates = false;
    std::uint64_t slotOffset = 0;     // meaningful unless the marker is missing
    std::uint64_t checkSumOffset = 0; // the optional header's CheckSum, when isPe
    Sha256Digest digest{};            // computed over the file
    Sha256Digest storedDigest{};      // what the slot holds
};

// True when the image is well formed, stamped, and its slot holds its digest.
[[nodiscard]] bool IsIntact(const ImageDigestResult& result);

// Computes the digest of one image fed in order, in pieces of any size.
class ImageDigester {
public:
    explicit ImageDigester(const StampMarker& marker);
    void Update(const std::uint8_t* data, std::size_t size);
    ImageDigestResult Finish();

private:
    struct Range {
        std::uint64_t begin;
        std::uint64_t end;
    };

    void FindMarkers(const std::uint8_t* data, std::size_t size);
    void OnMarker(std::uint64_t markerOffset);
    void ReadHeader();
    void Hash(const std::uint8_t* data, std::size_t size);
    void CaptureSlot(const std::uint8_t* data, std::size_t size);

    StampMarker marker_;
    Sha256 sha_;
    std::uint64_t received_ = 0; // bytes given to Update so far
    std::uint64_t hashed_ = 0;   // bytes passed through Hash so far (held header bytes are not)
    std::vector<std::uint8_t> heldHeader_;
    bool headerRead_ = false;
    std::vector<std::uint8_t> markerTail_; // last bytes seen, for a marker split between pieces
    int markerCount_ = 0;
    Range slot_{0, 0};
    std::vector<Range> excluded_;
    Range certificates_{0, 0};
    bool isPe_ = false;
    std::uint64_t checkSumOffset_ = 0;
    Sha256Digest storedDigest_{};
};

// The digest of a whole image held in memory.
ImageDigestResult DigestImage(const std::uint8_t* data, std::size_t size,
                              const StampMarker& marker);
