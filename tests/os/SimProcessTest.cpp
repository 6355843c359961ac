#include "SimFixture.h"

#include <string>
#include <vector>

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

PROCESS_INFORMATION RunCommand(std::string commandLine, BOOL* started = nullptr) {
    STARTUPINFOA startup{};
    startup.cb = 68;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    const BOOL ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, 0,
                                   CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                                   &startup, &process);
    if (started != nullptr) {
        *started = ok;
    }
    return process;
}

// cmd's output reaches the pipe only as an inherited standard output; a handle list may name only
// inheritable handles, and the read ends once no write end is left open.
TEST_F(ProcessTest, VerReachesAPipeOnlyThroughAnInheritedStandardOutput) {
    const struct {
        const char* what;
        bool inheritablePipe;
        BOOL inheritHandles;
        bool listsWriteEnd; // else the list names the read end
        bool starts;
        const char* output;
    } cases[] = {
        {"write end inherited through the list", true, 1, true, true, "Windows 6.3\r\n"},
        {"no inheritance", true, 0, true, true, ""},
        {"the list names the read end", true, 1, false, true, ""},
        {"a listed handle not inheritable", false, 1, true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        sim::SetVerOutput("Windows 6.3\r\n");
        SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr,
                                       c.inheritablePipe ? 1 : 0};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &attributes, 0));
        std::size_t size = 0;
        EXPECT_FALSE(InitializeProcThreadAttributeList(nullptr, 1, 0, &size));
        std::vector<void*> list(size);
        ASSERT_TRUE(InitializeProcThreadAttributeList(list.data(), 1, 0, &size));
        HANDLE listed[] = {c.listsWriteEnd ? writeEnd : readEnd};
        ASSERT_TRUE(UpdateProcThreadAttribute(list.data(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                              listed, sizeof listed, nullptr, nullptr));
        STARTUPINFOEXA startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = writeEnd;
        startup.lpAttributeList = list.data();
        std::string line = "cmd.exe /d /c ver";
        PROCESS_INFORMATION process{};
        EXPECT_EQ(CreateProcessA("C:\\Windows\\system32\\cmd.exe", line.data(), nullptr, nullptr,
                                 c.inheritHandles, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startup.StartupInfo, &process) != 0,
                  c.starts);
        DeleteProcThreadAttributeList(list.data());
        EXPECT_TRUE(CloseHandle(writeEnd));
        std::string output(64, '\0');
        DWORD got = 0;
        if (ReadFile(readEnd, output.data(), 64, &got, nullptr)) {
            output.resize(got);
            EXPECT_FALSE(ReadFile(readEnd, output.data(), 64, &got, nullptr));
        } else {
            output.clear();
        }
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
        EXPECT_TRUE(CloseHandle(readEnd));
        if (c.starts) {
            EXPECT_TRUE(CloseHandle(process.hProcess));
            EXPECT_TRUE(CloseHandle(process.hThread));
        }
        EXPECT_EQ(sim::OpenHandles(), 0);
    }
}

TEST_F(ProcessTest, MissingInterpreterCannotStart) {
    sim::SetVerOutput(std::nullopt);
    BOOL started = 1;
    RunCommand("C:\\Windows\\system32\\cmd.exe /d /c ver", &started);
    EXPECT_FALSE(started);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ProcessTest, FaultsMatchTheCommandLineOrEveryCall) {
    sim::FailCallsOn(sim::Call::CreateProcess, "NOTEPAD", ERROR_ACCESS_DENIED);
    sim::FailCallsOn(sim::Call::WaitForSingleObject, "", ERROR_INVALID_HANDLE);
    BOOL started = 1;
    RunCommand("notepad.exe readme", &started);
    EXPECT_FALSE(started);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const auto process = RunCommand("other.exe", &started);
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
