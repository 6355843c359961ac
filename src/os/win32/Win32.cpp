// os.h on real Windows: every function forwards to the Win32 (ANSI) function of the same name.
//
// The os types are declared without <windows.h>; where they differ from the real ones (handles,
// structures, LARGE_INTEGER) they are converted here, and structures are passed by pointer only
// where the static_asserts below prove that both layouts agree.
#include "os/os.h"

#include <cstddef>
#include <string>

// Every numeric constant of os.h, captured before <windows.h> turns these names into macros, so
// that each can be checked against the real value below.
#define ZELM_OS_CONSTANTS(X)                                                                       \
    X(MAX_PATH)                                                                                    \
    X(INVALID_FILE_ATTRIBUTES)                                                                     \
    X(INFINITE)                                                                                    \
    X(ERROR_SUCCESS)                                                                               \
    X(ERROR_INVALID_FUNCTION)                                                                      \
    X(NO_ERROR)                                                                                    \
    X(ERROR_FILE_NOT_FOUND)                                                                        \
    X(ERROR_PATH_NOT_FOUND)                                                                        \
    X(ERROR_ACCESS_DENIED)                                                                         \
    X(ERROR_INVALID_HANDLE)                                                                        \
    X(ERROR_NOT_ENOUGH_MEMORY)                                                                     \
    X(ERROR_NO_MORE_FILES)                                                                         \
    X(ERROR_WRITE_FAULT)                                                                           \
    X(ERROR_READ_FAULT)                                                                            \
    X(ERROR_SHARING_VIOLATION)                                                                     \
    X(ERROR_LOCK_VIOLATION)                                                                        \
    X(ERROR_HANDLE_EOF)                                                                            \
    X(ERROR_FILE_EXISTS)                                                                           \
    X(ERROR_INVALID_PARAMETER)                                                                     \
    X(ERROR_BROKEN_PIPE)                                                                           \
    X(ERROR_DISK_FULL)                                                                             \
    X(ERROR_INSUFFICIENT_BUFFER)                                                                   \
    X(ERROR_INVALID_NAME)                                                                          \
    X(ERROR_PROC_NOT_FOUND)                                                                        \
    X(ERROR_ALREADY_EXISTS)                                                                        \
    X(ERROR_ENVVAR_NOT_FOUND)                                                                      \
    X(ERROR_MORE_DATA)                                                                             \
    X(ERROR_RESOURCE_DATA_NOT_FOUND)                                                               \
    X(ERROR_RESOURCE_TYPE_NOT_FOUND)                                                               \
    X(ERROR_RESOURCE_NAME_NOT_FOUND)                                                               \
    X(ERROR_INVALID_WINDOW_HANDLE)                                                                 \
    X(KEY_QUERY_VALUE)                                                                             \
    X(KEY_SET_VALUE)                                                                               \
    X(KEY_CREATE_SUB_KEY)                                                                          \
    X(KEY_ENUMERATE_SUB_KEYS)                                                                      \
    X(KEY_NOTIFY)                                                                                  \
    X(KEY_WOW64_64KEY)                                                                             \
    X(KEY_WOW64_32KEY)                                                                             \
    X(KEY_READ)                                                                                    \
    X(KEY_WRITE)                                                                                   \
    X(KEY_ALL_ACCESS)                                                                              \
    X(REG_OPTION_NON_VOLATILE)                                                                     \
    X(REG_CREATED_NEW_KEY)                                                                         \
    X(REG_OPENED_EXISTING_KEY)                                                                     \
    X(REG_NONE)                                                                                    \
    X(REG_SZ)                                                                                      \
    X(REG_EXPAND_SZ)                                                                               \
    X(REG_BINARY)                                                                                  \
    X(REG_DWORD)                                                                                   \
    X(REG_MULTI_SZ)                                                                                \
    X(REG_QWORD)                                                                                   \
    X(GENERIC_READ)                                                                                \
    X(GENERIC_WRITE)                                                                               \
    X(FILE_LIST_DIRECTORY)                                                                         \
    X(FILE_READ_ATTRIBUTES)                                                                        \
    X(FILE_SHARE_READ)                                                                             \
    X(FILE_SHARE_WRITE)                                                                            \
    X(FILE_SHARE_DELETE)                                                                           \
    X(CREATE_NEW)                                                                                  \
    X(CREATE_ALWAYS)                                                                               \
    X(OPEN_EXISTING)                                                                               \
    X(OPEN_ALWAYS)                                                                                 \
    X(TRUNCATE_EXISTING)                                                                           \
    X(FILE_ATTRIBUTE_READONLY)                                                                     \
    X(FILE_ATTRIBUTE_HIDDEN)                                                                       \
    X(FILE_ATTRIBUTE_SYSTEM)                                                                       \
    X(FILE_ATTRIBUTE_DIRECTORY)                                                                    \
    X(FILE_ATTRIBUTE_ARCHIVE)                                                                      \
    X(FILE_ATTRIBUTE_NORMAL)                                                                       \
    X(FILE_ATTRIBUTE_TEMPORARY)                                                                    \
    X(FILE_ATTRIBUTE_REPARSE_POINT)                                                                \
    X(FILE_FLAG_BACKUP_SEMANTICS)                                                                  \
    X(FILE_FLAG_SEQUENTIAL_SCAN)                                                                   \
    X(FILE_FLAG_WRITE_THROUGH)                                                                     \
    X(MOVEFILE_REPLACE_EXISTING)                                                                   \
    X(MOVEFILE_WRITE_THROUGH)                                                                      \
    X(INVALID_FILE_SIZE)                                                                           \
    X(PAGE_READWRITE)                                                                              \
    X(CREATE_NEW_CONSOLE)                                                                          \
    X(CREATE_NEW_PROCESS_GROUP)                                                                    \
    X(STARTF_USESHOWWINDOW)                                                                        \
    X(STARTF_USESTDHANDLES)                                                                        \
    X(CP_ACP)                                                                                      \
    X(TokenElevationTypeDefault)                                                                   \
    X(TokenElevationTypeFull)                                                                      \
    X(TokenElevationTypeLimited)                                                                   \
    X(WAIT_OBJECT_0)                                                                               \
    X(WAIT_TIMEOUT)                                                                                \
    X(WAIT_FAILED)                                                                                 \
    X(LOAD_LIBRARY_SEARCH_SYSTEM32)                                                                \
    X(VER_PLATFORM_WIN32_WINDOWS)                                                                  \
    X(VER_PLATFORM_WIN32_NT)                                                                       \
    X(VER_NT_WORKSTATION)                                                                          \
    X(VER_NT_DOMAIN_CONTROLLER)                                                                    \
    X(VER_NT_SERVER)                                                                               \
    X(PROCESSOR_ARCHITECTURE_INTEL)                                                                \
    X(PROCESSOR_ARCHITECTURE_IA64)                                                                 \
    X(PROCESSOR_ARCHITECTURE_AMD64)                                                                \
    X(SM_TABLETPC)                                                                                 \
    X(SM_MEDIACENTER)                                                                              \
    X(SM_STARTER)                                                                                  \
    X(SM_SERVERR2)                                                                                 \
    X(WM_QUIT)                                                                                     \
    X(SW_HIDE)                                                                                     \
    X(SW_SHOWNORMAL)                                                                               \
    X(MB_OK)                                                                                       \
    X(MB_YESNO)                                                                                    \
    X(MB_ICONERROR)                                                                                \
    X(MB_ICONQUESTION)                                                                             \
    X(MB_TASKMODAL)                                                                                \
    X(MB_TOPMOST)                                                                                  \
    X(MB_SERVICE_NOTIFICATION)                                                                     \
    X(IDOK)                                                                                        \
    X(IDCANCEL)                                                                                    \
    X(IDYES)                                                                                       \
    X(IDNO)                                                                                        \
    X(S_OK)                                                                                        \
    X(S_FALSE)

