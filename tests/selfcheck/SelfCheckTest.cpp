#include "install/SelfCheck.h"
#include "context/ProgInfo.h"
#include "install/ImageDigest.h"
#include "lang/LangUnit.h"
#include "os/sim/Sim.h"
#include "support/StampedImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

namespace {

namespace sim = os::sim;

const std::string kHostFolder = "C:\\Program Files\\Zelm\\";
const std::string kOwnPath = "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe";
const std::string kVerificationFail = "The updater could not verify its own integrity.\r\n"
                                      "Please download it again from our website.";
const std::string kBadInstaller = "This updater is damaged and can't be used.\r\n"
                                  "Please download it again from our website.";
constexpr os::UINT kErrorStyle = os::MB_OK | os::MB_ICONERROR | os::MB_SERVICE_NOTIFICATION;

std::string SourceFile(const std::string& relativePath) {
    std::ifstream in(std::string(ZELM_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Stands in for the embedded sound bank.
std::string Payload(std::size_t size) {
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 31 + i / 4099);
    }
    return payload;
}

constexpr std::size_t kReadBlock = 1024 * 1024;

class SelfCheck : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        DoneLangUnit();
        Ctx = UpdateContext();
        Ctx.ProgName = "Zelm";
        Ctx.HostFolder = kHostFolder;
        Ctx.UserLCID = 0x0409;
        Ctx.ProgRegistry = std::make_unique<Registry>(os::KEY_ALL_ACCESS);
        sim::PutFile(kHostFolder + "language\\english.lng",
                     SourceFile("tests/data/host/language/english.lng"));
        ASSERT_TRUE(InitLanguages());
        InstallImage(sim_tests::BuildStampedImage(Payload(200000)));
        sim::SetOwnModulePath(kOwnPath);
    }
    void TearDown() override {
        DoneLangUnit();
        Ctx.ProgRegistry.reset();
        EXPECT_EQ(sim::OpenHandles(), 0);
    }

    void InstallImage(sim_tests::StampedImage image) {
        image_ = std::move(image);
        sim::PutFile(kOwnPath, image_.bytes);
    }
    // Two whole read blocks and part of a third.
    void InstallLargeImage() {
        InstallImage(sim_tests::BuildStampedImage(Payload(2 * kReadBlock)));
    }

    void InstallAltered(std::size_t offset) const {
        std::string bytes = image_.bytes;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x40);
        sim::PutFile(kOwnPath, bytes);
    }

    // VerifyInstaller fails and shows one more error box, with this language text.
    static void ExpectRefusal(const std::string& text) {
        const std::size_t boxesBefore = sim::Boxes().size();
        EXPECT_FALSE(VerifyInstaller());
        ASSERT_EQ(sim::Boxes().size(), boxesBefore + 1);
        const sim::Box& box = sim::Boxes().back();
        EXPECT_TRUE(box.extended);
        EXPECT_FALSE(box.hasOwner);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Zelm");
        EXPECT_EQ(box.style, kErrorStyle);
        EXPECT_EQ(box.languageId, 1033);
    }

    sim_tests::StampedImage image_;
};

