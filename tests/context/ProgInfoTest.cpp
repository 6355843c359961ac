// The program context: start-up, the registry accessor, the command line and the bilingual box.
#include "context/ProgInfo.h"
#include "os/sim/Sim.h"
#include "platform/Random.h"
#include "platform/WinVer.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim = os::sim;

namespace {

const std::string kUninstallEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
const std::string kWowUninstallEntry =
    "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
const std::string kProgKey = "Software\\Orvek\\Zelm";
constexpr os::UINT kErrorStyle = 0x00200010;

void OnWindows7(os::WORD architecture) {
    sim::Version version;
    version.major = 6;
    version.minor = 1;
    sim::SetVersion(version);
    sim::SetArchitecture(architecture);
    sim::SetMachine64(architecture != os::PROCESSOR_ARCHITECTURE_INTEL);
}

void OnXpX64() {
    sim::Version version;
    version.major = 5;
    version.minor = 2;
    sim::SetVersion(version);
    sim::SetArchitecture(os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetMachine64(true);
}

class ProgInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        IsWin64 = false;
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
    static Registry& Reg() { return *Ctx.ProgRegistry; }
};

// ---- Locale ----

TEST_F(ProgInfoTest, TheSevenCyrillicLocales) {
    for (os::LCID lcid : {0x0402u, 0x0419u, 0x0422u, 0x0423u, 0x043Fu, 0x0444u, 0x0819u}) {
        sim::SetUserLocale(lcid);
        InitProgInfo();
        EXPECT_EQ(Ctx.UserLCID, lcid);
        EXPECT_TRUE(Ctx.IsCyrillicLocale) << std::hex << lcid;
        DoneProgInfo();
    }
}

TEST_F(ProgInfoTest, NeighbouringLocalesAreNotCyrillic) {
    // Serbian and Uzbek in Cyrillic script, English, the bare Russian language, and Russian
    // with a sort order in the high bits: only the seven whole values count.
    for (os::LCID lcid : {0x0C1Au, 0x0843u, 0x0409u, 0x0019u, 0x00010419u, 0x0418u, 0x0420u}) {
        EXPECT_FALSE(IsCyrillicLcid(lcid)) << std::hex << lcid;
    }
}

TEST_F(ProgInfoTest, BilingualBoxFollowsTheLocale) {
    sim::SetUserLocale(0x0419);
    Start();
    ShowBilingualError("English text", Cp1251("Русский текст"));
    DoneProgInfo();
    sim::SetUserLocale(0x0409);
    Start();
    ShowBilingualError("English text", Cp1251("Русский текст"));

    ASSERT_EQ(sim::Boxes().size(), 2u);
    const sim::Box& russian = sim::Boxes()[0];
    EXPECT_TRUE(russian.extended);
    EXPECT_FALSE(russian.hasOwner);
    EXPECT_EQ(russian.text, Cp1251("Русский текст"));
    EXPECT_EQ(russian.caption, Cp1251("Обновление программы \"Зелм\""));
    EXPECT_EQ(russian.style, kErrorStyle);
    EXPECT_EQ(russian.languageId, 0x0019);
    const sim::Box& english = sim::Boxes()[1];
    EXPECT_FALSE(english.extended);
    EXPECT_FALSE(english.hasOwner);
    EXPECT_EQ(english.text, "English text");
    EXPECT_EQ(english.caption, "Zelm update");
    EXPECT_EQ(english.style, kErrorStyle);
}

// ---- Command line ----

TEST_F(ProgInfoTest, SplitsLikeWindowsPrograms) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\up.exe\" MODEST RunApp"),
              (Args{"C:\\Program Files\\up.exe", "MODEST", "RunApp"}));
    EXPECT_EQ(SplitCommandLine("up.exe \"\" modest"), (Args{"up.exe", "modest"}));
    EXPECT_EQ(SplitCommandLine("up.exe \"\"\"\"  \"\" modest \"\""), (Args{"up.exe", "modest"}));
    EXPECT_EQ(SplitCommandLine("up.exe mo\"\"dest \"two words\" \"un"),
              (Args{"up.exe", "modest", "two words", "un"}));
    EXPECT_EQ(SplitCommandLine("  up.exe\tmodest\x01x\r\nrunapp "),
              (Args{"up.exe", "modest", "x", "runapp"}));
    EXPECT_EQ(SplitCommandLine("up.exe \xC0\xE1\xA0z"), (Args{"up.exe", "\xC0\xE1\xA0z"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

TEST_F(ProgInfoTest, FirstParamIsFoldedToLowerCaseAsciiOnly) {
    sim::SetCommandLine("ZelmSoundUpdate.exe MoDeSt RunApp");
    InitProgInfo();
    EXPECT_EQ(Ctx.FirstParam, "modest");
    EXPECT_EQ(ParamStr(2), "RunApp"); // only the first is folded at start-up
    EXPECT_EQ(ParamStr(3), "");
    EXPECT_EQ(ParamStr(-1), "");
    DoneProgInfo();

    sim::SetCommandLine("ZelmSoundUpdate.exe \"\" \"MODEST\"");
    InitProgInfo();
    EXPECT_EQ(Ctx.FirstParam, "modest");
    DoneProgInfo();

    sim::SetCommandLine("ZelmSoundUpdate.exe \xC0\xC1Z@[");
    InitProgInfo();
    EXPECT_EQ(Ctx.FirstParam, "\xC0\xC1z@[");
    DoneProgInfo();

    sim::SetCommandLine("ZelmSoundUpdate.exe");
    InitProgInfo();
    EXPECT_EQ(Ctx.FirstParam, "");
}

TEST_F(ProgInfoTest, AsciiLowerFoldsOnlyAToZ) {
    EXPECT_EQ(AsciiLower("AZaz@[`{09\xC0\xDF"), "azaz@[`{09\xC0\xDF");
}

// ---- Start-up: seed and registry view ----

TEST_F(ProgInfoTest, SeedComesFromThePerformanceCounterOrTheTickCount) {
    for (bool counter : {true, false}) {
        sim::Reset();
        OnWindows7(os::PROCESSOR_ARCHITECTURE_AMD64); // no "ver", so nothing draws at start-up
        sim::SetQueryPerformanceCounterAvailable(counter);
        os::Sleep(123456); // moves both the tick count and the counter
        InitProgInfo();
        const std::uint32_t drawn = RandomBelow(1u << 30);
        Randomize(counter ? 123456000u : 123456u); // the 1 MHz counter, or milliseconds
        EXPECT_EQ(drawn, RandomBelow(1u << 30)) << "counter " << counter;
        DoneProgInfo();
    }
}

TEST_F(ProgInfoTest, On64BitWindowsTheRegistryUsesThe64BitView) {
    OnWindows7(os::PROCESSOR_ARCHITECTURE_AMD64);
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kUninstallEntry, "UninstallString", "native");
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kWowUninstallEntry, "UninstallString", "wow");
    InitProgInfo();
    EXPECT_TRUE(IsWin64);
    EXPECT_EQ(Reg().Access(), 0xF013Fu);
    EXPECT_EQ(Reg().RootKey(), os::HKEY_CURRENT_USER);
    EXPECT_FALSE(Reg().HasCurrentKey());
    Reg().SetRootKey(os::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(Reg().OpenKey(kUninstallEntry, false));
    EXPECT_EQ(Reg().ReadString("UninstallString"), "native");
    Reg().CloseKey();
}

TEST_F(ProgInfoTest, WhenNotIsWin64TheRegistryIsRedirected) {
    OnXpX64(); // "Professional x64": no " 64" in the text
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kUninstallEntry, "UninstallString", "native");
    sim::SetRegString(os::HKEY_LOCAL_MACHINE, kWowUninstallEntry, "UninstallString", "wow");
    InitProgInfo();
    EXPECT_FALSE(IsWin64);
    EXPECT_EQ(Reg().Access(), 0xF003Fu);
    Reg().SetRootKey(os::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(Reg().OpenKey(kUninstallEntry, false));
    EXPECT_EQ(Reg().ReadString("UninstallString"), "wow");
}

TEST_F(ProgInfoTest, ThirtyTwoBitWindowsGetsThePlainMask) {
    OnWindows7(os::PROCESSOR_ARCHITECTURE_INTEL);
    InitProgInfo();
    EXPECT_EQ(Reg().Access(), 0xF003Fu);
}

TEST_F(ProgInfoTest, UnknownVersionGivesThePlainMask) {
    sim::Version version;
    version.anyQuery = false;
    sim::SetVersion(version);
    InitProgInfo();
    EXPECT_EQ(Reg().Access(), 0xF003Fu);
}

TEST_F(ProgInfoTest, DoneReleasesTheRegistryAndClearsTheTexts) {
    Start();
    Ctx.HostFolder = "C:\\Zelm\\";
    OpenProgKey();
    ASSERT_EQ(sim::OpenKeys(), 1);
    DoneProgInfo();
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(Ctx.ProgRegistry, nullptr);
    EXPECT_EQ(Ctx.HostFolder, "");
    EXPECT_EQ(Ctx.ProgName, "");
    EXPECT_EQ(Ctx.LocalCaption, "");
}

// ---- Registry accessor ----

TEST_F(ProgInfoTest, OpenKeyRelativeAbsoluteAndCreating) {
    Start();
    EXPECT_FALSE(Reg().OpenKey("Software\\Missing", false));
    EXPECT_FALSE(sim::RegKeyExists(os::HKEY_CURRENT_USER, "Software\\Missing"));
    ASSERT_TRUE(Reg().OpenKey("Software", true));
    ASSERT_TRUE(Reg().OpenKey("Orvek", true)); // below the current key
    EXPECT_EQ(Reg().CurrentPath(), "Software\\Orvek");
    EXPECT_TRUE(sim::RegKeyExists(os::HKEY_CURRENT_USER, "Software\\Orvek"));
    EXPECT_FALSE(Reg().OpenKey("Nothing", false)); // a failed open keeps the current key
    EXPECT_EQ(Reg().CurrentPath(), "Software\\Orvek");
    ASSERT_TRUE(Reg().OpenKey("\\Software", false)); // a leading backslash starts at the root
    EXPECT_EQ(Reg().CurrentPath(), "Software");
    EXPECT_EQ(sim::OpenKeys(), 1);
    Reg().CloseKey();
    EXPECT_FALSE(Reg().HasCurrentKey());
    EXPECT_EQ(Reg().CurrentPath(), "");
    EXPECT_EQ(sim::OpenKeys(), 0);
}

TEST_F(ProgInfoTest, ChangingTheRootClosesTheKeySettingTheSameKeepsIt) {
    Start();
    ASSERT_TRUE(Reg().OpenKey("Software", true));
    Reg().SetRootKey(os::HKEY_CURRENT_USER);
    EXPECT_TRUE(Reg().HasCurrentKey());
    Reg().SetRootKey(os::HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(Reg().HasCurrentKey());
    EXPECT_EQ(sim::OpenKeys(), 0);
}

TEST_F(ProgInfoTest, ReadStringTakesTextsAndCutsAtTheFirstZero) {
    Start();
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "Plain", "C:\\Zelm");
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "Expand", "%ProgramFiles%\\Zelm",
                      os::REG_EXPAND_SZ);
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "Empty", "");
    sim::SetRegRaw(os::HKEY_CURRENT_USER, kProgKey, "Unterminated", os::REG_SZ, "abc");
    sim::SetRegRaw(os::HKEY_CURRENT_USER, kProgKey, "Inner", os::REG_SZ, std::string("ab\0cd", 5));
    sim::SetRegRaw(os::HKEY_CURRENT_USER, kProgKey, "NoData", os::REG_DWORD, "");
    ASSERT_TRUE(Reg().OpenKey(kProgKey, false));
    EXPECT_EQ(Reg().ReadString("Plain"), "C:\\Zelm");
    EXPECT_EQ(Reg().ReadString("Expand"), "%ProgramFiles%\\Zelm"); // not expanded
    EXPECT_EQ(Reg().ReadString("Empty"), "");
    EXPECT_EQ(Reg().ReadString("Unterminated"), "abc");
    EXPECT_EQ(Reg().ReadString("Inner"), "ab");
    EXPECT_EQ(Reg().ReadString("NoData"), "");
    EXPECT_EQ(Reg().ReadString("Missing"), "");
    EXPECT_TRUE(Reg().ValueExists("Empty"));
    EXPECT_FALSE(Reg().ValueExists("Missing"));
    Reg().CloseKey();
    EXPECT_FALSE(Reg().ValueExists("Plain"));
    EXPECT_EQ(Reg().ReadString("Plain"), "");
}