namespace captured {
#define ZELM_CAPTURE(name) constexpr auto name##_ = os::name;
ZELM_OS_CONSTANTS(ZELM_CAPTURE)
#undef ZELM_CAPTURE
} // namespace captured

// Only after os.h (see WindowsSupport.h).
#include "os/win32/WindowsSupport.h"

#define ZELM_CHECK_CONSTANT(name)                                                                  \
    static_assert(static_cast<unsigned long long>(captured::name##_) ==                            \
                      static_cast<unsigned long long>(name),                                       \
                  "os.h disagrees with <windows.h> on " #name);
ZELM_OS_CONSTANTS(ZELM_CHECK_CONSTANT)
#undef ZELM_CHECK_CONSTANT
#undef ZELM_OS_CONSTANTS

// ---- Layouts that are passed by pointer
// ----------------------------------------------------------

#define ZELM_SAME_FIELD(type, field)                                                               \
    static_assert(offsetof(os::type, field) == offsetof(::type, field) &&                          \
                      sizeof(os::type::field) == sizeof(::type::field),                            \
                  #type "::" #field " differs");

static_assert(sizeof(os::FILETIME) == sizeof(::FILETIME));
static_assert(sizeof(os::WIN32_FIND_DATAA) == sizeof(::WIN32_FIND_DATAA) &&
              sizeof(::WIN32_FIND_DATAA) == 320);
ZELM_SAME_FIELD(WIN32_FIND_DATAA, dwFileAttributes)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, ftLastWriteTime)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, nFileSizeHigh)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, nFileSizeLow)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, dwReserved0)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, cFileName)
ZELM_SAME_FIELD(WIN32_FIND_DATAA, cAlternateFileName)