TEST_F(SelfCheck, IntactUpdaterPassesSilently) {
    EXPECT_TRUE(VerifyInstaller());
    EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(SelfCheck, SignedUpdaterPasses) {
    sim_tests::AppendCertificateTable(image_, std::string(2000, 'C'));
    sim::PutFile(kOwnPath, image_.bytes);
    EXPECT_TRUE(VerifyInstaller());
    EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(SelfCheck, OneAlteredByteAnywhereIsBadInstaller) {
    const struct {
        const char* where;
        std::size_t offset;
    } places[] = {
        {"first byte", 0},
        {"PE header", 0x84},
        {"marker", image_.markerOffset + 3},
        {"slot", image_.slotOffset + 31},
        {"sound bank", image_.payloadOffset + 100000},
        {"middle", image_.bytes.size() / 2},
        {"last byte", image_.bytes.size() - 1},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.where);
        InstallAltered(place.offset);
        ExpectRefusal(kBadInstaller);
    }
}

TEST_F(SelfCheck, TruncatedOrExtendedUpdaterIsBadInstaller) {
    sim::PutFile(kOwnPath, image_.bytes.substr(0, image_.bytes.size() - 1));
    ExpectRefusal(kBadInstaller);
    sim::PutFile(kOwnPath, image_.bytes + '\0');
    ExpectRefusal(kBadInstaller);
}

TEST_F(SelfCheck, UnstampedUpdaterIsBadInstaller) {
    sim::PutFile(kOwnPath, sim_tests::MakeUnstampedImage(Payload(200000)));
    ExpectRefusal(kBadInstaller);
}

TEST_F(SelfCheck, MissingUpdaterIsVerificationFail) {
    sim::SetOwnModulePath("C:\\Users\\user\\Downloads\\gone.exe");
    ExpectRefusal(kVerificationFail);
}

TEST_F(SelfCheck, UnopenableUpdaterIsVerificationFail) {
    sim::FailCallsOn(sim::Call::CreateFile, "ZelmSoundUpdate.exe", os::ERROR_ACCESS_DENIED);
    ExpectRefusal(kVerificationFail);
}

TEST_F(SelfCheck, ReadFailureIsVerificationFail) {
    InstallLargeImage();
    // The first block, then a block in the middle of the file.
    for (const int block : {1, 3}) {
        SCOPED_TRACE(block);
        sim::FailCall(sim::Call::ReadFile, sim::CallCount(sim::Call::ReadFile) + block,
                      os::ERROR_READ_FAULT);
        ExpectRefusal(kVerificationFail);
    }
}

TEST_F(SelfCheck, UnknownOwnPathIsVerificationFail) {
    sim::FailCall(sim::Call::GetModuleFileName, sim::CallCount(sim::Call::GetModuleFileName) + 1,
                  os::ERROR_ACCESS_DENIED);
    ExpectRefusal(kVerificationFail);
}

// GetModuleFileNameA cuts a path that does not fit its buffer; the cut path must not be opened.
TEST_F(SelfCheck, OwnPathLongerThanMaxPathIsTakenWhole) {
    std::string folder = "C:\\Users\\user\\Downloads";
    while (folder.size() < 700) {
        folder += "\\a rather long folder name for the updater";
    }
    const std::string path = folder + "\\ZelmSoundUpdate.exe";
    sim::PutFile(path, image_.bytes);
    sim::SetOwnModulePath(path);
    EXPECT_TRUE(VerifyInstaller());
    EXPECT_TRUE(sim::Boxes().empty());
}

// A user folder in another script than the ANSI code page's: its ANSI name holds "?".
TEST_F(SelfCheck, OwnPathOutsideTheAnsiCodePageIsOpenedByItsWideName) {
    sim::PutFile("C:\\Users\\用户\\Downloads\\ZelmSoundUpdate.exe", image_.bytes);
    sim::SetOwnModulePathW(u"C:\\Users\\用户\\Downloads\\ZelmSoundUpdate.exe");
    EXPECT_TRUE(VerifyInstaller());
    EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(SelfCheck, UpdaterHeldOpenElsewhereIsStillRead) {
    const int hold = sim::HoldFile(kOwnPath, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE);
    EXPECT_TRUE(VerifyInstaller());
    sim::ReleaseFile(hold);
}

TEST_F(SelfCheck, ReadsInLargeBlocks) {
    InstallLargeImage();
    const int readsBefore = sim::CallCount(sim::Call::ReadFile);
    EXPECT_TRUE(VerifyInstaller());
    const int blocks = static_cast<int>(image_.bytes.size() / kReadBlock) + 1;
    EXPECT_LE(sim::CallCount(sim::Call::ReadFile) - readsBefore, blocks + 1);
}

} // namespace