void ExpectRegistryError(const std::function<void()>& action, const std::string& text) {
    try {
        action();
        ADD_FAILURE() << "no error for: " << text;
    } catch (const RegistryError& error) {
        EXPECT_EQ(std::string(error.what()), text);
    }
}

TEST_F(ProgInfoTest, ReadStringRaisesForOtherTypesAndFailedReads) {
    Start();
    sim::SetRegDword(os::HKEY_CURRENT_USER, kProgKey, "Count", 5);
    sim::SetRegRaw(os::HKEY_CURRENT_USER, kProgKey, "Blob", os::REG_BINARY, "C:\\");
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", "english.lng");
    ASSERT_TRUE(Reg().OpenKey(kProgKey, false));
    ExpectRegistryError([] { Reg().ReadString("Count"); }, "Invalid data type for 'Count'");
    ExpectRegistryError([] { Reg().ReadString("Blob"); }, "Invalid data type for 'Blob'");
    // The size is asked first, then the data: either query failing is a failed read.
    for (int query : {1, 2}) {
        SCOPED_TRACE(query == 1 ? "size query" : "data query");
        sim::FailCall(sim::Call::RegQueryValueEx,
                      sim::CallCount(sim::Call::RegQueryValueEx) + query, os::ERROR_ACCESS_DENIED);
        ExpectRegistryError([] { Reg().ReadString("LangFile"); },
                            "Failed to get data for 'LangFile'");
    }
    EXPECT_EQ(Reg().ReadString("LangFile"), "english.lng");
    // Only a value that is not there reads as empty.
    sim::FailCall(sim::Call::RegQueryValueEx, sim::CallCount(sim::Call::RegQueryValueEx) + 1,
                  os::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Reg().ReadString("LangFile"), "");
}