static_assert(sizeof(os::BY_HANDLE_FILE_INFORMATION) == sizeof(::BY_HANDLE_FILE_INFORMATION));
ZELM_SAME_FIELD(BY_HANDLE_FILE_INFORMATION, dwVolumeSerialNumber)
ZELM_SAME_FIELD(BY_HANDLE_FILE_INFORMATION, nFileIndexHigh)
ZELM_SAME_FIELD(BY_HANDLE_FILE_INFORMATION, nFileIndexLow)

static_assert(sizeof(os::OSVERSIONINFOEXA) == sizeof(::OSVERSIONINFOEXA) &&
              sizeof(::OSVERSIONINFOEXA) == os::kOsVersionInfoExSize);
static_assert(sizeof(::OSVERSIONINFOA) == os::kOsVersionInfoSize);
ZELM_SAME_FIELD(OSVERSIONINFOEXA, dwMajorVersion)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, dwBuildNumber)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, dwPlatformId)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, szCSDVersion)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, wServicePackMajor)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, wSuiteMask)
ZELM_SAME_FIELD(OSVERSIONINFOEXA, wProductType)

// The product is 32-bit; the x86_64 test vehicle has the wider pointer-sized fields.
constexpr bool kIs32Bit = sizeof(void*) == 4;
static_assert(sizeof(os::SYSTEM_INFO) == sizeof(::SYSTEM_INFO) &&
              sizeof(::SYSTEM_INFO) == (kIs32Bit ? 36 : 48));
ZELM_SAME_FIELD(SYSTEM_INFO, wProcessorArchitecture)
ZELM_SAME_FIELD(SYSTEM_INFO, dwPageSize)
ZELM_SAME_FIELD(SYSTEM_INFO, dwActiveProcessorMask)
ZELM_SAME_FIELD(SYSTEM_INFO, dwNumberOfProcessors)
ZELM_SAME_FIELD(SYSTEM_INFO, wProcessorLevel)
ZELM_SAME_FIELD(SYSTEM_INFO, wProcessorRevision)

static_assert(sizeof(os::STARTUPINFOA) == sizeof(::STARTUPINFOA) &&
              sizeof(::STARTUPINFOA) == (kIs32Bit ? 68 : 104));
ZELM_SAME_FIELD(STARTUPINFOA, dwFlags)
ZELM_SAME_FIELD(STARTUPINFOA, wShowWindow)
ZELM_SAME_FIELD(STARTUPINFOA, lpReserved2)
ZELM_SAME_FIELD(STARTUPINFOA, hStdError)

static_assert(sizeof(os::SECURITY_ATTRIBUTES) == sizeof(::SECURITY_ATTRIBUTES));
ZELM_SAME_FIELD(SECURITY_ATTRIBUTES, bInheritHandle)

// STARTUPINFOEXA (Vista) is not in the headers for Windows 2000: its documented layout.
static_assert(offsetof(os::STARTUPINFOEXA, lpAttributeList) == sizeof(::STARTUPINFOA));

