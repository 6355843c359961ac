// The operating-system layer: a thin, one-to-one stand-in for the Win32 calls the updater makes.
//
// Every function here has the name, arguments, flags, results and last-error codes of the Win32
// (ANSI) function it stands for, so code above this layer reads like the Win32 program it is.
// Two implementations exist and the build links exactly one: os/win32 forwards to the real API,
// os/sim is a simulated Windows for tests (configured through os/sim/Sim.h).
//
// Out-parameters are written only when the call succeeds, as Windows does, except where Windows
// itself writes them on a failure, which both implementations keep:
//  - RegQueryValueExA returning ERROR_MORE_DATA has put the size it needs into *dataSize (and
//    the type into *type); the data buffer holds nothing usable;
//  - GetModuleFileNameA given too small a buffer fills it with the path cut to fit, returns the
//    buffer's size and sets ERROR_INSUFFICIENT_BUFFER (Windows XP leaves the cut path without
//    its terminating zero);
//  - WriteFile stopped by a full disk reports in *bytesWritten the bytes that went through.
// A failing call sets the last error that Windows would set (functions returning LONG return
// that code instead, like the registry API).
//
// <windows.h> is never included here: its constants are macros that would collide with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

// 32-bit Windows calls system functions found at run time with the stdcall convention.
#if defined(_WIN32) && defined(__i386__)
#define OS_WINAPI __attribute__((stdcall))
#else
#define OS_WINAPI
#endif

namespace os {

// ---- Types -------------------------------------------------------------------------------------

#if defined(_WIN32)
using DWORD = unsigned long; // the exact type of <windows.h>, so pointers pass through unchanged
using LONG = long;
#else
using DWORD = std::uint32_t;
using LONG = std::int32_t;
#endif
using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using LCID = DWORD;
using LANGID = WORD;
using REGSAM = DWORD;
using LONGLONG = std::int64_t;
using WPARAM = std::uintptr_t;
#if defined(_WIN32)
using WCHAR = wchar_t; // UTF-16 on Windows
#else
using WCHAR = char16_t;
#endif
using LPARAM = std::intptr_t;
using HRESULT = LONG;
using WString = std::basic_string<WCHAR>;

struct HKEY__;
struct HWND__;
struct HINSTANCE__;
struct HRSRC__;
struct HGLOBAL__;
using HKEY = HKEY__*;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HRSRC = HRSRC__*;
using HGLOBAL = HGLOBAL__*;
using HANDLE = void*;
using FARPROC = void (*)();

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

constexpr DWORD MAX_PATH = 260;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh; // with the volume serial number, names the file on this machine
    DWORD nFileIndexLow;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0; // reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};

// OSVERSIONINFOA is the first 148 bytes of OSVERSIONINFOEXA (156 bytes); GetVersionExA reads
// dwOSVersionInfoSize to learn which one it was given.
struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
constexpr DWORD kOsVersionInfoSize = 148;
constexpr DWORD kOsVersionInfoExSize = 156;

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    void* lpMinimumApplicationAddress;
    void* lpMaximumApplicationAddress;
    std::uintptr_t dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
using GetNativeSystemInfoFn = void(OS_WINAPI*)(SYSTEM_INFO*);
using SetDefaultDllDirectoriesFn = BOOL(OS_WINAPI*)(DWORD);

struct STARTUPINFOA {
    DWORD cb; // 68 on 32-bit Windows
    char* lpReserved;
    char* lpDesktop;
    char* lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
};

// With EXTENDED_STARTUPINFO_PRESENT, CreateProcessA reads this record through its STARTUPINFOA.
struct STARTUPINFOEXA {
    STARTUPINFOA StartupInfo;
    void* lpAttributeList; // made by InitializeProcThreadAttributeList
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// ---- Constants ---------------------------------------------------------------------------------

// Predefined registry roots, with the values Windows gives them.
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001)));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000002)));

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;

// Error codes (GetLastError and registry results).
constexpr LONG ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// Registry.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Files.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_LIST_DIRECTORY = 0x0001;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000; // needed to open a folder
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD VOLUME_NAME_DOS = 0x0; // GetFinalPathNameByHandleW: "\\?\C:\..."
constexpr UINT CP_ACP = 0;

