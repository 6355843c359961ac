#include "install/ImageDigest.h"
#include "selfcheck/Sha256Engines.h"
#include "support/StampedImage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sim_tests::BuildStampedImage;
using sim_tests::StampedImage;

const std::string kPayload(20000, 'B');

ImageDigestResult Digest(const std::string& bytes) {
    return DigestImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                       kStampMarker);
}

ImageDigestResult DigestInPieces(const std::string& bytes, std::size_t piece) {
    ImageDigester digester(kStampMarker);
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::string part = bytes.substr(at, piece);
        digester.Update(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
    }
    return digester.Finish();
}

std::string Flipped(std::string bytes, std::size_t offset) {
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    return bytes;
}

void SetCertificateEntry(StampedImage& image, std::uint32_t offset, std::uint32_t size) {
    for (std::size_t i = 0; i < 4; ++i) {
        image.bytes[image.certificateEntryOffset + i] = static_cast<char>(offset >> (8 * i));
        image.bytes[image.certificateEntryOffset + 4 + i] = static_cast<char>(size >> (8 * i));
    }
}

std::string MarkerBytes() {
    return std::string(kStampMarker.begin(), kStampMarker.end());
}

TEST(ImageDigest, StampedImageIsIntact) {
    const StampedImage image = BuildStampedImage(kPayload);
    const ImageDigestResult result = Digest(image.bytes);
    EXPECT_EQ(result.status, ImageStatus::Ok);
    EXPECT_TRUE(result.isPe);
    EXPECT_FALSE(result.hasCertificates);
    EXPECT_EQ(result.slotOffset, image.slotOffset);
    EXPECT_TRUE(IsIntact(result));
}

TEST(ImageDigest, UnstampedImageIsNotIntact) {
    const ImageDigestResult result = Digest(sim_tests::MakeUnstampedImage(kPayload));
    EXPECT_EQ(result.status, ImageStatus::Ok);
    EXPECT_EQ(result.storedDigest, Sha256Digest{});
    EXPECT_FALSE(IsIntact(result));
}

class ImageDigestOnEachEngine : public OnEachSha256Engine {};
ZELM_ON_EACH_SHA256_ENGINE(ImageDigestOnEachEngine);

// The digest is SHA-256 of the file with exactly the slot, CheckSum and directory entry 4 cut out,
// whichever engine makes it: the build machine stamps with one, the user's machine checks with
// its own.
TEST_P(ImageDigestOnEachEngine, CoversTheWholeFileButTheExcludedFields) {
    const StampedImage image = BuildStampedImage(kPayload);
    std::string kept = image.bytes;
    kept.erase(image.slotOffset, kStampSlotSize);
    kept.erase(image.certificateEntryOffset, 8);
    kept.erase(image.checkSumOffset, 4);
    const Sha256Digest digest = Digest(image.bytes).digest;
    ASSERT_TRUE(UseSha256Engine(Sha256Engine::Portable));
    EXPECT_EQ(digest, Sha256::Of(reinterpret_cast<const std::uint8_t*>(kept.data()), kept.size()));
}

TEST(ImageDigest, EveryAlteredByteOutsideTheExcludedFieldsIsCaught) {
    const StampedImage image = BuildStampedImage(kPayload);
    const std::size_t offsets[] = {0,
                                   0x3C,                     // e_lfanew
                                   0x84,                     // machine in the COFF header
                                   image.checkSumOffset - 1, // next to the CheckSum
                                   image.checkSumOffset + 4,
                                   image.certificateEntryOffset - 1,
                                   image.certificateEntryOffset + 8,
                                   image.slotOffset - 1, // the marker's last byte
                                   image.slotOffset + kStampSlotSize,
                                   image.payloadOffset + kPayload.size() / 2,
                                   image.bytes.size() / 2,
                                   image.bytes.size() - 1};
    for (const std::size_t offset : offsets) {
        EXPECT_FALSE(IsIntact(Digest(Flipped(image.bytes, offset)))) << "offset " << offset;
    }
}

TEST(ImageDigest, SlotCheckSumAndEmptyCertificateEntryAreNotHashed) {
    const StampedImage image = BuildStampedImage(kPayload);
    const Sha256Digest digest = Digest(image.bytes).digest;
    EXPECT_EQ(Digest(Flipped(image.bytes, image.checkSumOffset + 2)).digest, digest);
    EXPECT_EQ(Digest(Flipped(image.bytes, image.slotOffset + 5)).digest, digest);
    EXPECT_FALSE(IsIntact(Digest(Flipped(image.bytes, image.slotOffset + 5))));
}

TEST(ImageDigest, SigningAfterStampingKeepsTheImageIntact) {
    StampedImage image = BuildStampedImage(kPayload);
    sim_tests::AppendCertificateTable(image, std::string(1234, 'S'));
    const ImageDigestResult signedResult = Digest(image.bytes);
    EXPECT_TRUE(signedResult.hasCertificates);
    EXPECT_TRUE(IsIntact(signedResult));
    EXPECT_TRUE(IsIntact(Digest(Flipped(image.bytes, image.bytes.size() - 1))))
        << "the certificate table is the signature's business";
    EXPECT_FALSE(IsIntact(Digest(Flipped(image.bytes, image.payloadOffset))));
}