static_assert(sizeof(os::PROCESS_INFORMATION) == sizeof(::PROCESS_INFORMATION));
ZELM_SAME_FIELD(PROCESS_INFORMATION, hThread)
ZELM_SAME_FIELD(PROCESS_INFORMATION, dwThreadId)
#undef ZELM_SAME_FIELD

// Integer types that pass through pointers unchanged.
static_assert(sizeof(os::DWORD) == sizeof(::DWORD) && sizeof(os::LONG) == sizeof(::LONG));
static_assert(sizeof(os::WPARAM) == sizeof(::WPARAM) && sizeof(os::LPARAM) == sizeof(::LPARAM));

namespace {

::HKEY Native(os::HKEY key) {
    return reinterpret_cast<::HKEY>(key);
}
::HWND Native(os::HWND window) {
    return reinterpret_cast<::HWND>(window);
}
::HMODULE Native(os::HMODULE module) {
    return reinterpret_cast<::HMODULE>(module);
}
::HRSRC Native(os::HRSRC resource) {
    return reinterpret_cast<::HRSRC>(resource);
}

os::HKEY Ours(::HKEY key) {
    return reinterpret_cast<os::HKEY>(key);
}
os::HWND Ours(::HWND window) {
    return reinterpret_cast<os::HWND>(window);
}
os::HINSTANCE Ours(::HINSTANCE instance) {
    return reinterpret_cast<os::HINSTANCE>(instance);
}
os::HRSRC Ours(::HRSRC resource) {
    return reinterpret_cast<os::HRSRC>(resource);
}

// A system DLL, loaded on first use and only from the system folder: with
// LOAD_LIBRARY_SEARCH_SYSTEM32 where LoadLibraryEx knows that flag (Windows 8, or Vista and 7 with
// the update that also brought AddDllDirectory), otherwise by its full path. Never by a bare name,
// which the DLL search could find in the updater's own folder. Once loaded it stays for the life
// of the process, as an imported DLL would, because the functions taken from it are kept.
class SystemDll {
public:
    explicit constexpr SystemDll(const char* fileName) : fileName_(fileName) {}