// Mappings, processes, waits.
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD CREATE_NEW_CONSOLE = 0x10;
constexpr DWORD CREATE_NEW_PROCESS_GROUP = 0x200;
constexpr DWORD EXTENDED_STARTUPINFO_PRESENT = 0x00080000;
constexpr DWORD STARTF_USESHOWWINDOW = 0x1;
constexpr DWORD STARTF_USESTDHANDLES = 0x100;
constexpr std::uintptr_t PROC_THREAD_ATTRIBUTE_HANDLE_LIST = 0x20002;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800;

// The elevation types of a token (TOKEN_ELEVATION_TYPE): Full is the elevated half of a split
// token, Limited the other half; Default means no split (UAC off, or the built-in Administrator).
constexpr DWORD TokenElevationTypeDefault = 1;
constexpr DWORD TokenElevationTypeFull = 2;
constexpr DWORD TokenElevationTypeLimited = 3;

// Windows versions and processors.
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr BYTE VER_NT_WORKSTATION = 1;
constexpr BYTE VER_NT_DOMAIN_CONTROLLER = 2;
constexpr BYTE VER_NT_SERVER = 3;
constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr int SM_TABLETPC = 86;
constexpr int SM_MEDIACENTER = 87;
constexpr int SM_STARTER = 88;
constexpr int SM_SERVERR2 = 89;

// Windows, messages, boxes, shell.
constexpr UINT WM_QUIT = 0x0012;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr UINT MB_SERVICE_NOTIFICATION = 0x200000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

// ---- Functions ---------------------------------------------------------------------------------

// Registry (advapi32).
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM desired, void* security, HKEY* result, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegCloseKey(HKEY key);

// Files and folders (kernel32). Paths are ANSI; names compare without regard to case.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
[[nodiscard]] BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                            void* overlapped);
[[nodiscard]] BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite,
                             DWORD* bytesWritten, void* overlapped);
[[nodiscard]] BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh);
[[nodiscard]] BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(const char* fileName);
[[nodiscard]] BOOL MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags);
DWORD GetFileAttributesA(const char* fileName);
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* findData);
[[nodiscard]] BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* findData);
BOOL FindClose(HANDLE find);
BOOL SetCurrentDirectoryA(const char* path);
// The wide forms, where a path must take the "\\?\" form of GetFinalPathNameByHandleW.
BOOL DeleteFileW(const WCHAR* fileName);
[[nodiscard]] BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName,
                               DWORD flags);
// Vista and later; elsewhere 0 with ERROR_PROC_NOT_FOUND. The length without the zero, or the
// size needed with it when `size` is too small.
DWORD GetFinalPathNameByHandleW(HANDLE file, WCHAR* path, DWORD size, DWORD flags);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide,
                        int wideLength);

// The own module and its resources (kernel32). A null module is the updater's own executable.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
// The wide forms, for the own file only: its path may hold characters that the ANSI code page
// cannot express (GetModuleFileNameA gives "?" for them, which no file name can contain).
DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size);
HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
HMODULE GetModuleHandleA(const char* moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
void* LockResource(HGLOBAL resourceData);
DWORD SizeofResource(HMODULE module, HRSRC resource);
BOOL FreeResource(HGLOBAL resourceData);
BOOL SetDllDirectoryA(const char* path);

// Processes and system information (kernel32).
HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, const char* name);
DWORD GetLastError();
void SetLastError(DWORD errorCode);
void Sleep(DWORD milliseconds);
[[nodiscard]] BOOL CreateProcessA(const char* applicationName, char* commandLine,
                                  void* processAttributes, void* threadAttributes,
                                  BOOL inheritHandles, DWORD creationFlags, void* environment,
                                  const char* currentDirectory, STARTUPINFOA* startupInfo,
                                  PROCESS_INFORMATION* processInformation);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
[[nodiscard]] BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, SECURITY_ATTRIBUTES* attributes,
                              DWORD size);
// Vista and later; elsewhere they fail with ERROR_PROC_NOT_FOUND (the last one does nothing).
[[nodiscard]] BOOL InitializeProcThreadAttributeList(void* list, DWORD count, DWORD flags,
                                                     std::size_t* size);
