#include "install/ImageDigest.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

// The PE headers are read from this many leading bytes; a PE header placed beyond them (which no
// linker produces) makes the file count as not PE, for the stamper and the verifier alike.
constexpr std::size_t kHeaderWindow = 4096;

constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kCheckSumOffset = 64;  // in the optional header, PE32 and PE32+
constexpr std::size_t kCertificateEntry = 4; // index of the certificate-table directory
constexpr std::size_t kDirectoryEntrySize = 8;

std::uint32_t LoadLittleEndian(const std::uint8_t* p, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- != 0;) {
        value = value << 8 | p[i];
    }
    return value;
}

struct PeFields {
    std::uint64_t checkSumOffset;
    std::uint64_t certificateEntryOffset;
    std::uint64_t certificateOffset;
    std::uint64_t certificateSize;
};

// Where the fields that Authenticode leaves out lie, when `header` starts a PE file.
bool FindPeFields(const std::vector<std::uint8_t>& header, PeFields& fields) {
    const auto field = [&](std::size_t offset, std::size_t size, std::uint32_t& value) {
        if (offset > header.size() || header.size() - offset < size) {
            return false;
        }
        value = LoadLittleEndian(header.data() + offset, size);
        return true;
    };
    std::uint32_t mz = 0, peOffset = 0, signature = 0, optionalSize = 0, magic = 0;
    if (!field(0, 2, mz) || mz != 0x5A4D || !field(0x3C, 4, peOffset) ||
        !field(peOffset, 4, signature) || signature != kPeSignature ||
        !field(std::size_t{peOffset} + 20, 2, optionalSize)) {
        return false;
    }
    const std::size_t optional = std::size_t{peOffset} + 4 + kCoffHeaderSize;
    if (!field(optional, 2, magic) || (magic != kPe32Magic && magic != kPe32PlusMagic)) {
        return false;
    }
    const std::size_t directoryCountAt = optional + (magic == kPe32Magic ? 92 : 108);
    const std::size_t entryAt = directoryCountAt + 4 + kCertificateEntry * kDirectoryEntrySize;
    std::uint32_t directoryCount = 0, certificateOffset = 0, certificateSize = 0;
    if (!field(directoryCountAt, 4, directoryCount) || directoryCount <= kCertificateEntry ||
        entryAt + kDirectoryEntrySize > optional + optionalSize ||
        !field(entryAt, 4, certificateOffset) || !field(entryAt + 4, 4, certificateSize)) {
        return false;
    }
    fields = {optional + kCheckSumOffset, entryAt, certificateOffset, certificateSize};
    return true;
}

} // namespace

// An unstamped slot holds zeros, which no digest equals.
bool IsIntact(const ImageDigestResult& result) {
    return result.status == ImageStatus::Ok && result.digest == result.storedDigest;
}

ImageDigester::ImageDigester(const StampMarker& marker) : marker_(marker) {
    heldHeader_.reserve(kHeaderWindow);
}

void ImageDigester::Update(const std::uint8_t* data, std::size_t size) {
    FindMarkers(data, size);
    received_ += size;
    if (!headerRead_) {
        const std::size_t take = std::min(size, kHeaderWindow - heldHeader_.size());
        heldHeader_.insert(heldHeader_.end(), data, data + take);
        data += take;
        size -= take;
        if (heldHeader_.size() < kHeaderWindow) {
            return;
        }
        ReadHeader();
    }
    Hash(data, size);
}

// Counts every occurrence of the marker, including one split between this piece and the last.
void ImageDigester::FindMarkers(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kTailSize = kStampMarkerSize - 1;
    std::vector<std::uint8_t> seam(markerTail_);
    seam.insert(seam.end(), data, data + std::min(size, kTailSize));
    const std::uint64_t seamOffset = received_ - markerTail_.size();
    for (std::size_t i = 0; i < markerTail_.size() && i + kStampMarkerSize <= seam.size(); ++i) {
        if (std::equal(marker_.begin(), marker_.end(),
                       seam.begin() + static_cast<std::ptrdiff_t>(i))) {
            OnMarker(seamOffset + i);
        }
    }
    const std::boyer_moore_horspool_searcher searcher(marker_.begin(), marker_.end());
    const std::uint8_t* const end = data + size;
    for (const std::uint8_t* at = std::search(data, end, searcher); at != end;
         at = std::search(at + 1, end, searcher)) {
        OnMarker(received_ + static_cast<std::uint64_t>(at - data));
    }
    markerTail_.insert(markerTail_.end(), end - std::min(size, kTailSize), end);
    if (markerTail_.size() > kTailSize) {
        markerTail_.erase(markerTail_.begin(),
                          markerTail_.end() - static_cast<std::ptrdiff_t>(kTailSize));
    }
}