    // Null, with the loader's last error, when the DLL cannot be loaded.
    ::HMODULE Module() {
        if (module_ == nullptr) {
            module_ = Load();
        }
        return module_;
    }

private:
    ::HMODULE Load() const {
        if (os::Kernel32Function<os::FARPROC>("AddDllDirectory") != nullptr) {
            return ::LoadLibraryExA(fileName_, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
        std::string path(MAX_PATH, '\0');
        const ::UINT length = ::GetSystemDirectoryA(path.data(), MAX_PATH);
        if (length == 0) {
            return nullptr;
        }
        if (length >= MAX_PATH) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return nullptr;
        }
        path.resize(length);
        if (path.back() != '\\') {
            path += '\\';
        }
        path += fileName_;
        // With a full path this flag makes the DLL's own dependencies come from its folder too.
        return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }

    const char* fileName_;
    ::HMODULE module_ = nullptr;
};

// A function of a system DLL, looked up on its first call and kept. `name` is the exported name,
// or an ordinal as MAKEINTRESOURCEA makes it. `Function` is the declared type (decltype of the
// function's address), so the calling convention is the one <windows.h> gives each processor.
template <class Function> class SystemFunction {
public:
    constexpr SystemFunction(SystemDll& dll, const char* name) : dll_(dll), name_(name) {}

    // Null, with the last error set, when the DLL or the function cannot be had.
    Function Get() {
        if (function_ == nullptr) {
            const ::HMODULE module = dll_.Module();
            if (module != nullptr) {
                function_ = reinterpret_cast<Function>(
                    reinterpret_cast<void (*)()>(::GetProcAddress(module, name_)));
            }
        }
        return function_;
    }

private:
    SystemDll& dll_;
    const char* name_;
    Function function_ = nullptr;
};

// Loading user32 nearly doubles the start of a small program (measured under Wine), and shell32
// brings user32 with it; so neither is imported, and each is loaded by the first call that needs
// it: a box, a running host to close, an old Windows' edition, a "ver" beyond ASCII, a start.
SystemDll user32("user32.dll");
SystemDll shell32("shell32.dll");
SystemFunction<decltype(&::MessageBoxA)> messageBoxA(user32, "MessageBoxA");
SystemFunction<decltype(&::MessageBoxExA)> messageBoxExA(user32, "MessageBoxExA");
SystemFunction<decltype(&::FindWindowA)> findWindowA(user32, "FindWindowA");
SystemFunction<decltype(&::PostMessageA)> postMessageA(user32, "PostMessageA");
SystemFunction<decltype(&::GetSystemMetrics)> getSystemMetrics(user32, "GetSystemMetrics");
SystemFunction<decltype(&::OemToCharBuffA)> oemToCharBuffA(user32, "OemToCharBuffA");
SystemFunction<decltype(&::ShellExecuteA)> shellExecuteA(shell32, "ShellExecuteA");

// COM, for starting a program through the desktop's shell; only a run that starts the host.
SystemDll ole32("ole32.dll");
SystemDll oleaut32("oleaut32.dll");
SystemFunction<decltype(&::CoInitialize)> coInitialize(ole32, "CoInitialize");
SystemFunction<decltype(&::CoUninitialize)> coUninitialize(ole32, "CoUninitialize");
SystemFunction<decltype(&::CoCreateInstance)> coCreateInstance(ole32, "CoCreateInstance");
SystemFunction<decltype(&::SysAllocString)> sysAllocString(oleaut32, "SysAllocString");
SystemFunction<decltype(&::SysFreeString)> sysFreeString(oleaut32, "SysFreeString");

// A COM interface pointer, released when it goes.
template <class Interface> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Interface* operator->() const { return p_; }
    Interface** receive() { return &p_; }
    void** receiveVoid() { return reinterpret_cast<void**>(&p_); }

private:
    Interface* p_ = nullptr;
};

// A BSTR made from ANSI text, freed when it goes; null when it cannot be made.
class ScopedBstr {
public:
    explicit ScopedBstr(const char* ansi) {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        if (length <= 0) {
            return;
        }
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
        b_ = sysAllocString.Get()(wide.c_str());
    }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    ~ScopedBstr() { sysFreeString.Get()(b_); }
    ::BSTR get() const { return b_; }
    ::VARIANT AsVariant() const {
        ::VARIANT v{};
        v.vt = VT_BSTR;
        v.bstrVal = b_;
        return v;
    }

private:
    ::BSTR b_ = nullptr;
};

// The desktop's IShellDispatch2, reached as installers reach it: the desktop window of
// IShellWindows, its top-level browser, the active view's background object, its application.
::HRESULT DesktopShellDispatch(ComPtr<::IShellDispatch2>& shell) {
    ComPtr<::IShellWindows> windows;
    ::HRESULT hr = coCreateInstance.Get()(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                          IID_IShellWindows, windows.receiveVoid());
    if (FAILED(hr)) {
        return hr;
    }
    ::VARIANT location{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    ::VARIANT noRoot{};
    long window = 0;
    ComPtr<::IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &noRoot, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                               desktop.receive());
    if (hr != S_OK) {
        return FAILED(hr) ? hr : S_FALSE; // S_FALSE: no desktop shell runs
    }
    ComPtr<::IServiceProvider> services;
    ComPtr<::IShellBrowser> browser;
    ComPtr<::IShellView> view;
    ComPtr<::IDispatch> background;
    ComPtr<::IShellFolderViewDual> folderView;
    ComPtr<::IDispatch> application;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, services.receiveVoid())) ||
        FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                           browser.receiveVoid())) ||
        FAILED(hr = browser->QueryActiveShellView(view.receive())) ||
        FAILED(
            hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.receiveVoid())) ||
        FAILED(
            hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.receiveVoid())) ||
        FAILED(hr = folderView->get_Application(application.receive()))) {
        return hr;
    }
    return application->QueryInterface(IID_IShellDispatch2, shell.receiveVoid());
}

