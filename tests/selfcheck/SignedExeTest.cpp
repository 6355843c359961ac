// The real updater built by the windows preset, signed with a throwaway certificate, still passes
// its own check; altered after signing, it does not.
#include "install/ImageDigest.h"
#include "selfcheck/StampTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

namespace fs = std::filesystem;
using stamp_tests::Quoted;
using stamp_tests::ReadBytes;
using stamp_tests::RunCommand;

ImageDigestResult Digest(const std::string& bytes) {
    return DigestImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                       kStampMarker);
}

int CountMarkers(const std::string& bytes) {
    const std::string marker(kStampMarker.begin(), kStampMarker.end());
    int count = 0;
    for (std::size_t at = bytes.find(marker); at != std::string::npos;
         at = bytes.find(marker, at + 1)) {
        ++count;
    }
    return count;
}

fs::path WindowsExe() {
    if (const char* chosen = std::getenv("ZELM_WINDOWS_EXE")) {
        return chosen;
    }
    return fs::path(ZELM_SOURCE_DIR) / "build" / "windows" / "ZelmSoundUpdate.exe";
}

bool HaveCommand(const char* name) {
    return std::system(("command -v " + std::string(name) + " > /dev/null 2>&1").c_str()) == 0;
}

class SignedExe : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = WindowsExe();
        if (!fs::exists(exe_)) {
            GTEST_SKIP() << exe_ << " does not exist: build the windows preset first "
                         << "(or point ZELM_WINDOWS_EXE at a ZelmSoundUpdate.exe)";
        }
        if (!HaveCommand("openssl") || !HaveCommand("osslsigncode")) {
            GTEST_SKIP() << "openssl and osslsigncode are needed to sign the updater";
        }
    }

    // Signs the updater with a certificate made for this test; the signed file's content.
    std::string SignedCopy() {
        const fs::path dir = scratch_.Path();
        const auto key = dir / "key.pem", cert = dir / "cert.pem", out = dir / "signed.exe";
        const auto made = RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 1 "
                                     "-subj /CN=ZelmSelfCheckTest -keyout " +
                                         Quoted(key) + " -out " + Quoted(cert),
                                     dir);
        EXPECT_EQ(made.exitCode, 0) << made.output;
        const auto signedExe =
            RunCommand("osslsigncode sign -certs " + Quoted(cert) + " -key " + Quoted(key) +
                           " -h sha256 -in " + Quoted(exe_) + " -out " + Quoted(out),
                       dir);
        EXPECT_EQ(signedExe.exitCode, 0) << signedExe.output;
        return ReadBytes(out);
    }

    fs::path exe_;
    stamp_tests::ScratchFolder scratch_;
};

TEST_F(SignedExe, BuiltUpdaterIsStampedAndHoldsTheMarkerOnce) {
    const std::string exe = ReadBytes(exe_);
    EXPECT_EQ(CountMarkers(exe), 1);
    const ImageDigestResult result = Digest(exe);
    EXPECT_TRUE(result.isPe);
    EXPECT_TRUE(IsIntact(result)) << exe_ << " is not stamped: rebuild the windows preset";
}

TEST_F(SignedExe, SigningKeepsTheStampValid) {
    const std::string signedExe = SignedCopy();
    ASSERT_GT(signedExe.size(), ReadBytes(exe_).size());
    const ImageDigestResult result = Digest(signedExe);
    EXPECT_TRUE(result.hasCertificates);
    EXPECT_TRUE(IsIntact(result));
}

// How a vendor checks a signed release against a build of its commit: the signature removed, the
// file must be the built one byte for byte, which needs the build's CheckSum to be right.
TEST_F(SignedExe, RemovingTheSignatureGivesBackTheBuiltFile) {
    const fs::path signedExe = scratch_.Path() / "release.exe";
    stamp_tests::WriteBytes(signedExe, SignedCopy());
    const fs::path stripped = scratch_.Path() / "stripped.exe";
    const auto removed = RunCommand("osslsigncode remove-signature -in " + Quoted(signedExe) +
                                        " -out " + Quoted(stripped),
                                    scratch_.Path());
    ASSERT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_TRUE(ReadBytes(stripped) == ReadBytes(exe_)) << stripped << " differs from " << exe_;
}

TEST_F(SignedExe, AlteredAfterSigningFailsTheCheck) {
    std::string signedExe = SignedCopy();
    const std::size_t unsignedSize = ReadBytes(exe_).size();
    for (const std::size_t offset : {std::size_t{2}, unsignedSize / 2, unsignedSize - 1}) {
        SCOPED_TRACE(offset);
        std::string altered = signedExe;
        altered[offset] = static_cast<char>(altered[offset] ^ 0x01);
        EXPECT_FALSE(IsIntact(Digest(altered)));
    }
}

} // namespace
