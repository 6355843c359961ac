// The simulated Windows behind os.h in the Linux build: a test fixture, configured through this
// small API. One process-wide machine; Reset() gives a fresh one.
//
// Paths given here are Windows paths ("C:\\Program Files\\Zelm\\zelm.exe"); files live under a
// temporary folder on the Linux disk, one folder per drive letter, names compared without regard
// to ASCII case as NTFS does. Registry paths are given without the root ("Software\\Orvek\\Zelm")
// and name the key as the 64-bit (native) view sees it.
#pragma once

#include "os/os.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace os::sim {

// A fresh machine: empty registry and disk, Windows 10 x64 workstation reporting 6.2 (no
// manifest), "ver" answering "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n", user locale
// 0x0409, an administrator, ComSpec and Temp set, own module
// "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe", virtual clock at 0, no boxes answered
// yet, no faults.
void Reset();

// ---- Registry ----------------------------------------------------------------------------------

// On a 64-bit machine a key opened without KEY_WOW64_64KEY sees HKLM\Software as
// HKLM\Software\WOW6432Node (the 32-bit view of a 32-bit process); HKCU is shared.
void SetMachine64(bool is64);
void SetRegString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value, DWORD type = REG_SZ);
void SetRegDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
void SetRegRaw(HKEY root, const std::string& path, const std::string& name, DWORD type,
               const std::string& bytes);
void CreateRegKey(HKEY root, const std::string& path);
bool RegKeyExists(HKEY root, const std::string& path);
struct RegValue {
    DWORD type;
    std::string data; // raw bytes as stored
};
std::optional<RegValue> GetRegValue(HKEY root, const std::string& path, const std::string& name);
std::optional<DWORD> GetRegDword(HKEY root, const std::string& path, const std::string& name);

enum class RegOp { Open, Create, Query, Set };
// Every such operation on this key (and below it) fails with ERROR_ACCESS_DENIED. RegCreateKeyExA
// of a key that exists already counts as an Open too.
void DenyReg(HKEY root, const std::string& path, RegOp op);

// ---- Files -------------------------------------------------------------------------------------

std::string HostPath(const std::string& winPath); // the Linux path behind a Windows path
void PutFile(const std::string& winPath, const std::string& bytes); // makes missing folders
std::optional<std::string> GetFile(const std::string& winPath);
bool FileExists(const std::string& winPath); // a file, not a folder
void MakeFolder(const std::string& winPath); // with its parents
void RemoveTree(const std::string& winPath);
// A folder that is a junction (reparse point) to another folder; made anew over an existing one,
// as any program of the user may re-point a junction it owns.
void MakeJunction(const std::string& winPath, const std::string& targetWinPath);
// A junction to an object-manager directory (such as "\\RPC Control") in which each name is a
// symbolic link to a file: opened through the junction, a name opens, deletes or replaces the
// file it links to, while the junction itself opens as no directory at all.
void MakeObjectDirectoryJunction(const std::string& winPath,
                                 const std::vector<std::pair<std::string, std::string>>& links);
// Another process renames a folder; false, with nothing changed, while a handle keeps it in place:
// a handle to it that does not share deleting, or any handle to something below it.
bool RenameFolder(const std::string& winPath, const std::string& newWinPath);
std::vector<std::string> ListFolder(const std::string& winPath); // names, sorted

// Another process holds the file open for reading with this share mode until released; 0 (no
// hold) when the file does not exist.
int HoldFile(const std::string& winPath, DWORD shareMode);
// The same for this long on the virtual clock from now, as a scanner holds a file it looks at;
// then it lets go by itself.
int HoldFileBriefly(const std::string& winPath, DWORD shareMode, DWORD milliseconds);
void ReleaseFile(int holdId);
// As on NTFS: MoveFileExA will not replace a file that any handle or hold keeps open, whatever it
// shares (ERROR_ACCESS_DENIED); an open for attributes only takes no part in sharing; a folder
// opens only with FILE_FLAG_BACKUP_SEMANTICS. GetFileInformationByHandle gives the Linux device
// and inode as volume serial number and file index, so a junction has its target's identity.