[[nodiscard]] BOOL UpdateProcThreadAttribute(void* list, DWORD flags, std::uintptr_t attribute,
                                             void* value, std::size_t size, void* previousValue,
                                             std::size_t* returnSize);
void DeleteProcThreadAttributeList(void* list);
DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size);
UINT GetSystemDirectoryA(char* buffer, UINT size); // length without the zero; needed size if short
const char* GetCommandLineA();
// Honours dwOSVersionInfoSize: 148 for the plain record, 156 for the extended one.
[[nodiscard]] BOOL GetVersionExA(OSVERSIONINFOEXA* versionInfo);
void GetSystemInfo(SYSTEM_INFO* systemInfo);
LCID GetUserDefaultLCID();
[[nodiscard]] BOOL QueryPerformanceCounter(LONGLONG* count);
DWORD GetTickCount();

// User interface (user32) and shell (shell32). The real layer loads each DLL from the system folder
// on the first call into it, so a run that calls none of these loads neither; where the DLL cannot
// be loaded, the call fails as it would in Windows.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, WORD languageId);
HWND FindWindowA(const char* className, const char* windowName);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int GetSystemMetrics(int index);
BOOL OemToCharBuffA(const char* source, char* destination, DWORD length);

// Whether the process's token is a member of the Administrators group: CheckTokenMembership(null
// token, the Administrators SID), the call that shell32's IsUserAnAdmin wraps (advapi32, Windows
// 2000 on). The one call here that stands for a few: the SID is made and freed around it.
BOOL IsAdministrator();
// The elevation type of the process's token: OpenProcessToken with TOKEN_QUERY, then
// GetTokenInformation with TokenElevationType (advapi32). FALSE, with the last error, where
// Windows knows no such class: before Vista, which has no UAC.
[[nodiscard]] BOOL GetProcessElevationType(DWORD* elevationType);

// Shell (shell32), loaded the same way.
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int showCommand);
// The shell of the signed-in user's desktop (Explorer), over COM: IShellWindows::FindWindowSW with
// SWC_DESKTOP, then that shell's IShellDispatch2::ShellExecute. The program starts as the user,
// unelevated, even from an elevated caller. S_OK, or the failing step's HRESULT (S_FALSE when no
// desktop shell answers). The arguments are those of IShellDispatch2::ShellExecute, in its order.
HRESULT DesktopShellExecute(const char* file, const char* parameters, const char* directory,
                            const char* operation, int showCommand);

// A kernel32 function that older Windows lacks, looked up by name at run time; null when absent.
// FARPROC is the generic function type, so the cast names what the function really is.
template <class Function> Function Kernel32Function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 == nullptr ? nullptr
                               : reinterpret_cast<Function>(GetProcAddress(kernel32, name));
}

// ---- Owners ------------------------------------------------------------------------------------

// A move-only owner of one handle. Null and INVALID_HANDLE_VALUE both count as "no handle", and
// closing keeps the thread's last error, so a caller can still report the failure it is handling.
template <class Traits> class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle h) : h_(h) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : h_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~ScopedHandle() { reset(); }

    [[nodiscard]] bool valid() const { return Traits::IsValid(h_); }
    explicit operator bool() const { return valid(); }
    [[nodiscard]] Handle get() const { return h_; }
    Handle* receive() { // for out-parameters; closes what was held before
        reset();
        return &h_;
    }
    [[nodiscard]] Handle release() { return std::exchange(h_, Traits::Null()); }
    void reset(Handle h = Traits::Null()) {
        if (Traits::IsValid(h_)) {
            const DWORD saved = GetLastError();
            Traits::Close(h_);
            SetLastError(saved);
        }
        h_ = h;
    }

private:
    Handle h_ = Traits::Null();
};

struct KeyTraits {
    using Handle = HKEY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct FileTraits { // files, mappings, processes, threads
    using Handle = HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct FindTraits {
    using Handle = HANDLE;
    static Handle Null() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};
struct ResourceTraits {
    using Handle = HGLOBAL;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { FreeResource(h); }
};

using ScopedRegHandle = ScopedHandle<KeyTraits>;
using ScopedFileHandle = ScopedHandle<FileTraits>;
using ScopedFindHandle = ScopedHandle<FindTraits>;
using ScopedResource = ScopedHandle<ResourceTraits>;

} // namespace os
