#include "SimFixture.h"

#include <cstring>
#include <string>
#include <vector>

using namespace os;

namespace {

using SystemTest = SimTest;

TEST_F(SystemTest, OemToCharConvertsCp866ToCp1251InPlace) {
    // "Привет Ёё №" in CP866, then box drawing: ─ │ ┼ └ ╔ ═ ░.
    char text[] = "\x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xF1 \xFC \xC4\xB3\xC5\xC0\xC9\xCD\xB0";
    ASSERT_TRUE(OemToCharBuffA(text, text, static_cast<DWORD>(std::strlen(text))));
    EXPECT_EQ(std::string(text), "\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8 \xB9 -\xA6+L\xE3=-");
}

TEST_F(SystemTest, OemToCharMapsBothAlphabetsCompletely) {
    std::string oem;
    for (int c = 0x80; c <= 0xAF; ++c) {
        oem += static_cast<char>(c);
    }
    for (int c = 0xE0; c <= 0xEF; ++c) {
        oem += static_cast<char>(c);
    }
    std::string ansi(oem.size(), '\0');
    ASSERT_TRUE(OemToCharBuffA(oem.data(), ansi.data(), static_cast<DWORD>(oem.size())));
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned char>(ansi[i]), 0xC0 + i) << i;
    }
}

TEST_F(SystemTest, EnvironmentFollowsWindowsReturnRules) {
    sim::SetEnv("ComSpec", std::string("C:\\cmd.exe"));
    char buffer[11];
    EXPECT_EQ(GetEnvironmentVariableA("COMSPEC", buffer, 11), 10U);
    EXPECT_STREQ(buffer, "C:\\cmd.exe");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetEnvironmentVariableA("comspec", buffer, 10), 11U);
    EXPECT_EQ(buffer[0], 'x');
    sim::SetEnv("Temp", std::nullopt);
    EXPECT_EQ(GetEnvironmentVariableA("Temp", buffer, 11), 0U);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(SystemTest, VersionQueriesHonourTheRecordSize) {
    sim::Version version;
    version.csd = "Service Pack 1";
    sim::SetVersion(version);
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = kOsVersionInfoExSize;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwMajorVersion, 6U);
    EXPECT_EQ(info.dwMinorVersion, 2U);
    EXPECT_STREQ(info.szCSDVersion, "Service Pack 1");
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);

    OSVERSIONINFOEXA plain{};
    plain.dwOSVersionInfoSize = kOsVersionInfoSize;
    plain.wSuiteMask = 0xBEEF;
    ASSERT_TRUE(GetVersionExA(&plain));
    EXPECT_EQ(plain.wSuiteMask, 0xBEEF); // beyond the plain record: not written

    version.extendedQuery = false;
    sim::SetVersion(version);
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(GetVersionExA(&plain));
    version.anyQuery = false;
    sim::SetVersion(version);
    EXPECT_FALSE(GetVersionExA(&plain));
}

TEST_F(SystemTest, ThirtyTwoBitProcessSeesIntelButNativeInfoSeesTheMachine) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);

    const HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    ASSERT_NE(kernel, nullptr);
    const auto native =
        reinterpret_cast<GetNativeSystemInfoFn>(GetProcAddress(kernel, "GetNativeSystemInfo"));
    ASSERT_NE(native, nullptr);
    native(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);

    sim::Version version;
    version.nativeSystemInfo = false;
    sim::SetVersion(version);
    EXPECT_EQ(GetProcAddress(kernel, "GetNativeSystemInfo"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(SystemTest, SetDefaultDllDirectoriesIsRecorded) {
    const auto setDefault =
        Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    ASSERT_NE(setDefault, nullptr);
    EXPECT_TRUE(setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32));
    EXPECT_TRUE(SetDllDirectoryA(""));
    EXPECT_TRUE(sim::DllSearchState().defaultDirectoriesSet);
    EXPECT_EQ(sim::DllSearchState().defaultDirectoriesFlags, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_TRUE(sim::DllSearchState().dllDirectoryCleared);

    sim::SetDllSearchFunctions(false);
    EXPECT_EQ(Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"), nullptr);
}

TEST_F(SystemTest, CallLogKeepsEveryCallInOrderWithWhatItWorkedOn) {
    sim::PutFile("C:\\Zelm\\a.txt", "a");
    {
        const ScopedFileHandle file(
            CreateFileA("c:\\Zelm\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    Sleep(5);
    MessageBoxA(nullptr, "text", "Caption", MB_OK);
    std::vector<std::string> log;
    for (const sim::LoggedCall& call : sim::CallLog()) {
        log.push_back(call.function + " " + call.subject);
    }
    EXPECT_EQ(
        log, (std::vector<std::string>{"CreateFileA C:\\Zelm\\a.txt", "CloseHandle C:\\Zelm\\a.txt",
                                       "Sleep 5", "MessageBoxA Caption"}));
    EXPECT_EQ(sim::FirstCall("MessageBoxA"), 3);
    EXPECT_EQ(sim::FirstCall("CloseHandle", "A.TXT"), 1);
    EXPECT_EQ(sim::FirstCall("CreateFileA", "b.txt"), -1);
    sim::Reset();
    EXPECT_TRUE(sim::CallLog().empty());
}

TEST_F(SystemTest, ModuleFileNameTruncatesLikeWindows) {
    sim::SetOwnModulePath("C:\\x\\u.exe");
    char name[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, MAX_PATH), 10U);
    EXPECT_STREQ(name, "C:\\x\\u.exe");
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, 5), 5U);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(name, "C:\\x");
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, 10), 10U); // no room for the zero
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SystemTest, ResourcesAreFoundByTypeAndNameWithoutCase) {
    sim::AddResource("3BS", "ZORV", "bank bytes");
    const HRSRC found = FindResourceA(nullptr, "zorv", "3bs");
    ASSERT_NE(found, nullptr);
    const ScopedResource loaded(LoadResource(nullptr, found));
    ASSERT_TRUE(loaded.valid());
    const void* data = LockResource(loaded.get());
    ASSERT_EQ(SizeofResource(nullptr, found), 10U);
    EXPECT_EQ(std::string(static_cast<const char*>(data), 10), "bank bytes");

    EXPECT_EQ(FindResourceA(nullptr, "OTHER", "3BS"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceA(nullptr, "ZORV", "WAV"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

TEST_F(SystemTest, ResetRestoresTheDefaults) {
    sim::SetUserLocale(0x0419);
    sim::SetAdmin(false);
    sim::SetSystemMetric(SM_SERVERR2, 1);
    sim::SetCommandLine("x.exe modest");
    sim::Reset();
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409U);
    EXPECT_TRUE(IsAdministrator());
    EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 0);
    EXPECT_STREQ(GetCommandLineA(), "\"C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe\"");
    char temp[MAX_PATH];
    EXPECT_GT(GetEnvironmentVariableA("Temp", temp, MAX_PATH), 0U);
    EXPECT_EQ(GetFileAttributesA(temp), FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace
