// Finding the host's folder through the registry, and the size of a folder tree.
#include "driver/HostDiscovery.h"
#include "context/ProgInfo.h"
#include "os/sim/Sim.h"
#include "platform/WinVer.h"

#include <gtest/gtest.h>

#include <string>

namespace sim = os::sim;

namespace {

const std::string kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kWowCurrentVersion = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion";
const std::string kShellFolders = kCurrentVersion + "\\Explorer\\Shell Folders";
const std::string kUninstallEntry = kCurrentVersion + "\\Uninstall\\Zelm";
const std::string kWowUninstallEntry = kWowCurrentVersion + "\\Uninstall\\Zelm";
constexpr os::UINT kErrorStyle = 0x00200010;

class HostDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset(); // Windows 10 x64: IsWin64, the 64-bit registry view
        IsWin64 = false;
        sim::SetRegString(os::HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir",
                          "C:\\Program Files");
        sim::SetRegString(os::HKEY_LOCAL_MACHINE, kWowCurrentVersion, "ProgramFilesDir",
                          "C:\\Program Files (x86)");
        for (const char* name : {"Programs", "Desktop", "Startup"}) {
            sim::SetRegString(os::HKEY_CURRENT_USER, kShellFolders, name,
                              std::string("C:\\Users\\user\\") + name);
        }
    }
    void TearDown() override {
        DoneProgInfo();
        EXPECT_EQ(sim::OpenKeys(), 0);
        EXPECT_EQ(sim::OpenHandles(), 0);
    }
    static void Start() {
        InitProgInfo();
        Ctx.ProgName = "Zelm";
        Ctx.EnglishCaption = "Zelm update";
        Ctx.LocalCaption = Cp1251("Обновление программы \"Зелм\"");
    }
    static void SetUninstallString(const std::string& entry, const std::string& command) {
        sim::SetRegString(os::HKEY_LOCAL_MACHINE, entry, "UninstallString", command);
    }
    // The folder found for an uninstall command in the native entry.
    static std::string FolderFor(const std::string& command) {
        SetUninstallString(kUninstallEntry, command);
        Start();
        EXPECT_TRUE(DiscoverHost());
        const std::string folder = Ctx.HostFolder;
        DoneProgInfo();
        return folder;
    }
};

// ---- The uninstall entry ----

TEST_F(HostDiscoveryTest, FolderOfTheUninstallCommand) {
    SetUninstallString(kUninstallEntry, "C:\\Program Files\\Zelm\\unins000.exe");
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files\\Zelm\\");
    EXPECT_EQ(Ctx.UninstallKey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    EXPECT_TRUE(Ctx.IsAdmin);
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_FALSE(Ctx.ProgRegistry->HasCurrentKey());
}

TEST_F(HostDiscoveryTest, CommandIsCutNotParsed) {
    EXPECT_EQ(FolderFor("\"C:\\Program Files\\Zelm\\unins000.exe\""),
              "\"C:\\Program Files\\Zelm\\");
    EXPECT_EQ(FolderFor("C:\\Program Files\\Zelm\\"), "C:\\Program Files\\");
    EXPECT_EQ(FolderFor("D:\\Zelm\\unins000.exe /SILENT"), "D:\\Zelm\\");
}

TEST_F(HostDiscoveryTest, CommandWithoutUsableBackslashKeepsTheDefault) {
    for (const char* command : {"", "\\", "x\\", "unins000.exe"}) {
        EXPECT_EQ(FolderFor(command), "C:\\Program Files\\Zelm\\") << command;
    }
}

TEST_F(HostDiscoveryTest, NativeEntryWinsAndTheWowEntryIsNotOpened) {
    SetUninstallString(kUninstallEntry, "C:\\Program Files\\Zelm\\unins000.exe");
    SetUninstallString(kWowUninstallEntry, "C:\\Program Files (x86)\\Zelm\\unins000.exe");
    Start();
    const int opensBefore = sim::CallCount(sim::Call::RegOpenKeyEx);
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files\\Zelm\\");
    // Program-files key, shell folders, native entry: nothing more.
    EXPECT_EQ(sim::CallCount(sim::Call::RegOpenKeyEx) - opensBefore, 3);
}

TEST_F(HostDiscoveryTest, WowEntryServesWhenTheNativeOneIsMissing) {
    SetUninstallString(kWowUninstallEntry, "C:\\Program Files (x86)\\Zelm\\unins000.exe");
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files (x86)\\Zelm\\");
}

TEST_F(HostDiscoveryTest, EmptyCommandCountsAsFoundAnEntryWithoutOneDoesNot) {
    sim::CreateRegKey(os::HKEY_LOCAL_MACHINE, kUninstallEntry);
    SetUninstallString(kWowUninstallEntry, "C:\\Program Files (x86)\\Zelm\\unins000.exe");
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files (x86)\\Zelm\\"); // native key, no value
    DoneProgInfo();

    SetUninstallString(kUninstallEntry, "");
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files\\Zelm\\"); // the value exists: no WOW lookup
}

TEST_F(HostDiscoveryTest, Without64BitViewTheRedirectedKeysAreRead) {
    sim::Version xp64;
    xp64.major = 5;
    xp64.minor = 2;
    sim::SetVersion(xp64); // "XP Professional x64": IsWin64 stays false
    SetUninstallString(kUninstallEntry, "C:\\Program Files\\Zelm\\unins000.exe");
    SetUninstallString(kWowUninstallEntry, "C:\\Program Files (x86)\\Zelm\\unins000.exe");
    Start();
    ASSERT_FALSE(IsWin64);
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files (x86)\\Zelm\\");
}

TEST_F(HostDiscoveryTest, In64BitViewProgramFilesIsTheNativeOne) {
    Start();
    ASSERT_TRUE(IsWin64);
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "C:\\Program Files\\Zelm\\");
}