::HRESULT DesktopShellExecuteInApartment(const char* file, const char* parameters,
                                         const char* directory, const char* operation,
                                         int showCommand) {
    ComPtr<::IShellDispatch2> shell;
    if (const ::HRESULT hr = DesktopShellDispatch(shell); hr != S_OK) {
        return hr;
    }
    const ScopedBstr fileText(file), parametersText(parameters), directoryText(directory),
        operationText(operation);
    if (fileText.get() == nullptr) {
        return E_OUTOFMEMORY;
    }
    ::VARIANT show{};
    show.vt = VT_I4;
    show.lVal = showCommand;
    return shell->ShellExecute(fileText.get(), parametersText.AsVariant(),
                               directoryText.AsVariant(), operationText.AsVariant(), show);
}

} // namespace

namespace os {

// ---- Registry
// ------------------------------------------------------------------------------------

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result) {
    ::HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(Native(key), subKey, options, desired, &opened);
    if (status == ERROR_SUCCESS) {
        *result = Ours(opened);
    }
    return status;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM desired, void* security, HKEY* result, DWORD* disposition) {
    ::HKEY opened = nullptr;
    const LONG status =
        ::RegCreateKeyExA(Native(key), subKey, reserved, keyClass, options, desired,
                          static_cast<LPSECURITY_ATTRIBUTES>(security), &opened, disposition);
    if (status == ERROR_SUCCESS) {
        *result = Ours(opened);
    }
    return status;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return ::RegQueryValueExA(Native(key), valueName, reserved, type, data, dataSize);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return ::RegSetValueExA(Native(key), valueName, reserved, type, data, dataSize);
}

LONG RegCloseKey(HKEY key) {
    return ::RegCloseKey(Native(key));
}

// ---- Files and folders
// ---------------------------------------------------------------------------

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileA(fileName, desiredAccess, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(security), creationDisposition,
                         flagsAndAttributes, templateFile);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
    return ::ReadFile(file, buffer, bytesToRead, bytesRead, static_cast<LPOVERLAPPED>(overlapped));
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped) {
    return ::WriteFile(file, buffer, bytesToWrite, bytesWritten,
                       static_cast<LPOVERLAPPED>(overlapped));
}

BOOL FlushFileBuffers(HANDLE file) {
    return ::FlushFileBuffers(file);
}
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
    return ::GetFileSize(file, fileSizeHigh);
}
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    return ::GetFileInformationByHandle(
        file, reinterpret_cast<::BY_HANDLE_FILE_INFORMATION*>(information));
}
BOOL CloseHandle(HANDLE object) {
    return ::CloseHandle(object);
}
BOOL DeleteFileA(const char* fileName) {
    return ::DeleteFileA(fileName);
}

BOOL MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags) {
    return ::MoveFileExA(existingFileName, newFileName, flags);
}

DWORD GetFileAttributesA(const char* fileName) {
    return ::GetFileAttributesA(fileName);
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* findData) {
    return ::FindFirstFileA(pattern, reinterpret_cast<::WIN32_FIND_DATAA*>(findData));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* findData) {
    return ::FindNextFileA(find, reinterpret_cast<::WIN32_FIND_DATAA*>(findData));
}

BOOL FindClose(HANDLE find) {
    return ::FindClose(find);
}
BOOL SetCurrentDirectoryA(const char* path) {
    return ::SetCurrentDirectoryA(path);
}

BOOL DeleteFileW(const WCHAR* fileName) {
    return ::DeleteFileW(fileName);
}

BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags) {
    return ::MoveFileExW(existingFileName, newFileName, flags);
}

DWORD GetFinalPathNameByHandleW(HANDLE file, WCHAR* path, DWORD size, DWORD flags) {
    using GetFinalPathFn = ::DWORD(WINAPI*)(::HANDLE, ::WCHAR*, ::DWORD, ::DWORD);
    const auto getFinalPath = os::Kernel32Function<GetFinalPathFn>("GetFinalPathNameByHandleW");
    if (getFinalPath == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    return getFinalPath(file, path, size, flags);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide,
                        int wideLength) {
    return ::MultiByteToWideChar(codePage, flags, text, length, wide, wideLength);
}

// ---- The own module and its resources
// ------------------------------------------------------------

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
    return ::GetModuleFileNameA(Native(module), fileName, size);
}

DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) {
    return ::GetModuleFileNameW(Native(module), fileName, size);
}

HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileW(fileName, desiredAccess, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(security), creationDisposition,
                         flagsAndAttributes, templateFile);
}