TEST_F(ProgInfoTest, WriteIntegerStoresFourBytesOrRaises) {
    Start();
    ASSERT_TRUE(Reg().OpenKey(kProgKey, true));
    Reg().WriteInteger("EstimatedSize", -2);
    const std::optional<sim::RegValue> stored =
        sim::GetRegValue(os::HKEY_CURRENT_USER, kProgKey, "EstimatedSize");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, os::REG_DWORD);
    EXPECT_EQ(stored->data, std::string("\xFE\xFF\xFF\xFF", 4));
    Reg().WriteInteger("EstimatedSize", 0x01020304);
    EXPECT_EQ(sim::GetRegDword(os::HKEY_CURRENT_USER, kProgKey, "EstimatedSize"), 0x01020304u);

    sim::DenyReg(os::HKEY_CURRENT_USER, kProgKey, sim::RegOp::Set);
    ExpectRegistryError([] { Reg().WriteInteger("EstimatedSize", 1); },
                        "Failed to set data for 'EstimatedSize'");
    Reg().CloseKey();
    ExpectRegistryError([] { Reg().WriteInteger("EstimatedSize", 1); },
                        "Failed to set data for 'EstimatedSize'");
}

// ---- The program's own key ----

TEST_F(ProgInfoTest, OpenProgKeyCreatesTheKeyThenOpensIt) {
    Start();
    OpenProgKey();
    EXPECT_TRUE(Reg().HasCurrentKey());
    EXPECT_TRUE(sim::RegKeyExists(os::HKEY_CURRENT_USER, kProgKey));
    EXPECT_EQ(Reg().CurrentPath(), kProgKey);
    Reg().CloseKey();
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", "D:\\Zelm");
    OpenProgKey();
    EXPECT_EQ(Reg().ReadString("TheLastRunFolder"), "D:\\Zelm");
    Reg().CloseKey();
}