TEST(ImageDigest, CertificateTableMustEndTheFileAfterTheSlot) {
    StampedImage appended = BuildStampedImage(kPayload);
    sim_tests::AppendCertificateTable(appended, std::string(64, 'S'));
    appended.bytes += "trailing";
    EXPECT_EQ(Digest(appended.bytes).status, ImageStatus::MisplacedCertificates);

    // A directory entry that hides bytes inserted in the middle of the file.
    StampedImage inserted = BuildStampedImage(kPayload);
    const std::string original = inserted.bytes;
    inserted.bytes.insert(inserted.payloadOffset, std::string(16, 'X'));
    SetCertificateEntry(inserted, static_cast<std::uint32_t>(inserted.payloadOffset), 16);
    const ImageDigestResult result = Digest(inserted.bytes);
    EXPECT_EQ(result.status, ImageStatus::MisplacedCertificates);
    EXPECT_EQ(result.digest, Digest(original).digest) << "the inserted bytes were left out";
    EXPECT_FALSE(IsIntact(result));
}

TEST(ImageDigest, FileThatIsNotPeIsHashedWholeButTheSlot) {
    StampedImage image = BuildStampedImage(kPayload);
    image.bytes[0x80] = 'N'; // no "PE\0\0" signature
    sim_tests::Stamp(image);
    const ImageDigestResult result = Digest(image.bytes);
    EXPECT_FALSE(result.isPe);
    EXPECT_TRUE(IsIntact(result));
    EXPECT_FALSE(IsIntact(Digest(Flipped(image.bytes, image.checkSumOffset))));
    EXPECT_FALSE(IsIntact(Digest(Flipped(image.bytes, image.certificateEntryOffset))));

    const std::string plain = "head" + MarkerBytes() + std::string(kStampSlotSize, '\0') + "tail";
    const ImageDigestResult small = Digest(plain);
    EXPECT_EQ(small.status, ImageStatus::Ok);
    EXPECT_EQ(small.slotOffset, 4 + kStampMarkerSize);
}

TEST(ImageDigest, MarkerMustOccurOnceWithRoomForTheSlot) {
    EXPECT_EQ(Digest("").status, ImageStatus::NoMarker);
    EXPECT_EQ(Digest(std::string(5000, 'x')).status, ImageStatus::NoMarker);

    const StampedImage image = BuildStampedImage(kPayload);
    EXPECT_EQ(Digest(Flipped(image.bytes, image.markerOffset)).status, ImageStatus::NoMarker);
    EXPECT_EQ(Digest(image.bytes + MarkerBytes() + std::string(kStampSlotSize, '\0')).status,
              ImageStatus::DuplicateMarker);
    EXPECT_EQ(Digest("x" + MarkerBytes() + std::string(kStampSlotSize - 1, '\0')).status,
              ImageStatus::SlotPastEnd);
}

// The verifier reads in blocks; a marker or slot split between blocks must not matter.
TEST_P(ImageDigestOnEachEngine, PiecesOfAnySizeGiveTheSameResult) {
    const StampedImage image = BuildStampedImage(kPayload);
    const ImageDigestResult whole = Digest(image.bytes);
    const std::string duplicated = image.bytes + MarkerBytes();
    for (std::size_t piece : {1U, 5U, 15U, 16U, 17U, 1000U, 4095U, 4097U}) {
        const ImageDigestResult result = DigestInPieces(image.bytes, piece);
        EXPECT_EQ(result.status, ImageStatus::Ok) << "pieces of " << piece;
        EXPECT_EQ(result.slotOffset, whole.slotOffset) << "pieces of " << piece;
        EXPECT_EQ(result.digest, whole.digest) << "pieces of " << piece;
        EXPECT_EQ(result.storedDigest, whole.storedDigest) << "pieces of " << piece;
        EXPECT_EQ(DigestInPieces(duplicated, piece).status, ImageStatus::DuplicateMarker)
            << "pieces of " << piece;
    }
}

} // namespace

namespace {

// A slot that lies among the header fields: stamping writes the digest over the certificate-table
// entry, and the stamped file must still be read with the layout it had when the digest was made.
TEST(ImageDigest, SlotAmongTheHeaderFieldsStampsAndVerifies) {
    StampedImage image = BuildStampedImage(kPayload);
    image.bytes.replace(image.markerOffset, kStampMarkerSize, kStampMarkerSize, '\0');
    const std::size_t marker = image.certificateEntryOffset - kStampMarkerSize - 4;
    image.bytes.replace(marker, kStampMarkerSize, MarkerBytes());

    const ImageDigestResult before = Digest(image.bytes);
    ASSERT_EQ(before.status, ImageStatus::Ok);
    ASSERT_EQ(before.slotOffset, marker + kStampMarkerSize);
    image.bytes.replace(before.slotOffset, kStampSlotSize,
                        std::string(before.digest.begin(), before.digest.end()));
    const ImageDigestResult after = Digest(image.bytes);
    EXPECT_EQ(after.isPe, before.isPe);
    EXPECT_TRUE(IsIntact(after));
}

} // namespace
