#include "install/InstallTestBank.h"
#include "install/SetupRim.h"

#include "context/ProgInfo.h"
#include "os/sim/Sim.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

namespace sim = os::sim;

const std::string kFolder = "C:\\Program Files\\Zelm\\";
const std::string kTarget = kFolder + "zorv.3bs";
const std::string kOldBank = std::string("zorv\x02\x06", 6) + "an older host's bank";
constexpr os::UINT kErrorStyle = 0x200010;

class InstallFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::AddResource("3BS", "ZORV", InstallTestBank());
        sim::MakeFolder(kFolder);
        Ctx.UserLCID = 0x0409;
        Ctx.IsCyrillicLocale = false;
        Ctx.EnglishCaption = "Zelm update";
        Ctx.LocalCaption = "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5"; // "Обновление" in 1251
    }
    void TearDown() override { EXPECT_EQ(sim::OpenHandles(), 0); }

    static void Install() { InstallFile("zorv", "3bs", kTarget); }

    // The failure box in the user's language, and nothing else shown.
    static void ExpectEnglishFailureBox() {
        ASSERT_EQ(sim::Boxes().size(), 1U);
        const sim::Box& box = sim::Boxes().front();
        EXPECT_FALSE(box.extended);
        EXPECT_FALSE(box.hasOwner);
        EXPECT_EQ(box.text, "Can't install file " + kTarget);
        EXPECT_EQ(box.caption, "Zelm update");
        EXPECT_EQ(box.style, kErrorStyle);
    }

    // The folder holds exactly the old bank: no new content, no half-written file beside it.
    static void ExpectOldBankUntouched() {
        EXPECT_EQ(sim::GetFile(kTarget), kOldBank);
        EXPECT_EQ(sim::ListFolder(kFolder), std::vector<std::string>{"zorv.3bs"});
    }
};