// Attributes of a file (FILE_ATTRIBUTE_READONLY, _HIDDEN, _SYSTEM), kept per file as NTFS keeps
// them, so every hard link of it has them. As Windows: write access to a read-only file and
// DeleteFileA of one fail with ERROR_ACCESS_DENIED, and so does CREATE_ALWAYS of a hidden or
// system file without those attributes in its flags.
void SetFileAttributes(const std::string& winPath, DWORD attributes);
// A second name of an existing file (a hard link), and a symbolic link to a file: opening the
// link opens its target, DeleteFileA removes the link's name, never its target, and CREATE_NEW
// fails on any name that exists, a link to nothing included.
void MakeHardLink(const std::string& winPath, const std::string& targetWinPath);
void MakeFileSymlink(const std::string& winPath, const std::string& targetWinPath);
// GetFileInformationByHandle of a path containing `pathPart` (case-insensitive) reports file
// index 0 and this volume serial number, as some network redirectors do.
void ReportNoFileIndex(const std::string& pathPart, DWORD volumeSerialNumber);

// Writes to files whose path contains `pathPart` (case-insensitive; empty for every file) fail
// with ERROR_DISK_FULL once this many bytes have been written through one handle. The write that
// crosses the limit writes up to it and reports that count in *bytesWritten, as a full disk does.
void FailWritesAfter(const std::string& pathPart, std::uint64_t bytes);

// ---- Injected faults ---------------------------------------------------------------------------

enum class Call {
    RegOpenKeyEx,
    RegCreateKeyEx,
    RegQueryValueEx,
    RegSetValueEx,
    RegCloseKey,
    CreateFile,
    ReadFile,
    WriteFile,
    FlushFileBuffers,
    GetFileSize,
    GetFileInformationByHandle,
    CloseHandle,
    DeleteFile,
    MoveFileEx,
    GetFileAttributes,
    FindFirstFile,
    FindNextFile,
    FindClose,
    SetCurrentDirectory,
    GetModuleFileName,
    FindResource,
    LoadResource,
    LockResource,
    SizeofResource,
    CreateFileMapping,
    CreateProcess,
    WaitForSingleObject,
    GetEnvironmentVariable,
    GetVersionEx,
    MessageBox,
    ShellExecute,
    DesktopShellExecute,
    CreatePipe,
    InitializeProcThreadAttributeList,
    UpdateProcThreadAttribute,
    GetFinalPathNameByHandle,
    GetTokenInformation,
    Count
};
// The n-th call (1-based, counted from Reset) of this kind fails with `error` (for calls that
// return a status, that status), touching nothing.
void FailCall(Call call, int nth, DWORD error);
// Every call of this kind whose path or key path contains `pathPart` (case-insensitive) fails; an
// empty `pathPart` fails every call of the kind. Resources match as "TYPE\\NAME", processes by
// their command line, boxes by caption or text, environment variables by name.
void FailCallsOn(Call call, const std::string& pathPart, DWORD error);
int CallCount(Call call);
// Runs `action` when the n-th call (1-based) of this kind is made, before the call does anything:
// what another program does at that moment.
void OnCall(Call call, int nth, std::function<void()> action);

// ---- Call log ----------------------------------------------------------------------------------

// Every os.h call since Reset but GetLastError and SetLastError, in the order made, failed ones
// included: the Win32 name of the function and what it worked on (a path, a key path and value
// name, a module or function name, a box caption, a window class; empty when nothing is named).
struct LoggedCall {
    std::string function;
    std::string subject;
};
const std::vector<LoggedCall>& CallLog();
// The position in the log of the first call of `function` whose subject contains `subjectPart`
// (without regard to ASCII case; empty for any subject), or -1 when there is none.
int FirstCall(const std::string& function, const std::string& subjectPart = "");

// Leak checks: handles still open (files, finds, mappings, processes, threads) and registry keys
// still open (predefined roots never count).
int OpenHandles();
int OpenKeys();

// ---- Message boxes -----------------------------------------------------------------------------

struct Box {
    bool extended; // MessageBoxExA rather than MessageBoxA
    bool hasOwner; // an owner window was passed
    std::string text;
    std::string caption;
    UINT style;
    WORD languageId; // 0 for MessageBoxA
};
const std::vector<Box>& Boxes();
// Answers for the next boxes, in order, replacing what was left of an earlier script. When the
// script runs out, an MB_OK box answers IDOK, a yes/no box IDNO, any other kind IDCANCEL.
void AnswerBoxes(std::vector<int> answers);

// ---- Time --------------------------------------------------------------------------------------

// Sleep advances the virtual clock and never waits; GetTickCount and QueryPerformanceCounter
// (1 MHz) read it.
DWORD Now();
void SetQueryPerformanceCounterAvailable(bool available);

// ---- Processes and windows ---------------------------------------------------------------------