TEST_F(ProgInfoTest, OpenProgKeyReturnsToTheUserHive) {
    Start();
    Reg().SetRootKey(os::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(Reg().OpenKey("Software", true));
    OpenProgKey();
    EXPECT_EQ(Reg().RootKey(), os::HKEY_CURRENT_USER);
    EXPECT_EQ(Reg().CurrentPath(), kProgKey);
    Reg().CloseKey();
}

TEST_F(ProgInfoTest, OpenProgKeyWithAUserKeyStillOpenGoesBelowIt) {
    Start();
    ASSERT_TRUE(Reg().OpenKey("Software", true));
    OpenProgKey();
    EXPECT_EQ(Reg().CurrentPath(), "Software\\" + kProgKey);
    Reg().CloseKey();
}

TEST_F(ProgInfoTest, OpenProgKeyFailsQuietly) {
    Start();
    sim::DenyReg(os::HKEY_CURRENT_USER, "Software\\Orvek", sim::RegOp::Create);
    sim::DenyReg(os::HKEY_CURRENT_USER, "Software\\Orvek", sim::RegOp::Open);
    EXPECT_NO_THROW(OpenProgKey());
    EXPECT_FALSE(Reg().HasCurrentKey());
    EXPECT_FALSE(Reg().ValueExists("TheLastRunFolder"));
}

// ---- Windows-1251 texts ----

TEST_F(ProgInfoTest, Cp1251CoversTheRussianAlphabet) {
    EXPECT_EQ(Cp1251("АБЯабя"), "\xC0\xC1\xDF\xE0\xE1\xFF");
    EXPECT_EQ(Cp1251("Ёё№"), "\xA8\xB8\xB9");
    EXPECT_EQ(Cp1251("Нет доступа к системному реестру"),
              "\xCD\xE5\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xEA \xF1\xE8\xF1\xF2\xE5\xEC\xED\xEE"
              "\xEC\xF3 \xF0\xE5\xE5\xF1\xF2\xF0\xF3");
    EXPECT_EQ(Cp1251("\"Zelm\"!\r\n"), "\"Zelm\"!\r\n");
}

TEST_F(ProgInfoTest, Cp1251MarksWhatItCannotConvert) {
    EXPECT_EQ(Cp1251("€"), "?");
    EXPECT_EQ(Cp1251("a\xC3"), "a?");      // a sequence cut short by the end
    EXPECT_EQ(Cp1251("\xE2\x82z"), "??z"); // a three-byte sequence cut short
    EXPECT_EQ(Cp1251("\x80x"), "?x");      // a lone continuation byte
}

} // namespace