TEST_F(InstallFileTest, CreatesMissingTargetWithResourceBytesInOneWrite) {
    Install();

    EXPECT_EQ(sim::GetFile(kTarget), InstallTestBank());
    EXPECT_EQ(sim::ListFolder(kFolder), std::vector<std::string>{"zorv.3bs"});
    EXPECT_EQ(sim::CallCount(sim::Call::WriteFile), 1);
    EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(InstallFileTest, OverwritesExistingTargetWithoutAsking) {
    sim::PutFile(kTarget, kOldBank + std::string(InstallTestBank().size(), 'x'));

    Install();

    EXPECT_EQ(sim::GetFile(kTarget), InstallTestBank());
    EXPECT_EQ(sim::ListFolder(kFolder), std::vector<std::string>{"zorv.3bs"});
    EXPECT_TRUE(sim::Boxes().empty());
}

// The host folder may be writable by the user's programs, and the updater writes there elevated:
// nothing that stands at the working name receives the bank, blocks the install or is removed.
TEST_F(InstallFileTest, WhateverStandsAtTheWorkingNameIsLeftAloneAndBlocksNothing) {
    const std::string working = kTarget + ".new";
    const std::string outside = "C:\\Users\\user\\Documents\\precious.dat";
    const struct {
        const char* what;
        void (*plant)(const std::string& working, const std::string& outside);
        os::DWORD outsideAttributes; // of a file outside the folder, which must keep them
    } cases[] = {
        {"leftover", [](const std::string& w, const std::string&) { sim::PutFile(w, "half"); }, 0},
        {"read-only leftover",
         [](const std::string& w, const std::string&) {
             sim::PutFile(w, "half");
             sim::SetFileAttributes(w, os::FILE_ATTRIBUTE_READONLY);
         },
         0},
        {"hidden leftover",
         [](const std::string& w, const std::string&) {
             sim::PutFile(w, "half");
             sim::SetFileAttributes(w, os::FILE_ATTRIBUTE_HIDDEN);
         },
         0},
        {"hard link", [](const std::string& w, const std::string& o) { sim::MakeHardLink(w, o); },
         0},
        {"read-only hard link",
         [](const std::string& w, const std::string& o) { sim::MakeHardLink(w, o); },
         os::FILE_ATTRIBUTE_READONLY},
        {"symbolic link",
         [](const std::string& w, const std::string& o) { sim::MakeFileSymlink(w, o); }, 0},
        {"symbolic link to nothing",
         [](const std::string& w, const std::string& o) { sim::MakeFileSymlink(w, o + ".absent"); },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        sim::PutFile(kTarget, kOldBank);
        sim::PutFile(outside, "precious");
        c.plant(working, outside);
        if (c.outsideAttributes != 0) {
            sim::SetFileAttributes(outside, c.outsideAttributes);
        }

        Install();

        EXPECT_TRUE(sim::Boxes().empty());
        EXPECT_TRUE(sim::GetFile(kTarget) == InstallTestBank()); // not printed: 5 MiB
        EXPECT_EQ(sim::GetFile(outside), "precious");
        EXPECT_FALSE(sim::FileExists(outside + ".absent"));
        EXPECT_EQ(os::GetFileAttributesA(outside.c_str()),
                  os::FILE_ATTRIBUTE_ARCHIVE | c.outsideAttributes);
        EXPECT_EQ(sim::ListFolder(kFolder), (std::vector<std::string>{"zorv.3bs", "zorv.3bs.new"}));
        EXPECT_EQ(sim::OpenHandles(), 0);
    }
}

// The share mode with which another program holds the target: no open file is replaced, not
// even one shared for deleting.
class InstallFileHeldTargetTest : public InstallFileTest,
                                  public ::testing::WithParamInterface<os::DWORD> {};

TEST_P(InstallFileHeldTargetTest, ShowsBoxAndKeepsOldFile) {
    sim::PutFile(kTarget, kOldBank);
    const int hold = sim::HoldFile(kTarget, GetParam());

    Install();

    sim::ReleaseFile(hold);
    ExpectEnglishFailureBox();
    ExpectOldBankUntouched();
}

INSTANTIATE_TEST_SUITE_P(ShareModes, InstallFileHeldTargetTest,
                         ::testing::Values(0, os::FILE_SHARE_READ,
                                           os::FILE_SHARE_READ | os::FILE_SHARE_WRITE |
                                               os::FILE_SHARE_DELETE),
                         [](const ::testing::TestParamInfo<os::DWORD>& param) {
                             switch (param.param) {
                             case 0:
                                 return "SharingNothing";
                             case os::FILE_SHARE_READ:
                                 return "SharingReading";
                             default:
                                 return "SharingEverything";
                             }
                         });

TEST_F(InstallFileTest, DiskFullHalfWayKeepsOldFile) {
    ASSERT_GT(InstallTestBank().size(), 1U << 20);
    sim::PutFile(kTarget, kOldBank);
    sim::FailWritesAfter("", 1U << 20);

    Install();

    ExpectEnglishFailureBox();
    ExpectOldBankUntouched();
}

TEST_F(InstallFileTest, DiskFullWithoutOldFileLeavesNoFileAtAll) {
    sim::FailWritesAfter("", 1U << 20);

    Install();

    ExpectEnglishFailureBox();
    EXPECT_TRUE(sim::ListFolder(kFolder).empty());
}

struct FailingCall {
    const char* name;
    sim::Call call;
    os::DWORD error;
};

void PrintTo(const FailingCall& step, std::ostream* out) {
    *out << step.name;
}

class InstallFileFailingCallTest : public InstallFileTest,
                                   public ::testing::WithParamInterface<FailingCall> {};

TEST_P(InstallFileFailingCallTest, ShowsBoxAndKeepsOldFile) {
    sim::PutFile(kTarget, kOldBank);
    sim::FailCallsOn(GetParam().call, "", GetParam().error);

    Install();

    ExpectEnglishFailureBox();
    ExpectOldBankUntouched();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, InstallFileFailingCallTest,
    ::testing::Values(
        FailingCall{"FindResource", sim::Call::FindResource, os::ERROR_RESOURCE_NAME_NOT_FOUND},
        FailingCall{"LoadResource", sim::Call::LoadResource, os::ERROR_RESOURCE_DATA_NOT_FOUND},
        FailingCall{"LockResource", sim::Call::LockResource, os::ERROR_RESOURCE_DATA_NOT_FOUND},
        FailingCall{"SizeofResource", sim::Call::SizeofResource, os::ERROR_RESOURCE_DATA_NOT_FOUND},
        FailingCall{"CreateFile", sim::Call::CreateFile, os::ERROR_ACCESS_DENIED},
        FailingCall{"WriteFile", sim::Call::WriteFile, os::ERROR_WRITE_FAULT},
        FailingCall{"FlushFileBuffers", sim::Call::FlushFileBuffers, os::ERROR_WRITE_FAULT},
        FailingCall{"MoveFileEx", sim::Call::MoveFileEx, os::ERROR_ACCESS_DENIED}),
    [](const ::testing::TestParamInfo<FailingCall>& step) { return step.param.name; });

TEST_F(InstallFileTest, MissingResourceWritesNothingAndShowsBox) {
    sim::Reset();
    sim::AddResource("3BS", "OTHER", InstallTestBank());
    sim::MakeFolder(kFolder);

    Install();

    ExpectEnglishFailureBox();
    EXPECT_TRUE(sim::ListFolder(kFolder).empty());
}

TEST_F(InstallFileTest, CyrillicLocaleShowsRussianBoxInWindows1251) {
    Ctx.UserLCID = 0x0419;
    Ctx.IsCyrillicLocale = true;
    sim::PutFile(kTarget, kOldBank);
    const int hold = sim::HoldFile(kTarget, 0);

    Install();

    sim::ReleaseFile(hold);
    ASSERT_EQ(sim::Boxes().size(), 1U);
    const sim::Box& box = sim::Boxes().front();
    EXPECT_TRUE(box.extended);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.text, "\xCD\xE5 \xF3\xE4\xE0\xE5\xF2\xF1\xFF \xF3\xF1\xF2\xE0\xED\xEE\xE2\xE8\xF2"
                        "\xFC \xF4\xE0\xE9\xEB " +
                            kTarget);
    EXPECT_EQ(box.caption, Ctx.LocalCaption);
    EXPECT_EQ(box.style, kErrorStyle);
    EXPECT_EQ(box.languageId, 0x0019);
    ExpectOldBankUntouched();
}

} // namespace
