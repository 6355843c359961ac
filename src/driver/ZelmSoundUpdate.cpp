#include "driver/ZelmSoundUpdate.h"

#include "base/BriefLock.h"
#include "base/PathTools.h"
#include "context/HostInterface.h"
#include "context/ProgInfo.h"
#include "driver/HostDiscovery.h"
#include "install/SelfCheck.h"
#include "install/SetupRim.h"
#include "lang/LangUnit.h"
#include "os/os.h"

#include <cstdint>
#include <exception>
#include <string>

namespace {

// The version of the sound bank this updater carries; the build checks it against the byte at
// offset 5 of res/zorv.3bs.
constexpr std::int32_t kBankVersion = 5;

// A host that was just told to quit gets about 4.4 seconds to release its sound bank, the same
// budget as a scanner's brief hold.
constexpr int kOpenAttempts = kBriefLockAttempts;
constexpr os::DWORD kOpenRetryMs = kBriefLockRetryMs;

constexpr os::UINT kQuestionStyle =
    os::MB_YESNO | os::MB_ICONQUESTION | os::MB_TASKMODAL | os::MB_TOPMOST;

bool Ask(const std::string& text, const std::string& caption) {
    return os::MessageBoxExA(nullptr, text.c_str(), caption.c_str(), kQuestionStyle,
                             BoxLanguage()) == os::IDYES;
}

bool FileExists(const std::string& path) {
    const os::DWORD attributes = os::GetFileAttributesA(path.c_str());
    return attributes != os::INVALID_FILE_ATTRIBUTES &&
           (attributes & os::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SetUpdateNames() {
    const std::string::size_type dot = Ctx.SoundBankFileName.rfind('.');
    Ctx.SoundBankExt = dot == std::string::npos ? std::string() : Ctx.SoundBankFileName.substr(dot);
    Ctx.BankVersionText = std::to_string(Ctx.BankVersion);
    Ctx.ProgName = host::ProgName;
    Ctx.LocalCaption = Cp1251("Обновление программы \"Зелм\"");
    Ctx.EnglishCaption = "Zelm update";
}

// The host's own record of where it runs from outranks its uninstall entry.
void ApplyLastRunFolder() {
    OpenProgKey();
    const CurrentKeyScope scope(*Ctx.ProgRegistry);
    if (Ctx.ProgRegistry->ValueExists(host::LastRunFolderValue)) {
        Ctx.HostFolder = Ctx.ProgRegistry->ReadString(host::LastRunFolderValue);
        AddBackslash(Ctx.HostFolder);
    }
}

bool HostInstalled() {
    if (FileExists(Ctx.HostFolder + host::ExeFileName)) {
        return true;
    }
    ShowBilingualError("There's no Zelm installed.\r\nPlease install the program first.",
                       Cp1251("Нет установленной программы \"Зелм\"!\r\n"
                              "Пожалуйста, сначала установите её."));
    return false;
}

// A null window would post the quit to our own thread and close the next message boxes at once.
void AskHostToQuit() {
    const os::HWND window = os::FindWindowA(host::MainWindowClass, nullptr);
    if (window != nullptr) {
        os::PostMessageA(window, os::WM_QUIT, 0, 0);
    }
}

// Opens the file for reading with no sharing, retrying while another process holds it.
os::ScopedFileHandle OpenExclusively(const std::string& path) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        os::ScopedFileHandle file(os::CreateFileA(path.c_str(), os::GENERIC_READ, 0, nullptr,
                                                  os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
        if (file) {
            return file;
        }
        os::Sleep(kOpenRetryMs);
    }
    return os::ScopedFileHandle();
}

// False ends the update: the installed bank stays locked, or the user keeps a newer one.
bool AcceptInstalledVersion(const std::string& bankPath) {
    std::int32_t installedVersion = 0;
    {
        const os::ScopedFileHandle bank = OpenExclusively(bankPath);
        if (!bank) {
            ShowLangError(FormatLangLongText("filecantopen", {bankPath}));
            return false;
        }
        installedVersion = ReadBankVersion(bank.get());
    }
    if (Ctx.BankVersion >= installedVersion) {
        return true;
    }
    return Ask(FormatLangLongText("olderfilever", {Ctx.SoundBankFileName}),
               GetLangText("soundquest"));
}

std::string ProductVersionText() {
    return GetLangText(Ctx.ProductNameKey) + " " + Ctx.BankVersionText;
}

bool UserWantsInstall() {
    return Ask(
        FormatLangLongText("installask", {GetLangText("liveupdatecaption"), ProductVersionText()}),
        GetLangText("soundquest"));
}

void InstallSoundBank() {
    const std::string& fileName = Ctx.SoundBankFileName;
    const std::string baseName = fileName.substr(0, fileName.find(Ctx.SoundBankExt));
    const std::string ext = Ctx.SoundBankExt.empty() ? std::string() : Ctx.SoundBankExt.substr(1);
    InstallFile(baseName, ext, Ctx.HostFolder + baseName + "." + ext);
}

// Into the entry that gave the host folder; without one, the plain entry is created for it.
void RecordFolderSize() {
    Registry& registry = *Ctx.ProgRegistry;
    registry.SetRootKey(os::HKEY_LOCAL_MACHINE);
    const CurrentKeyScope scope(registry);
    (void)registry.OpenKey(Ctx.HostEntryKey, true); // a failure shows in the write
    const std::int32_t size = FolderSize(Ctx.HostFolder);
    if (size != -1) {
        registry.WriteInteger(host::EstimatedSizeValue, size);
    }
}

bool UserWantsHostStarted() {
    const std::string caption = GetLangText("liveupdatecaption");
    const std::string done =
        FormatLangText("installdone", {caption + " (" + ProductVersionText() + ")"});
    return Ask(done + "\r\n\r\n" + GetLangText("asktorun"), caption);
}

// Elevated, and often started from a Downloads folder, where anyone may have put a DLL. With
// SetDefaultDllDirectories (Windows 8, or 7 and Vista with KB2533623) every later load by name
// searches System32 only. Without it, SetDllDirectoryA("") (itself missing before XP SP1) only
// drops the current folder: the updater's own folder is still searched first for a DLL that
// system code loads by name and that is not a KnownDLL. Our own imports are all KnownDLLs.
void RestrictDllSearch() {
    const auto setDefaultDllDirectories =
        os::Kernel32Function<os::SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(os::LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    os::SetDllDirectoryA("");
}

} // namespace

bool HostNotRunning() {
    const os::ScopedFileHandle mapping(os::CreateFileMappingA(
        os::INVALID_HANDLE_VALUE, nullptr, os::PAGE_READWRITE, 0, 64, host::RunningMapping));
    return os::GetLastError() != os::ERROR_ALREADY_EXISTS;
}

// The elevated half of a split token: UAC raised this process above the signed-in user. Asked of
// the token, never of the version, which a per-user compatibility layer can make lie. Before
// Vista the token knows no such class, and there is no UAC.
bool ElevatedBySplitToken() {
    os::DWORD type = 0;
    return os::GetProcessElevationType(&type) && type == os::TokenElevationTypeFull;
}

// An elevated start from a folder that the user names ("TheLastRunFolder") is what must never
// happen: it would run whatever an unelevated program put there with full rights. So an updater
// elevated by UAC starts the host only through the desktop's shell, as the signed-in user, and
// where that shell is missing or refuses, the host is not started. Without a split token (2000
// and XP, UAC off, the built-in Administrator) the user already has these rights, and
// ShellExecuteA starts it.
void StartHost() {
    const std::string program = Ctx.HostFolder + Ctx.ProgName + ".exe";
    if (ElevatedBySplitToken()) {
        (void)os::DesktopShellExecute(program.c_str(), "", Ctx.HostFolder.c_str(), host::StartVerb,
                                      os::SW_SHOWNORMAL);
        return;
    }
    os::SetCurrentDirectoryA(Ctx.HostFolder.c_str());
    os::ShellExecuteA(nullptr, host::StartVerb, program.c_str(), "", "", os::SW_SHOWNORMAL);
}

void RunUpdate() {
    SetUpdateNames();
    if (!DiscoverHost()) {
        return;
    }
    ApplyLastRunFolder();
    if (!HostInstalled() || !InitLanguages()) {
        return;
    }
    if (!Ctx.IsAdmin) {
        ShowLangError(GetLangLongText("noright"));
        return;
    }
    const bool hostWasRunning = !HostNotRunning();
    if (hostWasRunning) {
        AskHostToQuit();
    }
    if (!VerifyInstaller()) {
        return;
    }
    Ctx.QuietMode = Ctx.FirstParam == "modest";
    const std::string bankPath = Ctx.HostFolder + Ctx.SoundBankFileName;
    if (!Ctx.QuietMode) {
        if (FileExists(bankPath) && !AcceptInstalledVersion(bankPath)) {
            return;
        }
        if (!UserWantsInstall()) {
            return;
        }
    } else if (hostWasRunning && FileExists(bankPath)) {
        // A host updating itself ("modest runapp") is still closing: give it the same time to
        // release the bank as the interactive path does; if it never does, the install reports.
        (void)OpenExclusively(bankPath);
    }
    InstallSoundBank();
    RecordFolderSize();
    if (Ctx.QuietMode) {
        if (AsciiLower(ParamStr(2)) == "runapp") {
            StartHost();
        }
        return;
    }
    if (UserWantsHostStarted()) {
        StartHost();
    }
}

int RunProgram() {
    RestrictDllSearch();
    int exitCode = 0;
    try {
        InitProgInfo();
        Ctx.ProductNameKey = "bellwick";
        Ctx.SoundBankFileName = host::SoundBankFileName;
        Ctx.BankVersion = kBankVersion;
        RunUpdate();
    } catch (const std::exception& error) {
        os::MessageBoxA(nullptr, error.what(), "Application Error", kErrorBoxStyle);
        exitCode = 1;
    }
    DoneLangUnit();
    DoneProgInfo();
    return exitCode;
}
