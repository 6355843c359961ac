#include "install/ImageDigest.h"
#include "selfcheck/StampTool.h"
#include "support/StampedImage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using stamp_tests::ReadBytes;
using stamp_tests::WriteBytes;

const std::string kPayload(50000, 'P');

ImageDigestResult Digest(const std::string& bytes) {
    return DigestImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                       kStampMarker);
}

std::string MarkerBytes() {
    return std::string(kStampMarker.begin(), kStampMarker.end());
}

class Stamper : public ::testing::Test {
protected:
    // Runs the stamper on `bytes` written to a file; the file's content afterwards is in Image().
    stamp_tests::CommandResult Stamp(const std::string& bytes) {
        WriteBytes(ImagePath(), bytes);
        return StampAgain();
    }
    stamp_tests::CommandResult StampAgain() {
        return stamp_tests::RunCommand(stamp_tests::Quoted(ZELM_STAMP_TOOL) + " " +
                                           stamp_tests::Quoted(ImagePath()),
                                       scratch_.Path());
    }
    stamp_tests::CommandResult Verify(const std::string& bytes) {
        WriteBytes(ImagePath(), bytes);
        return stamp_tests::RunCommand(stamp_tests::Quoted(ZELM_STAMP_TOOL) + " --verify " +
                                           stamp_tests::Quoted(ImagePath()),
                                       scratch_.Path());
    }
    std::filesystem::path ImagePath() const { return scratch_.Path() / "ZelmSoundUpdate.exe"; }
    std::string Image() const { return ReadBytes(ImagePath()); }

    stamp_tests::ScratchFolder scratch_;
};

TEST_F(Stamper, WritesTheDigestIntoTheSlot) {
    const std::string unstamped = sim_tests::MakeUnstampedImage(kPayload);
    ASSERT_EQ(unstamped.size() % 8, 0U);
    const stamp_tests::CommandResult result = Stamp(unstamped);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(IsIntact(Digest(Image())));
    // The CheckSum is set too; that it is right is checked against a signing tool's.
    const sim_tests::StampedImage expected = sim_tests::BuildStampedImage(kPayload);
    std::string apartFromCheckSum = Image();
    apartFromCheckSum.replace(expected.checkSumOffset, 4, expected.bytes, expected.checkSumOffset,
                              4);
    EXPECT_EQ(apartFromCheckSum, expected.bytes) << "only the slot and the CheckSum change";
}

TEST_F(Stamper, StampingTwiceChangesNothing) {
    ASSERT_EQ(Stamp(sim_tests::MakeUnstampedImage(kPayload)).exitCode, 0);
    const std::string once = Image();
    ASSERT_EQ(StampAgain().exitCode, 0);
    EXPECT_EQ(Image(), once);
}

// A signing tool would pad the file before its certificate table, adding bytes to the digest.
TEST_F(Stamper, PadsPeImageToEightBytes) {
    const std::string odd = sim_tests::MakeUnstampedImage(kPayload) + "123";
    ASSERT_EQ(Stamp(odd).exitCode, 0);
    EXPECT_EQ(Image().size(), odd.size() + 5);
    EXPECT_EQ(Image().substr(odd.size()), std::string(5, '\0'));
    EXPECT_TRUE(IsIntact(Digest(Image())));
}

TEST_F(Stamper, LeavesOtherFilesTheirSize) {
    const std::string plain = "abc" + MarkerBytes() + std::string(kStampSlotSize, '\0') + "xy";
    ASSERT_EQ(Stamp(plain).exitCode, 0);
    EXPECT_EQ(Image().size(), plain.size());
    EXPECT_TRUE(IsIntact(Digest(Image())));
}

TEST_F(Stamper, RefusesImageWithoutMarker) {
    const std::string image = sim_tests::MakeUnstampedImage(kPayload);
    std::string withoutMarker = image;
    withoutMarker.replace(withoutMarker.find(MarkerBytes()), 1, "?");
    const stamp_tests::CommandResult result = Stamp(withoutMarker);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("marker does not occur"), std::string::npos) << result.output;
    EXPECT_EQ(Image(), withoutMarker);
}

TEST_F(Stamper, RefusesImageWithTwoMarkers) {
    const std::string twice =
        sim_tests::MakeUnstampedImage(kPayload) + MarkerBytes() + std::string(kStampSlotSize, '\0');
    const stamp_tests::CommandResult result = Stamp(twice);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("occurs more than once"), std::string::npos) << result.output;
    EXPECT_EQ(Image(), twice);
}

TEST_F(Stamper, RefusesSignedImage) {
    sim_tests::StampedImage image = sim_tests::BuildStampedImage(kPayload);
    sim_tests::AppendCertificateTable(image, std::string(64, 'S'));
    const stamp_tests::CommandResult result = Stamp(image.bytes);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("already signed"), std::string::npos) << result.output;
    EXPECT_EQ(Image(), image.bytes);
}

TEST_F(Stamper, VerifyAcceptsStampedAndSignedImagesAndRefusesAnAlteredOne) {
    sim_tests::StampedImage image = sim_tests::BuildStampedImage(kPayload);
    const stamp_tests::CommandResult stamped = Verify(image.bytes);
    EXPECT_EQ(stamped.exitCode, 0) << stamped.output;
    sim_tests::AppendCertificateTable(image, std::string(64, 'S'));
    const stamp_tests::CommandResult signedImage = Verify(image.bytes);
    EXPECT_EQ(signedImage.exitCode, 0) << signedImage.output;
    std::string altered = image.bytes;
    char& payloadByte = altered[image.payloadOffset + kPayload.size() / 2];
    payloadByte = static_cast<char>(payloadByte ^ 0x01);
    const stamp_tests::CommandResult result = Verify(altered);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("does not verify"), std::string::npos) << result.output;
    EXPECT_EQ(Image(), altered) << "verifying changes nothing";
}

TEST_F(Stamper, ReportsMissingFile) {
    const stamp_tests::CommandResult result = StampAgain();
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.output.find("cannot read"), std::string::npos) << result.output;
}

} // namespace