struct HostOptions {
    std::string folder;         // the host's folder, with its trailing backslash
    DWORD releaseDelayMs = 0;   // after WM_QUIT, how long the host keeps its files open
    bool neverReleases = false; // ignores WM_QUIT entirely and keeps running
    bool hasWindow = true;      // shows a "TZelmMainForm" window
};
// A running host: mapping "zelm_memfile", a top-level "TZelmMainForm" window, and folder +
// "zorv.3bs" held open for reading, shared with other readers (when that file exists), as a
// program that only reads its bank holds it. WM_QUIT posted to its window ends it: the window and
// mapping go at once, the file is released after releaseDelayMs.
void StartHost(const HostOptions& options);
bool HostRunning(); // started and not yet ended (it ends when it has released its file)
int QuitMessagesToHost();
int QuitMessagesToOwnThread(); // must stay 0: a WM_QUIT of our own would end the next boxes

// Another process's named mapping, for other names than the host's.
void AddNamedMapping(const std::string& name);

// What "cmd.exe /d /c ver" writes to its standard output, in the OEM code page; nullopt makes the
// command interpreter unstartable (CreateProcessA fails). It reaches a pipe only where the
// child inherits the pipe's write end as its standard output.
void SetVerOutput(std::optional<std::string> oemText);

struct ProcessRecord {
    std::string applicationName;
    std::string commandLine;
    DWORD creationFlags;
    DWORD startupFlags;
    WORD showWindow;
    bool inheritHandles;
    // What each handle the child inherits is ("pipe write end", "file C:\...", ...): with
    // inheritHandles, every inheritable handle, or only those of a
    // PROC_THREAD_ATTRIBUTE_HANDLE_LIST.
    std::vector<std::string> inherited;
    bool stdOutputInherited; // STARTF_USESTDHANDLES and hStdOutput among the inherited handles
};
const std::vector<ProcessRecord>& StartedProcesses();

struct ShellExecuteRecord {
    bool viaDesktop; // DesktopShellExecute rather than ShellExecuteA
    bool hasOwner;
    std::string operation, file, parameters, directory;
    int showCommand;
    std::string currentDirectory; // the process's current folder at the call
};
const std::vector<ShellExecuteRecord>& ShellExecutes(); // both ways, in order
// Whether the desktop's shell runs (Explorer; it does after Reset), which DesktopShellExecute
// needs: without it the call gives S_FALSE and starts nothing.
void SetDesktopShell(bool running);
std::string CurrentDirectory();

// ---- System ------------------------------------------------------------------------------------

struct Version {
    DWORD major = 6, minor = 2, build = 9200, platform = VER_PLATFORM_WIN32_NT;
    std::string csd; // service-pack text
    WORD suiteMask = 0x100;
    BYTE productType = VER_NT_WORKSTATION;
    bool extendedQuery = true;    // false: the 156-byte query fails (before NT 4 SP6)
    bool anyQuery = true;         // false: both queries fail
    bool nativeSystemInfo = true; // kernel32 exports GetNativeSystemInfo
    // kernel32 exports GetFinalPathNameByHandleW and the process-thread attribute lists (Vista on)
    bool vistaFunctions = true;
};
// Also sets the token's elevation type as such a Windows has it: none before Vista, else
// TokenElevationTypeFull (the updater runs elevated through UAC).
void SetVersion(const Version& version);
// The token's elevation type; nullopt: GetTokenInformation knows no TokenElevationType.
void SetElevationType(std::optional<DWORD> elevationType);
// The machine's processor architecture (GetNativeSystemInfo); GetSystemInfo of a 32-bit process
// on a 64-bit machine reports PROCESSOR_ARCHITECTURE_INTEL.
void SetArchitecture(WORD architecture);
void SetSystemMetric(int index, int value);
void SetUserLocale(LCID lcid);
void SetAdmin(bool admin);
void SetEnv(const std::string& name, std::optional<std::string> value);
void SetCommandLine(const std::string& commandLine);
void SetDllSearchFunctions(bool hasSetDefaultDllDirectories);
struct DllSearch {
    bool defaultDirectoriesSet; // SetDefaultDllDirectories was called
    DWORD defaultDirectoriesFlags;
    bool dllDirectoryCleared; // SetDllDirectoryA("") was called
};
DllSearch DllSearchState();

// The updater's own executable: its path (a file in the simulated disk) and its resources.
void SetOwnModulePath(const std::string& winPath);
// A path that may hold characters the ANSI code page lacks: GetModuleFileNameA gives "?" for each
// character above U+00FF, GetModuleFileNameW the path itself. On the simulated disk such a
// character stands as its UTF-8 bytes (so PutFile("C:\\用户\\x.exe") lays out
// u"C:\\用户\\x.exe"), and so does it in every wide name given to CreateFileW.
void SetOwnModulePathW(const std::u16string& winPath);
void AddResource(const std::string& type, const std::string& name, const std::string& bytes);

} // namespace os::sim