void ImageDigester::OnMarker(std::uint64_t markerOffset) {
    if (++markerCount_ == 1) {
        slot_ = {markerOffset + kStampMarkerSize, markerOffset + kStampMarkerSize + kStampSlotSize};
        excluded_.push_back(slot_);
    }
}

void ImageDigester::ReadHeader() {
    headerRead_ = true;
    // Stamping changes the slot, so the headers are read as if it were empty: a slot that lies
    // among the header fields must not make the stamped file parse differently.
    std::vector<std::uint8_t> fields(heldHeader_);
    if (slot_.begin < fields.size()) { // the header window is small: these offsets fit size_t
        const auto begin = static_cast<std::size_t>(slot_.begin);
        const auto end =
            static_cast<std::size_t>(std::min<std::uint64_t>(slot_.end, fields.size()));
        std::fill(fields.begin() + static_cast<std::ptrdiff_t>(begin),
                  fields.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0});
    }
    PeFields pe{};
    isPe_ = FindPeFields(fields, pe);
    if (isPe_) {
        checkSumOffset_ = pe.checkSumOffset;
        excluded_.push_back({pe.checkSumOffset, pe.checkSumOffset + 4});
        excluded_.push_back(
            {pe.certificateEntryOffset, pe.certificateEntryOffset + kDirectoryEntrySize});
        if (pe.certificateSize != 0) {
            certificates_ = {pe.certificateOffset, pe.certificateOffset + pe.certificateSize};
            excluded_.push_back(certificates_);
        }
    }
    std::vector<std::uint8_t> header;
    header.swap(heldHeader_);
    Hash(header.data(), header.size());
}

// Hashes the bytes that follow those hashed so far, leaving out the excluded ranges.
void ImageDigester::Hash(const std::uint8_t* data, std::size_t size) {
    CaptureSlot(data, size);
    const std::uint64_t begin = hashed_;
    const std::uint64_t end = hashed_ + size;
    for (std::uint64_t at = begin; at < end;) {
        const auto covering =
            std::find_if(excluded_.begin(), excluded_.end(),
                         [at](const Range& r) { return r.begin <= at && at < r.end; });
        if (covering != excluded_.end()) {
            at = std::min(covering->end, end);
            continue;
        }
        std::uint64_t next = end;
        for (const Range& range : excluded_) {
            if (range.begin > at) {
                next = std::min(next, range.begin);
            }
        }
        sha_.Update(data + (at - begin), static_cast<std::size_t>(next - at));
        at = next;
    }
    hashed_ = end;
}

void ImageDigester::CaptureSlot(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t from = std::max(slot_.begin, hashed_);
    const std::uint64_t to = std::min(slot_.end, hashed_ + size);
    if (from < to) {
        std::memcpy(storedDigest_.data() + (from - slot_.begin), data + (from - hashed_),
                    static_cast<std::size_t>(to - from));
    }
}

ImageDigestResult ImageDigester::Finish() {
    if (!headerRead_) {
        ReadHeader();
    }
    ImageDigestResult result;
    result.isPe = isPe_;
    result.hasCertificates = certificates_.end != 0;
    result.slotOffset = slot_.begin;
    result.checkSumOffset = checkSumOffset_;
    result.storedDigest = storedDigest_;
    result.digest = sha_.Finish();
    if (markerCount_ == 0) {
        result.status = ImageStatus::NoMarker;
    } else if (markerCount_ > 1) {
        result.status = ImageStatus::DuplicateMarker;
    } else if (slot_.end > received_) {
        result.status = ImageStatus::SlotPastEnd;
    } else if (result.hasCertificates &&
               (certificates_.begin < slot_.end || certificates_.end != received_)) {
        // Only bytes appended at the very end may be left out; anywhere else a forged directory
        // entry could hide inserted bytes from the digest.
        result.status = ImageStatus::MisplacedCertificates;
    } else {
        result.status = ImageStatus::Ok;
    }
    return result;
}

ImageDigestResult DigestImage(const std::uint8_t* data, std::size_t size,
                              const StampMarker& marker) {
    ImageDigester digester(marker);
    digester.Update(data, size);
    return digester.Finish();
}