TEST_F(HostDiscoveryTest, NoProgramFilesAndNoEntryGivesARelativeFolder) {
    sim::Reset();
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "Zelm\\");
}

TEST_F(HostDiscoveryTest, ProgramFilesWithBackslashGetsNoSecondOne) {
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", "E:\\Apps\\");
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_EQ(Ctx.HostFolder, "E:\\Apps\\Zelm\\");
}

TEST_F(HostDiscoveryTest, AdministratorRightsAreRecorded) {
    sim::SetAdmin(false);
    Start();
    ASSERT_TRUE(DiscoverHost());
    EXPECT_FALSE(Ctx.IsAdmin);
}

// ---- The registry probe ----

TEST_F(HostDiscoveryTest, UnreadableShellFolderShowsTheEnglishBox) {
    sim::SetRegRaw(os::HKEY_CURRENT_USER, kShellFolders, "Desktop", os::REG_BINARY, "\x01\x02");
    SetUninstallString(kUninstallEntry, "C:\\Program Files\\Zelm\\unins000.exe");
    Start();
    EXPECT_FALSE(DiscoverHost());
    EXPECT_FALSE(Ctx.ProgRegistry->HasCurrentKey());
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(Ctx.HostFolder, ""); // the steps after the probe did not run
    ASSERT_EQ(sim::Boxes().size(), 1u);
    const sim::Box& box = sim::Boxes()[0];
    EXPECT_FALSE(box.extended);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.text, "No access to system registry");
    EXPECT_EQ(box.caption, "Zelm update");
    EXPECT_EQ(box.style, kErrorStyle);
}

// Which query of the "Startup" shell folder fails: its size, or its data.
class FailedShellFolderReadTest : public HostDiscoveryTest,
                                  public ::testing::WithParamInterface<int> {};

TEST_P(FailedShellFolderReadTest, ShowsTheRussianBox) {
    sim::Reset(); // no program-files folder, only one shell folder
    sim::SetUserLocale(0x0419);
    sim::SetRegString(os::HKEY_CURRENT_USER, kShellFolders, "Startup", "C:\\Startup");
    Start();
    // No program-files key, so no query there; Programs and Desktop: one query each (absent);
    // Startup: exists (3), then the size (4) and the data (5).
    sim::FailCall(sim::Call::RegQueryValueEx,
                  sim::CallCount(sim::Call::RegQueryValueEx) + GetParam(), os::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DiscoverHost());
    EXPECT_EQ(sim::OpenKeys(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    const sim::Box& box = sim::Boxes()[0];
    EXPECT_TRUE(box.extended);
    EXPECT_EQ(box.text, Cp1251("Нет доступа к системному реестру"));
    EXPECT_EQ(box.caption, Cp1251("Обновление программы \"Зелм\""));
    EXPECT_EQ(box.style, kErrorStyle);
    EXPECT_EQ(box.languageId, 0x0019);
}

INSTANTIATE_TEST_SUITE_P(SizeOrData, FailedShellFolderReadTest, ::testing::Values(4, 5),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param == 4 ? "SizeQuery" : "DataQuery";
                         });

TEST_F(HostDiscoveryTest, MissingShellFoldersAreNoFailure) {
    sim::Reset();
    Start();
    EXPECT_TRUE(DiscoverHost());
    EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(HostDiscoveryTest, RegistryErrorsOutsideTheProbePropagate) {
    sim::SetRegDword(os::HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", 1);
    Start();
    EXPECT_THROW((void)DiscoverHost(), RegistryError);
    EXPECT_FALSE(Ctx.ProgRegistry->HasCurrentKey());
    DoneProgInfo();

    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", "C:\\PF");
    sim::SetRegDword(os::HKEY_LOCAL_MACHINE, kUninstallEntry, "UninstallString", 1);
    Start();
    try {
        (void)DiscoverHost();
        ADD_FAILURE() << "no error";
    } catch (const RegistryError& error) {
        EXPECT_EQ(std::string(error.what()), "Invalid data type for 'UninstallString'");
    }
    EXPECT_FALSE(Ctx.ProgRegistry->HasCurrentKey());
    EXPECT_TRUE(sim::Boxes().empty());
}

} // namespace
