// The Windows version text and the 64-bit test, on the simulated Windows.
#include "platform/WinVer.h"
#include "os/sim/Sim.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace sim = os::sim;

namespace {

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
const char kComSpec[] = "C:\\Windows\\system32\\cmd.exe";

sim::Version Nt(os::DWORD major, os::DWORD minor, os::BYTE productType = os::VER_NT_WORKSTATION,
                os::WORD suiteMask = 0, const std::string& csd = "") {
    sim::Version version;
    version.major = major;
    version.minor = minor;
    version.platform = os::VER_PLATFORM_WIN32_NT;
    version.productType = productType;
    version.suiteMask = suiteMask;
    version.csd = csd;
    return version;
}

sim::Version Win9x(os::DWORD minor, os::DWORD build, const std::string& csd = "") {
    sim::Version version;
    version.major = 4;
    version.minor = minor;
    version.build = build;
    version.platform = os::VER_PLATFORM_WIN32_WINDOWS;
    version.csd = csd;
    version.productType = 0;
    version.suiteMask = 0;
    return version;
}

class WinVerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        IsWin64 = false;
        sim::SetEnv("ComSpec", std::string(kComSpec));
        sim::SetEnv("Temp", std::string("C:\\Temp"));
        sim::MakeFolder("C:\\Temp");
    }
    void TearDown() override {
        EXPECT_EQ(sim::OpenKeys(), 0);
        EXPECT_EQ(sim::OpenHandles(), 0);
    }

    static void On(const sim::Version& version, os::WORD architecture) {
        sim::SetVersion(version);
        sim::SetArchitecture(architecture);
        sim::SetMachine64(architecture != os::PROCESSOR_ARCHITECTURE_INTEL);
    }
    static void SetProductName(const std::string& name) {
        sim::SetRegString(os::HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProductName", name);
    }
};

// ---- Windows 7 to 11 ----

TEST_F(WinVerTest, Windows7x64TakesProductNameAndAddsBitnessAndServicePack) {
    On(Nt(6, 1, os::VER_NT_WORKSTATION, 0x100, "Service Pack 1"), os::PROCESSOR_ARCHITECTURE_AMD64);
    SetProductName("Windows 7 Professional");
    EXPECT_EQ(GetWinVersionText(), "Windows 7 Professional 64-bit Service Pack 1");
    EXPECT_TRUE(IsWin64);
    EXPECT_TRUE(sim::StartedProcesses().empty()); // "ver" is only for what reports 6.2
}

TEST_F(WinVerTest, ProductNameIsReadFromThe64BitView) {
    On(Nt(6, 1), os::PROCESSOR_ARCHITECTURE_AMD64);
    SetProductName("Windows 7 Ultimate");
    sim::SetRegString(os::HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                      "Redirected");
    EXPECT_EQ(GetWinVersionText(), "Windows 7 Ultimate 64-bit");
}