HMODULE GetModuleHandleA(const char* moduleName) {
    return Ours(::GetModuleHandleA(moduleName));
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    return reinterpret_cast<FARPROC>(::GetProcAddress(Native(module), procName));
}

HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
    return Ours(::FindResourceA(Native(module), name, type));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    return static_cast<HGLOBAL>(::LoadResource(Native(module), Native(resource)));
}

void* LockResource(HGLOBAL resourceData) {
    return ::LockResource(resourceData);
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    return ::SizeofResource(Native(module), Native(resource));
}

BOOL FreeResource(HGLOBAL resourceData) {
    return ::FreeResource(resourceData);
}

// Windows XP SP1 and later: on Windows 2000 the call fails as a missing function would.
BOOL SetDllDirectoryA(const char* path) {
    using SetDllDirectoryFn = ::BOOL(WINAPI*)(LPCSTR);
    const auto setDllDirectory = os::Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryA");
    if (setDllDirectory == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return setDllDirectory(path);
}

// ---- Processes and system information
// ------------------------------------------------------------

HANDLE CreateFileMappingA(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, const char* name) {
    return ::CreateFileMappingA(file, static_cast<LPSECURITY_ATTRIBUTES>(security), protect,
                                maximumSizeHigh, maximumSizeLow, name);
}

DWORD GetLastError() {
    return ::GetLastError();
}
void SetLastError(DWORD errorCode) {
    ::SetLastError(errorCode);
}
void Sleep(DWORD milliseconds) {
    ::Sleep(milliseconds);
}

BOOL CreateProcessA(const char* applicationName, char* commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, const char* currentDirectory, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* processInformation) {
    return ::CreateProcessA(
        applicationName, commandLine, static_cast<LPSECURITY_ATTRIBUTES>(processAttributes),
        static_cast<LPSECURITY_ATTRIBUTES>(threadAttributes), inheritHandles, creationFlags,
        environment, currentDirectory, reinterpret_cast<::STARTUPINFOA*>(startupInfo),
        reinterpret_cast<::PROCESS_INFORMATION*>(processInformation));
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return ::WaitForSingleObject(object, milliseconds);
}

BOOL CreatePipe(HANDLE* readPipe, HANDLE* writePipe, SECURITY_ATTRIBUTES* attributes, DWORD size) {
    return ::CreatePipe(readPipe, writePipe, reinterpret_cast<::SECURITY_ATTRIBUTES*>(attributes),
                        size);
}

// The attribute-list functions came with Vista. Declared with the standard types of the same
// width as SIZE_T and DWORD_PTR, which is what they are on both processors.
BOOL InitializeProcThreadAttributeList(void* list, DWORD count, DWORD flags, std::size_t* size) {
    using InitializeFn = ::BOOL(WINAPI*)(void*, ::DWORD, ::DWORD, std::size_t*);
    const auto initialize = os::Kernel32Function<InitializeFn>("InitializeProcThreadAttributeList");
    if (initialize == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return initialize(list, count, flags, size);
}

BOOL UpdateProcThreadAttribute(void* list, DWORD flags, std::uintptr_t attribute, void* value,
                               std::size_t size, void* previousValue, std::size_t* returnSize) {
    using UpdateFn =
        ::BOOL(WINAPI*)(void*, ::DWORD, std::uintptr_t, void*, std::size_t, void*, std::size_t*);
    const auto update = os::Kernel32Function<UpdateFn>("UpdateProcThreadAttribute");
    if (update == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return update(list, flags, attribute, value, size, previousValue, returnSize);
}

void DeleteProcThreadAttributeList(void* list) {
    using DeleteFn = void(WINAPI*)(void*);
    const auto deleteList = os::Kernel32Function<DeleteFn>("DeleteProcThreadAttributeList");
    if (deleteList != nullptr) {
        deleteList(list);
    }
}

DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) {
    return ::GetEnvironmentVariableA(name, buffer, size);
}

UINT GetSystemDirectoryA(char* buffer, UINT size) {
    return ::GetSystemDirectoryA(buffer, size);
}

const char* GetCommandLineA() {
    return ::GetCommandLineA();
}

BOOL GetVersionExA(OSVERSIONINFOEXA* versionInfo) {
    // The first 148 bytes are OSVERSIONINFOA; Windows reads dwOSVersionInfoSize to tell them apart.
    return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(versionInfo));
}

void GetSystemInfo(SYSTEM_INFO* systemInfo) {
    ::GetSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(systemInfo));
}

