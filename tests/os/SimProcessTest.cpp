#include "SimFixture.h"

#include <string>

using namespace os;

namespace {

constexpr const char* kFolder = "C:\\Program Files\\Zelm\\";
constexpr const char* kBank = "C:\\Program Files\\Zelm\\zorv.3bs";

// The probe the updater makes: does a mapping of that name exist already?
bool MappingExists(const char* name) {
    const ScopedFileHandle mapping(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, name));
    return mapping.valid() && GetLastError() == ERROR_ALREADY_EXISTS;
}

bool OpensExclusively(const char* path) {
    const ScopedFileHandle file(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid();
}

class HostTest : public SimTest {
protected:
    void StartHostWithBank(DWORD releaseDelayMs, bool neverReleases = false) {
        sim::PutFile(kBank, "bank");
        sim::HostOptions options;
        options.folder = kFolder;
        options.releaseDelayMs = releaseDelayMs;
        options.neverReleases = neverReleases;
        sim::StartHost(options);
    }
};

TEST_F(HostTest, MappingExistsWhileTheHostRunsAndGoesWhenItQuits) {
    EXPECT_FALSE(MappingExists("zelm_memfile"));
    StartHostWithBank(0);
    EXPECT_TRUE(MappingExists("ZELM_MEMFILE"));
    const HWND window = FindWindowA("tzelmmainform", nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(PostMessageA(window, WM_QUIT, 0, 0));
    EXPECT_EQ(sim::QuitMessagesToHost(), 1);
    EXPECT_FALSE(MappingExists("zelm_memfile"));
    EXPECT_EQ(FindWindowA("TZelmMainForm", nullptr), nullptr);
    EXPECT_FALSE(sim::HostRunning());
    EXPECT_FALSE(PostMessageA(window, WM_QUIT, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(HostTest, OurHandleKeepsTheMappingAliveAfterTheHostQuits) {
    StartHostWithBank(0);
    ScopedFileHandle ours(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "zelm_memfile"));
    ASSERT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(PostMessageA(FindWindowA("TZelmMainForm", nullptr), WM_QUIT, 0, 0));
    EXPECT_TRUE(MappingExists("zelm_memfile"));
    ours.reset();
    EXPECT_FALSE(MappingExists("zelm_memfile"));
}

TEST_F(HostTest, OwnMappingVanishesWithItsLastHandle) {
    ScopedFileHandle first(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, "mine"));
    EXPECT_EQ(GetLastError(), NO_ERROR);
    EXPECT_TRUE(MappingExists("mine"));
    first.reset();
    EXPECT_FALSE(MappingExists("mine"));
    sim::AddNamedMapping("theirs");
    EXPECT_TRUE(MappingExists("theirs"));
}

TEST_F(HostTest, HeldBankIsReleasedOnlyAfterTheDelay) {
    StartHostWithBank(1000);
    EXPECT_FALSE(OpensExclusively(kBank));
    EXPECT_TRUE(PostMessageA(FindWindowA("TZelmMainForm", nullptr), WM_QUIT, 0, 0));
    EXPECT_FALSE(OpensExclusively(kBank));
    Sleep(999);
    EXPECT_FALSE(OpensExclusively(kBank));
    EXPECT_TRUE(sim::HostRunning());
    Sleep(1);
    EXPECT_TRUE(OpensExclusively(kBank));
    EXPECT_FALSE(sim::HostRunning());
}

TEST_F(HostTest, HostSharesItsBankWithReadersOnly) {
    StartHostWithBank(0);
    EXPECT_FALSE(OpensExclusively(kBank));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(ScopedFileHandle(CreateFileA(kBank, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr))
                    .valid());
    EXPECT_FALSE(ScopedFileHandle(CreateFileA(kBank, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr))
                     .valid());
}

TEST_F(HostTest, HostThatNeverReleasesKeepsEverything) {
    StartHostWithBank(0, true);
    EXPECT_TRUE(PostMessageA(FindWindowA("TZelmMainForm", nullptr), WM_QUIT, 0, 0));
    Sleep(100000);
    EXPECT_TRUE(MappingExists("zelm_memfile"));
    EXPECT_FALSE(OpensExclusively(kBank));
    EXPECT_NE(FindWindowA("TZelmMainForm", nullptr), nullptr);
}

TEST_F(HostTest, HostWithoutWindowHasOnlyItsMapping) {
    sim::HostOptions options;
    options.folder = kFolder;
    options.hasWindow = false;
    sim::StartHost(options);
    EXPECT_TRUE(MappingExists("zelm_memfile"));
    EXPECT_EQ(FindWindowA("TZelmMainForm", nullptr), nullptr);
}

TEST_F(HostTest, QuitToNoWindowReachesOurOwnThread) {
    EXPECT_TRUE(PostMessageA(nullptr, WM_QUIT, 0, 0));
    EXPECT_EQ(sim::QuitMessagesToOwnThread(), 1);
    EXPECT_EQ(sim::QuitMessagesToHost(), 0);
}

using ProcessTest = SimTest;

PROCESS_INFORMATION RunCommand(std::string commandLine, const char* folder = nullptr,
                               BOOL* started = nullptr) {
    STARTUPINFOA startup{};
    startup.cb = 68;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    const BOOL ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, 0,
                                   CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, folder,
                                   &startup, &process);
    if (started != nullptr) {
        *started = ok;
    }
    return process;
}

TEST_F(ProcessTest, VerWritesItsOutputIntoTheRedirectedFile) {
    sim::SetVerOutput("\r\nWindows [Version 6.3.9600]\r\n");
    const auto process = RunCommand(
        "C:\\Windows\\system32\\cmd.exe /c ver > \"C:\\Users\\user\\AppData\\Local\\Temp\\abc\"");
    ASSERT_NE(process.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(process.hProcess));
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_EQ(sim::GetFile("C:\\Users\\user\\AppData\\Local\\Temp\\abc"),
              "\r\nWindows [Version 6.3.9600]\r\n");
    ASSERT_EQ(sim::StartedProcesses().size(), 1U);
    const auto& record = sim::StartedProcesses().front();
    EXPECT_EQ(record.creationFlags, CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP);
    EXPECT_EQ(record.startupFlags, STARTF_USESHOWWINDOW);
    EXPECT_EQ(record.showWindow, SW_HIDE);
    EXPECT_FALSE(record.inheritHandles);
}

TEST_F(ProcessTest, RelativeOutputFileLandsInTheCurrentFolder) {
    const auto process = RunCommand("C:\\Windows\\system32\\cmd.exe /c ver > \"out\"");
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(sim::GetFile("C:\\Users\\user\\Downloads\\out"),
              "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
}

TEST_F(ProcessTest, MissingInterpreterCannotStart) {
    sim::SetVerOutput(std::nullopt);
    BOOL started = 1;
    RunCommand("C:\\Windows\\system32\\cmd.exe /c ver > \"out\"", nullptr, &started);
    EXPECT_FALSE(started);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(sim::FileExists("C:\\Users\\user\\Downloads\\out"));
}

TEST_F(ProcessTest, FaultsMatchTheCommandLineOrEveryCall) {
    sim::FailCallsOn(sim::Call::CreateProcess, "NOTEPAD", ERROR_ACCESS_DENIED);
    sim::FailCallsOn(sim::Call::WaitForSingleObject, "", ERROR_INVALID_HANDLE);
    BOOL started = 1;
    RunCommand("notepad.exe readme", nullptr, &started);
    EXPECT_FALSE(started);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const auto process = RunCommand("other.exe", nullptr, &started);
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(sim::StartedProcesses().size(), 1U);
}

TEST_F(ProcessTest, ShellExecuteIsRecordedWithTheCurrentFolder) {
    sim::MakeFolder(kFolder);
    ASSERT_TRUE(SetCurrentDirectoryA(kFolder));
    const HINSTANCE result =
        ShellExecuteA(nullptr, "open", "C:\\Program Files\\Zelm\\Zelm.exe", "", "", SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(result), 32U);
    ASSERT_EQ(sim::ShellExecutes().size(), 1U);
    EXPECT_EQ(sim::ShellExecutes()[0].operation, "open");
    EXPECT_EQ(sim::ShellExecutes()[0].currentDirectory, kFolder);
}

using BoxTest = SimTest;

TEST_F(BoxTest, BoxesAreRecordedAndAnsweredFromTheScript) {
    sim::AnswerBoxes({IDYES});
    EXPECT_EQ(MessageBoxExA(nullptr, "question", "caption", 0x00042024, 0x0019), IDYES);
    EXPECT_EQ(MessageBoxExA(nullptr, "again", "caption", MB_YESNO, 0x0409), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "error", "caption", 0x00200010), IDOK);
    ASSERT_EQ(sim::Boxes().size(), 3U);
    const sim::Box& first = sim::Boxes()[0];
    EXPECT_TRUE(first.extended);
    EXPECT_FALSE(first.hasOwner);
    EXPECT_EQ(first.text, "question");
    EXPECT_EQ(first.style, 0x00042024U);
    EXPECT_EQ(first.languageId, 0x0019);
    EXPECT_FALSE(sim::Boxes()[2].extended);
}

using ClockTest = SimTest;

TEST_F(ClockTest, SleepAdvancesTheVirtualClock) {
    EXPECT_EQ(GetTickCount(), 0U);
    Sleep(256);
    Sleep(256);
    EXPECT_EQ(GetTickCount(), 512U);
    EXPECT_EQ(sim::Now(), 512U);
    LONGLONG counter = 0;
    ASSERT_TRUE(QueryPerformanceCounter(&counter));
    EXPECT_EQ(counter, 512000);
    sim::SetQueryPerformanceCounterAvailable(false);
    counter = 5;
    EXPECT_FALSE(QueryPerformanceCounter(&counter));
    EXPECT_EQ(counter, 5);
}

} // namespace