TEST_F(WinVerTest, Windows10x64ReportingSixTwoRunsVer) {
    On(Nt(6, 2), os::PROCESSOR_ARCHITECTURE_AMD64);
    SetProductName("Windows 10 Pro");
    sim::SetVerOutput("\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
    EXPECT_EQ(GetWinVersionText(), "Windows 10 Pro 64-bit");
    EXPECT_TRUE(IsWin64);
    ASSERT_EQ(sim::StartedProcesses().size(), 1u);
}

TEST_F(WinVerTest, Windows10x86IsNot64Bit) {
    On(Nt(6, 2), os::PROCESSOR_ARCHITECTURE_INTEL);
    SetProductName("Windows 10 Home");
    EXPECT_EQ(GetWinVersionText(), "Windows 10 Home 32-bit");
    EXPECT_FALSE(IsWin64);
}

TEST_F(WinVerTest, WithoutProductNameTheVerOutputNamesTheVersion) {
    On(Nt(6, 2), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetVerOutput("\r\nMicrosoft Windows [Version 6.2.9200]\r\n");
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 8  64-bit");
    sim::SetVerOutput("\r\nMicrosoft Windows [Version 10.0.22631.2861]\r\n");
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 10  64-bit");
}

TEST_F(WinVerTest, Server2012R2ReportingSixTwoWithoutProductName) {
    On(Nt(6, 2, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetVerOutput("\r\nMicrosoft Windows [Version 6.3.9600]\r\n");
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 2012 R2  64-bit");
    EXPECT_TRUE(IsWin64);
}

TEST_F(WinVerTest, ProductNameOfAnotherTypeLeavesTheTableName) {
    On(Nt(6, 1), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetRegDword(os::HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProductName", 7);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 7  64-bit");
}

TEST_F(WinVerTest, ProductNameWithoutTerminatingZeroIsReadWhole) {
    On(Nt(6, 1), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetRegRaw(os::HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProductName", os::REG_SZ,
                   "Windows 7 Starter");
    EXPECT_EQ(GetWinVersionText(), "Windows 7 Starter 64-bit");
    sim::SetRegRaw(os::HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProductName", os::REG_SZ,
                   std::string("Windows 7\0junk", 14));
    EXPECT_EQ(GetWinVersionText(), "Windows 7 64-bit");
}

TEST_F(WinVerTest, ItaniumAndUnknownArchitecturesGetNoBitness) {
    On(Nt(6, 1, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_IA64);
    SetProductName("Windows Server 2008 R2 Enterprise");
    EXPECT_EQ(GetWinVersionText(), "Windows Server 2008 R2 Enterprise");
    EXPECT_FALSE(IsWin64);
    On(Nt(6, 1, os::VER_NT_SERVER), 12);
    EXPECT_EQ(GetWinVersionText(), "Windows Server 2008 R2 Enterprise");
    EXPECT_FALSE(IsWin64);
}

// GetSystemInfo answers instead: x86 to a 32-bit process on a 64-bit machine, and the processor
// itself elsewhere (here one the tables do not name, which a zeroed record would call x86).
TEST_F(WinVerTest, WithoutGetNativeSystemInfoGetSystemInfoAnswers) {
    const struct {
        os::WORD machine;
        const char* text;
    } cases[] = {
        {os::PROCESSOR_ARCHITECTURE_AMD64, "Windows 7 Professional 32-bit"},
        {12, "Windows 7 Professional"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        sim::Version version = Nt(6, 1);
        version.nativeSystemInfo = false;
        On(version, c.machine);
        SetProductName("Windows 7 Professional");
        EXPECT_EQ(GetWinVersionText(), c.text);
        EXPECT_FALSE(IsWin64);
    }
}

// ---- The generic rule for versions the tables do not name ----

TEST_F(WinVerTest, UnknownMajorTakesTheVersionFromVer) {
    On(Nt(11, 0), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetVerOutput("Version 11.0.1\r\n");
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 11 Unknown Workstation");
    EXPECT_FALSE(IsWin64);
    On(Nt(11, 0, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 11 Unknown Server");
}

TEST_F(WinVerTest, GenericRuleWithoutIonStartsAtTheFourthCharacter) {
    On(Nt(11, 0), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetVerOutput("OS 9.9\r\n"); // 1-based position 4 is the "9"
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 9 Unknown Workstation");
    sim::SetVerOutput("Version 11\r\n"); // no dot at all
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows  Unknown Workstation");
    sim::SetVerOutput("1.0 Version 11\r\n"); // the first dot lies before the version
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows  Unknown Workstation");
}

TEST_F(WinVerTest, NoCommandInterpreterGivesAnEmptyVersionPart) {
    On(Nt(11, 0), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetEnv("ComSpec", std::nullopt);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows  Unknown Workstation");
    EXPECT_TRUE(sim::StartedProcesses().empty());
    sim::SetEnv("ComSpec", std::string(kComSpec));
    sim::SetVerOutput(std::nullopt); // the interpreter cannot be started
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows  Unknown Workstation");
}

TEST_F(WinVerTest, TenPointZeroAndLaterMinors) {
    On(Nt(10, 0), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 10 Unknown Workstation");
    On(Nt(10, 0, os::VER_NT_DOMAIN_CONTROLLER), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 2016 Unknown Domain controller");
    On(Nt(10, 1), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Unknown Workstation");
    EXPECT_TRUE(sim::StartedProcesses().empty());
}

TEST_F(WinVerTest, VistaAnd2008AndLaterSixMinors) {
    On(Nt(6, 0, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 2008  32-bit");
    On(Nt(6, 0), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Vista  32-bit");
    On(Nt(6, 3), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 8.1  64-bit");
    On(Nt(6, 4), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows  64-bit");
}

// ---- Windows 2000, XP and Server 2003 ----

TEST_F(WinVerTest, XpProfessionalX64IsNot64BitByItsText) {
    On(Nt(5, 2, os::VER_NT_WORKSTATION, 0, "Service Pack 2"), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Professional x64 Service Pack 2");
    EXPECT_FALSE(IsWin64);
}

TEST_F(WinVerTest, Server2003x64IsNot64BitByItsText) {
    On(Nt(5, 2, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 2003 Standard x64");
    EXPECT_FALSE(IsWin64);
    On(Nt(5, 2, os::VER_NT_SERVER, 0x2), os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetSystemMetric(os::SM_SERVERR2, 1);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Server 2003 R2 Enterprise x64");
    EXPECT_FALSE(IsWin64);
}

TEST_F(WinVerTest, Server2003EditionsByArchitectureAndSuite) {
    struct Case {
        os::WORD architecture;
        os::WORD suite;
        const char* expected;
    };
    const Case cases[] = {
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x4000, "Server 2003 Computer Cluster"},
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x0080, "Server 2003 Datacenter"},
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x0002, "Server 2003 Enterprise"},
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x0400, "Server 2003 Web"},
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x0410, "Server 2003 Standard"}, // Web only alone
        {os::PROCESSOR_ARCHITECTURE_INTEL, 0x2000, "Storage Server 2003Standard"},
        {os::PROCESSOR_ARCHITECTURE_IA64, 0x0080,
         "Server 2003 Datacenter for Itanium-based Systems"},
        {os::PROCESSOR_ARCHITECTURE_IA64, 0x0002,
         "Server 2003 Enterprise for Itanium-based Systems"},
        {os::PROCESSOR_ARCHITECTURE_IA64, 0, "Server 2003 Standard Itanium-based"},
        {os::PROCESSOR_ARCHITECTURE_AMD64, 0x0080, "Server 2003 Datacenter x64"},
        {5, 0, "Server 2003 Unknown on Architecture 0x5"},
        {0x1c, 0, "Server 2003 Unknown on Architecture 0x1c"},
    };
    for (const Case& c : cases) {
        On(Nt(5, 2, os::VER_NT_SERVER, c.suite), c.architecture);
        EXPECT_EQ(GetWinVersionText(), std::string("Microsoft Windows ") + c.expected)
            << "suite " << c.suite;
    }
}

TEST_F(WinVerTest, XpWorkstationEditionsInOrder) {
    On(Nt(5, 1, os::VER_NT_WORKSTATION, 0x0240), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Home");
    On(Nt(5, 1, os::VER_NT_WORKSTATION, 0x0040), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Embedded");
    On(Nt(5, 1), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Professional");
    sim::SetSystemMetric(os::SM_TABLETPC, 1);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Tablet PC");
    sim::SetSystemMetric(os::SM_MEDIACENTER, 1);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Media Center");
    sim::SetSystemMetric(os::SM_STARTER, 1);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Starter");
}

TEST_F(WinVerTest, Windows2000ServerEditions) {
    On(Nt(5, 0, os::VER_NT_SERVER, 0x82), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 2000 Datacenter Server");
    On(Nt(5, 0, os::VER_NT_DOMAIN_CONTROLLER, 0x2), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 2000 Advanced Server");
    On(Nt(5, 0, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 2000 Server");
    On(Nt(5, 1, os::VER_NT_SERVER), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Unknown Server");
    On(Nt(5, 3, os::VER_NT_WORKSTATION), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows Unknown version Professional");
    On(Nt(5, 1, 7), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Unknown");
}

// ---- NT 3 and 4 ----

TEST_F(WinVerTest, Nt4ServicePack6aThroughItsHotfixKey) {
    On(Nt(4, 0, os::VER_NT_WORKSTATION, 0, "Service Pack 6"), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT Workstation Service Pack 6");
    sim::CreateRegKey(os::HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009");
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT Workstation Service Pack 6a");
    On(Nt(4, 0, os::VER_NT_SERVER, 0x2, "Service Pack 6"), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT Server 4.0 Enterprise Service Pack 6a");
    On(Nt(5, 0, os::VER_NT_WORKSTATION, 0, "Service Pack 6"), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows 2000 Professional Service Pack 6");
}

TEST_F(WinVerTest, WithoutExtendedRecordTheEditionComesFromProductOptions) {
    sim::Version version = Nt(4, 0, 0, 0, "Service Pack 5");
    version.extendedQuery = false;
    On(version, os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT  Service Pack 5"); // no key
    const struct {
        const char* stored;
        const char* edition;
    } cases[] = {{"WinNT", "Workstation"},
                 {"lanmannt", "Server"},
                 {"SERVERNT", "Advanced Server"},
                 {"Terminal", "Unknown"}};
    for (const auto& c : cases) {
        sim::SetRegString(os::HKEY_LOCAL_MACHINE, kProductOptionsKey, "ProductType", c.stored);
        EXPECT_EQ(GetWinVersionText(),
                  std::string("Microsoft Windows NT ") + c.edition + " Service Pack 5");
    }
}

TEST_F(WinVerTest, ProductOptionsNeedsAShortPlainString) {
    sim::Version version = Nt(3, 51);
    version.extendedQuery = false;
    On(version, os::PROCESSOR_ARCHITECTURE_INTEL);
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kProductOptionsKey, "ProductType", "WinNT",
                      os::REG_EXPAND_SZ);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT ");
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kProductOptionsKey, "ProductType",
                      std::string(300, 'W'));
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows NT ");
}

// ---- Windows 95, 98 and Me ----

TEST_F(WinVerTest, Windows9xNames) {
    const struct {
        os::DWORD minor;
        os::DWORD build;
        const char* csd;
        const char* expected;
    } cases[] = {
        {0, 950, "", "Microsoft Windows 95"},
        {0, 950, " A", "Microsoft Windows 95 OSR 1  A"},
        {0, 0x04000457, "", "Microsoft Windows 95 OSR 2.0"}, // 1111 in the low word
        {0, 1212, "", "Microsoft Windows 95 OSR 2.1"},
        {3, 1213, "", "Microsoft Windows 95 OSR 2.1"},
        {0, 1214, " C", "Microsoft Windows 95 OSR 2.5  C"},
        {0, 1214, " B", "Microsoft Windows 95 OSR 2.1  B"},
        {0, 1100, "", "Microsoft Windows 95 OSR 2.x"},
        {10, 1998, "", "Microsoft Windows 98"},
        {10, 2222, "", "Microsoft Windows 98 SE"},
        {10, 0x040A08AE, " A ", "Microsoft Windows 98 SE  A "},
        {10, 0x040A08AE, "", "Microsoft Windows 98"}, // 2222 only in the low word
        {90, 3000, "", "Microsoft Windows Millennium"},
        {1, 1, "", "Microsoft Windows Unknown 9x"},
    };
    for (const auto& c : cases) {
        On(Win9x(c.minor, c.build, c.csd), os::PROCESSOR_ARCHITECTURE_INTEL);
        EXPECT_EQ(GetWinVersionText(), c.expected) << c.build;
        EXPECT_FALSE(IsWin64);
    }
}

// ---- Service pack and failures ----

TEST_F(WinVerTest, BlankServicePackAddsNothingOtherwiseAddedAsReturned) {
    On(Nt(5, 1, os::VER_NT_WORKSTATION, 0, " \t "), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Professional");
    On(Nt(5, 1, os::VER_NT_WORKSTATION, 0, " SP3 "), os::PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_EQ(GetWinVersionText(), "Microsoft Windows XP Professional  SP3 ");
}

TEST_F(WinVerTest, NoVersionRecordOrUnknownPlatformIsUnknown) {
    sim::Version version = Nt(6, 1);
    version.anyQuery = false;
    On(version, os::PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(GetWinVersionText(), "unknown");
    EXPECT_FALSE(IsWin64);
    version = Nt(6, 1);
    version.platform = 3;
    On(version, os::PROCESSOR_ARCHITECTURE_AMD64);
    std::string name = "untouched";
    std::string servicePack;
    EXPECT_FALSE(GetWinVersionInfo(name, servicePack));
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(GetWinVersionText(), "unknown");
}

// ---- Running a command ----

// The capture runs elevated; Temp is the user's, and whatever a file named there would lead to
// at the end could be read and deleted with those rights. So nothing is named there at all.
TEST_F(WinVerTest, CaptureComesThroughCmdsOnlyInheritedHandleAndNamesNothingInTemp) {
    const std::optional<std::string> temps[] = {std::string("C:\\Temp"), std::string("C:\\x%ZQ%"),
                                                std::nullopt};
    for (const auto& temp : temps) {
        SCOPED_TRACE(temp.value_or("(unset)"));
        SetUp();
        sim::SetEnv("Temp", temp);
        sim::SetVerOutput("\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
        EXPECT_EQ(RunCommandCapture("ver"), "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
        ASSERT_EQ(sim::StartedProcesses().size(), 1u);
        const sim::ProcessRecord& started = sim::StartedProcesses()[0];
        EXPECT_EQ(started.applicationName, "C:\\Windows\\system32\\cmd.exe");
        EXPECT_EQ(started.commandLine, "cmd.exe /d /c ver");
        EXPECT_EQ(started.creationFlags, 0x210u | 0x80000u); // with EXTENDED_STARTUPINFO_PRESENT
        EXPECT_EQ(started.startupFlags, os::STARTF_USESHOWWINDOW | os::STARTF_USESTDHANDLES);
        EXPECT_EQ(started.showWindow, os::SW_HIDE);
        EXPECT_EQ(started.inherited, std::vector<std::string>{"pipe write end"});
        EXPECT_TRUE(started.stdOutputInherited);
        EXPECT_EQ(sim::FirstCall("CreateFileA"), -1);
        EXPECT_EQ(sim::FirstCall("DeleteFileA"), -1);
        EXPECT_TRUE(sim::ListFolder("C:\\Temp").empty());
    }
}

// As for a cmd that cannot start: one line break, and every handle closed.
TEST_F(WinVerTest, CaptureIsEmptyWhereAnyStepIsMissingOrFails) {
    const struct {
        const char* what;
        sim::Call call; // Count: none fails, the functions are missing
    } cases[] = {
        {"no attribute lists (before Vista)", sim::Call::Count},
        {"CreatePipe", sim::Call::CreatePipe},
        {"InitializeProcThreadAttributeList", sim::Call::InitializeProcThreadAttributeList},
        {"UpdateProcThreadAttribute", sim::Call::UpdateProcThreadAttribute},
        {"CreateProcess", sim::Call::CreateProcess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.call == sim::Call::Count) {
            sim::Version version;
            version.vistaFunctions = false;
            sim::SetVersion(version);
        } else {
            sim::FailCallsOn(c.call, "", os::ERROR_ACCESS_DENIED);
        }
        EXPECT_EQ(RunCommandCapture("ver"), "\r\n");
        EXPECT_TRUE(sim::StartedProcesses().empty());
        EXPECT_EQ(sim::OpenHandles(), 0);
    }
}

// ComSpec can be set by any program of the user, and the capture runs elevated.
TEST_F(WinVerTest, OnlyTheSystemFoldersCmdRunsWhateverComSpecNames) {
    const char* const comSpecs[] = {
        "C:\\WINDOWS\\System32\\CMD.EXE",
        "C:\\Windows\\system32\\zplant.exe",
        "C:\\Users\\user\\cmd.exe",
        "cmd.exe",
        "C:\\Windows\\system32\\..\\..\\Users\\cmd.exe",
        "C:\\Windows\\system32\\cmd.exe /k evil.bat",
        "C:\\Windows\\system32\\cmd.exe&evil",
    };
    for (const char* comSpec : comSpecs) {
        SCOPED_TRACE(comSpec);
        sim::SetEnv("ComSpec", std::string(comSpec));
        const std::size_t before = sim::StartedProcesses().size();
        RunCommandCapture("ver");
        ASSERT_EQ(sim::StartedProcesses().size(), before + 1);
        EXPECT_EQ(sim::StartedProcesses().back().applicationName, "C:\\Windows\\system32\\cmd.exe");
        EXPECT_EQ(sim::StartedProcesses().back().commandLine, "cmd.exe /d /c ver");
    }
}

TEST_F(WinVerTest, CaptureEndsEveryLineInCrLf) {
    sim::SetVerOutput("");
    EXPECT_EQ(RunCommandCapture("ver"), "\r\n");
    sim::SetVerOutput("one\ntwo");
    EXPECT_EQ(RunCommandCapture("ver"), "one\r\ntwo\r\n");
    sim::SetVerOutput("one\r\n\r\n");
    EXPECT_EQ(RunCommandCapture("ver"), "one\r\n\r\n");
    sim::SetVerOutput(std::nullopt);
    EXPECT_EQ(RunCommandCapture("ver"), "\r\n"); // no interpreter, no file
}

// The conversion lives in user32, which an ASCII "ver" then never loads.
TEST_F(WinVerTest, CaptureConvertsOnlyTextBeyondAsciiFromTheOemCodePage) {
    sim::SetVerOutput("Microsoft Windows [Version 10.0.19045.3803]\r\n");
    EXPECT_EQ(RunCommandCapture("ver"), "Microsoft Windows [Version 10.0.19045.3803]\r\n");
    EXPECT_EQ(sim::FirstCall("OemToCharBuffA"), -1);
    const std::string oem = "\x8E\xA1\xAD\xAE\xA2\xAB\xA5\xAD\xA8\xA5\r\n";
    sim::SetVerOutput(oem);
    std::string expected = oem;
    os::OemToCharBuffA(oem.c_str(), expected.data(), static_cast<os::DWORD>(oem.size()));
    ASSERT_NE(expected, oem); // the simulated code pages differ in these bytes
    EXPECT_EQ(RunCommandCapture("ver"), expected);
}

TEST_F(WinVerTest, EmptyOrOverlongComSpecRunsNothing) {
    sim::SetEnv("ComSpec", std::string());
    EXPECT_EQ(RunCommandCapture("ver"), "");
    sim::SetEnv("ComSpec", "C:\\" + std::string(300, 'x') + "\\cmd.exe");
    EXPECT_EQ(RunCommandCapture("ver"), "");
    EXPECT_TRUE(sim::StartedProcesses().empty());
}

} // namespace