LCID GetUserDefaultLCID() {
    return ::GetUserDefaultLCID();
}

BOOL QueryPerformanceCounter(LONGLONG* count) {
    ::LARGE_INTEGER value;
    if (!::QueryPerformanceCounter(&value)) {
        return FALSE;
    }
    *count = value.QuadPart;
    return TRUE;
}

DWORD GetTickCount() {
    return ::GetTickCount();
}

// ---- User interface
// ------------------------------------------------------------------------------

// Each fails as the real call does when user32 cannot be loaded: the same failure value, and the
// loader's last error where the call sets one.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    const auto messageBox = messageBoxA.Get();
    return messageBox != nullptr ? messageBox(Native(owner), text, caption, type) : 0;
}

int MessageBoxExA(HWND owner, const char* text, const char* caption, UINT type, WORD languageId) {
    const auto messageBoxEx = messageBoxExA.Get();
    return messageBoxEx != nullptr ? messageBoxEx(Native(owner), text, caption, type, languageId)
                                   : 0;
}

HWND FindWindowA(const char* className, const char* windowName) {
    const auto findWindow = findWindowA.Get();
    return findWindow != nullptr ? Ours(findWindow(className, windowName)) : nullptr;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto postMessage = postMessageA.Get();
    return postMessage != nullptr ? postMessage(Native(window), message, wParam, lParam) : FALSE;
}

int GetSystemMetrics(int index) {
    const auto getMetrics = getSystemMetrics.Get();
    return getMetrics != nullptr ? getMetrics(index) : 0;
}

// Left unconverted when user32 cannot be loaded.
BOOL OemToCharBuffA(const char* source, char* destination, DWORD length) {
    const auto oemToCharBuff = oemToCharBuffA.Get();
    return oemToCharBuff != nullptr ? oemToCharBuff(source, destination, length) : FALSE;
}

// ---- Rights
// ---------------------------------------------------------------------------------------

BOOL IsAdministrator() {
    ::SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    ::PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return FALSE;
    }
    ::BOOL member = FALSE;
    const ::BOOL checked = ::CheckTokenMembership(nullptr, administrators, &member);
    ::FreeSid(administrators);
    return checked && member;
}

BOOL GetProcessElevationType(DWORD* elevationType) {
    ::HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return FALSE;
    }
    ::DWORD type = 0;
    ::DWORD returned = 0;
    const ::BOOL known =
        ::GetTokenInformation(token, ::TokenElevationType, &type, sizeof type, &returned);
    const ::DWORD error = ::GetLastError();
    ::CloseHandle(token);
    ::SetLastError(error);
    if (known) {
        *elevationType = type;
    }
    return known;
}

// ---- Shell
// ---------------------------------------------------------------------------------------

// A shell32 that cannot be loaded gives the shell's own error value for a missing DLL.
HINSTANCE ShellExecuteA(HWND owner, const char* operation, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
    const auto shellExecute = shellExecuteA.Get();
    if (shellExecute == nullptr) {
        return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(SE_ERR_DLLNOTFOUND));
    }
    return Ours(shellExecute(Native(owner), operation, file, parameters, directory, showCommand));
}

HRESULT DesktopShellExecute(const char* file, const char* parameters, const char* directory,
                            const char* operation, int showCommand) {
    const auto initialize = coInitialize.Get();
    if (initialize == nullptr || coUninitialize.Get() == nullptr ||
        coCreateInstance.Get() == nullptr || sysAllocString.Get() == nullptr ||
        sysFreeString.Get() == nullptr) {
        // A loader that failed without a last error must still read as a failure.
        const ::DWORD error = ::GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    const ::HRESULT initialized = initialize(nullptr);
    if (FAILED(initialized)) {
        return initialized;
    }
    const ::HRESULT hr =
        DesktopShellExecuteInApartment(file, parameters, directory, operation, showCommand);
    coUninitialize.Get()();
    return hr;
}

} // namespace os
