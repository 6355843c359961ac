// Facts about the machine and the own module: environment, command line, version records,
// processor architecture, metrics, locale, rights, kernel32 exports, resources, DLL search.
#include "os/sim/SimWorld.h"

#include <algorithm>
#include <cstring>

namespace os::sim {
namespace detail {
namespace {

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD kProcessorIntelPentium = 586;
constexpr DWORD kProcessorAmdX8664 = 8664;
constexpr DWORD kProcessorIntelIa64 = 2200;

const HMODULE kOwnModule = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x00400000));
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x76D40000));
constexpr const char* kKernel32Path = "C:\\Windows\\SysWOW64\\kernel32.dll";
// What a 32-bit process is told; the file system redirects it to SysWOW64.
constexpr const char* kSystemFolder = "C:\\Windows\\system32";

bool IsOwnModule(HMODULE module) {
    return module == nullptr || module == kOwnModule;
}

bool Is64BitArchitecture(WORD architecture) {
    return architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           architecture == PROCESSOR_ARCHITECTURE_IA64;
}

void FillSystemInfo(SYSTEM_INFO& info, WORD architecture) {
    info = SYSTEM_INFO{};
    info.wProcessorArchitecture = architecture;
    info.dwPageSize = 4096;
    info.lpMinimumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x00010000});
    info.lpMaximumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x7FFEFFFF});
    info.dwActiveProcessorMask = 0x3;
    info.dwNumberOfProcessors = 2;
    info.dwAllocationGranularity = 0x10000;
    info.wProcessorLevel = 6;
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        info.dwProcessorType = kProcessorAmdX8664;
        break;
    case PROCESSOR_ARCHITECTURE_IA64:
        info.dwProcessorType = kProcessorIntelIa64;
        break;
    default:
        info.dwProcessorType = kProcessorIntelPentium;
        break;
    }
}

void OS_WINAPI SimulatedGetNativeSystemInfo(SYSTEM_INFO* info) {
    LogCall("GetNativeSystemInfo");
    if (info != nullptr) {
        FillSystemInfo(*info, TheWorld().architecture);
    }
}

BOOL OS_WINAPI SimulatedSetDefaultDllDirectories(DWORD flags) {
    LogCall("SetDefaultDllDirectories");
    DllSearch& search = TheWorld().dllSearch;
    search.defaultDirectoriesSet = true;
    search.defaultDirectoriesFlags = flags;
    return 1;
}

// Resource types and names compare without case; numeric identifiers read as "#n".
std::string ResourceId(const char* id) {
    const auto value = reinterpret_cast<std::uintptr_t>(id);
    if (value < 0x10000) {
        return '#' + std::to_string(value);
    }
    std::string upper(id);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper;
}

const Resource* ResourceOf(HRSRC handle) {
    for (const auto& resource : TheWorld().resources) {
        if (reinterpret_cast<HRSRC>(resource.get()) == handle) {
            return resource.get();
        }
    }
    return nullptr;
}

std::string ResourceText(const Resource* resource) {
    return resource != nullptr ? resource->type + '\\' + resource->name : std::string();
}

WORD ServicePackMajor(const std::string& csd) {
    const std::string prefix = "Service Pack ";
    if (csd.compare(0, prefix.size(), prefix) != 0 || csd.size() == prefix.size()) {
        return 0;
    }
    return static_cast<WORD>(std::atoi(csd.c_str() + prefix.size()));
}

// CP866 to CP1251 as Windows converts it: through Unicode, with the best-fit table of 1251 for
// what it lacks, so box drawing becomes look-alikes ("-", "+", "L", "T", broken bar, even "г").
constexpr unsigned char kCp866To1251[128] = {
    // 0x80-0xAF: А..Я, а..п
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    // 0xB0-0xDF: shades, box drawing, blocks
    0x2D, 0x2D, 0x2D, 0xA6, 0x2B, 0xA6, 0xA6, 0xAC, 0xAC, 0xA6, 0xA6, 0xAC, 0x2D, 0x2D, 0x2D, 0xAC,
    0x4C, 0x2B, 0x54, 0x2B, 0x2D, 0x2B, 0xA6, 0xA6, 0x4C, 0xE3, 0xA6, 0x54, 0xA6, 0x3D, 0x2B, 0xA6,
    0xA6, 0x54, 0x54, 0x4C, 0x4C, 0x2D, 0xE3, 0x2B, 0x2B, 0x2D, 0x2D, 0x2D, 0x2D, 0xA6, 0xA6, 0x2D,
    // 0xE0-0xEF: р..я
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
    // 0xF0-0xFF: Ё ё Є є Ї ї Ў ў ° ∙ · √ № ¤ ■ no-break space
    0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0x95, 0xB7, 0x76, 0xB9, 0xA4, 0xA6, 0xA0};

} // namespace
} // namespace detail

using namespace detail;

// ---- Test API ----------------------------------------------------------------------------------

void SetVersion(const Version& version) {
    World& world = TheWorld();
    world.version = version;
    const bool uac = version.platform == VER_PLATFORM_WIN32_NT && version.major >= 6;
    world.elevationType = uac ? std::optional<DWORD>(TokenElevationTypeFull) : std::nullopt;
}

void SetElevationType(std::optional<DWORD> elevationType) {
    TheWorld().elevationType = elevationType;
}

void SetArchitecture(WORD architecture) {
    TheWorld().architecture = architecture;
}

void SetSystemMetric(int index, int value) {
    TheWorld().metrics[index] = value;
}

void SetUserLocale(LCID lcid) {
    TheWorld().userLocale = lcid;
}

void SetAdmin(bool admin) {
    TheWorld().admin = admin;
}

void SetEnv(const std::string& name, std::optional<std::string> value) {
    World& world = TheWorld();
    if (value) {
        world.environment[Lower(name)] = EnvVar{name, *value};
    } else {
        world.environment.erase(Lower(name));
    }
}

void SetCommandLine(const std::string& commandLine) {
    TheWorld().commandLine = commandLine;
}

void SetDllSearchFunctions(bool hasSetDefaultDllDirectories) {
    TheWorld().dllSearchFunctions = hasSetDefaultDllDirectories;
}

DllSearch DllSearchState() {
    return TheWorld().dllSearch;
}

void SetOwnModulePath(const std::string& winPath) {
    TheWorld().ownModulePath = winPath;
    TheWorld().ownModulePathW.clear();
}

void SetOwnModulePathW(const std::u16string& winPath) {
    std::string ansi;
    for (const char16_t c : winPath) {
        ansi += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    TheWorld().ownModulePath = ansi;
    TheWorld().ownModulePathW = winPath;
}

void AddResource(const std::string& type, const std::string& name, const std::string& bytes) {
    TheWorld().resources.push_back(std::make_unique<Resource>(
        Resource{ResourceId(type.c_str()), ResourceId(name.c_str()), bytes}));
}

} // namespace os::sim

// ---- os.h --------------------------------------------------------------------------------------

namespace os {

using namespace sim::detail;
using sim::Call;

DWORD GetEnvironmentVariableA(const char* name, char* buffer, DWORD size) {
    const std::string key = name != nullptr ? name : "";
    LogCall("GetEnvironmentVariableA", key);
    DWORD error = 0;
    if (Faulted(Call::GetEnvironmentVariable, {key}, error)) {
        SetError(error);
        return 0;
    }
    const World& world = TheWorld();
    const auto found = world.environment.find(Lower(key));
    if (found == world.environment.end()) {
        SetError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const std::string& value = found->second.value;
    const auto length = static_cast<DWORD>(value.size());
    if (buffer == nullptr || size <= length) {
        return length + 1; // the size needed, terminating zero included
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    return length;
}

UINT GetSystemDirectoryA(char* buffer, UINT size) {
    LogCall("GetSystemDirectoryA");
    const std::string folder = kSystemFolder;
    if (size <= folder.size()) {
        return static_cast<UINT>(folder.size() + 1);
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

const char* GetCommandLineA() {
    LogCall("GetCommandLineA");
    World& world = TheWorld();
    world.commandLineText = world.commandLine.value_or('"' + world.ownModulePath + '"');
    return world.commandLineText.c_str();
}

BOOL GetVersionExA(OSVERSIONINFOEXA* versionInfo) {
    LogCall("GetVersionExA");
    DWORD error = 0;
    if (Faulted(Call::GetVersionEx, {}, error)) {
        SetError(error);
        return 0;
    }
    const sim::Version& version = TheWorld().version;
    const DWORD size = versionInfo != nullptr ? versionInfo->dwOSVersionInfoSize : 0;
    const bool extended = size == kOsVersionInfoExSize;
    if ((size != kOsVersionInfoSize && !extended) || !version.anyQuery ||
        (extended && !version.extendedQuery)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    versionInfo->dwMajorVersion = version.major;
    versionInfo->dwMinorVersion = version.minor;
    versionInfo->dwBuildNumber = version.build;
    versionInfo->dwPlatformId = version.platform;
    std::memset(versionInfo->szCSDVersion, 0, sizeof versionInfo->szCSDVersion);
    std::strncpy(versionInfo->szCSDVersion, version.csd.c_str(),
                 sizeof versionInfo->szCSDVersion - 1);
    if (extended) { // the plain record ends before these fields: they are not the caller's
        versionInfo->wServicePackMajor = ServicePackMajor(version.csd);
        versionInfo->wServicePackMinor = 0;
        versionInfo->wSuiteMask = version.suiteMask;
        versionInfo->wProductType = version.productType;
        versionInfo->wReserved = 0;
    }
    return 1;
}

void GetSystemInfo(SYSTEM_INFO* systemInfo) {
    LogCall("GetSystemInfo");
    const WORD machine = TheWorld().architecture;
    // A 32-bit process on a 64-bit machine sees an x86 processor.
    FillSystemInfo(*systemInfo,
                   Is64BitArchitecture(machine) ? PROCESSOR_ARCHITECTURE_INTEL : machine);
}

LCID GetUserDefaultLCID() {
    LogCall("GetUserDefaultLCID");
    return TheWorld().userLocale;
}

int GetSystemMetrics(int index) {
    LogCall("GetSystemMetrics", std::to_string(index));
    const World& world = TheWorld();
    const auto found = world.metrics.find(index);
    return found != world.metrics.end() ? found->second : 0;
}

BOOL IsAdministrator() {
    LogCall("CheckTokenMembership", "Administrators");
    return TheWorld().admin ? 1 : 0;
}

BOOL GetProcessElevationType(DWORD* elevationType) {
    LogCall("GetTokenInformation", "TokenElevationType");
    DWORD error = 0;
    if (Faulted(Call::GetTokenInformation, {}, error)) {
        SetError(error);
        return 0;
    }
    const World& world = TheWorld();
    if (!world.elevationType) { // before Vista the class is unknown
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    *elevationType = *world.elevationType;
    return 1;
}

BOOL OemToCharBuffA(const char* source, char* destination, DWORD length) {
    LogCall("OemToCharBuffA");
    if (source == nullptr || destination == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (DWORD i = 0; i < length; ++i) { // byte by byte, so source and destination may overlap
        const auto byte = static_cast<unsigned char>(source[i]);
        destination[i] = static_cast<char>(byte < 0x80 ? byte : kCp866To1251[byte - 0x80]);
    }
    return 1;
}

namespace {

std::u16string Widened(const std::string& ansi) {
    std::u16string wide;
    for (const char c : ansi) {
        wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return wide;
}

template <class Char>
DWORD ModuleFileName(const char* function, HMODULE module, Char* fileName, DWORD size,
                     const std::basic_string<Char>& ownPath,
                     const std::basic_string<Char>& kernel32Path) {
    const bool own = IsOwnModule(module);
    const std::string subject = own ? TheWorld().ownModulePath : kKernel32Path;
    LogCall(function, subject);
    DWORD error = 0;
    if (Faulted(Call::GetModuleFileName, {subject}, error)) {
        SetError(error);
        return 0;
    }
    if (!own && module != kKernel32) {
        SetError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::basic_string<Char>& path = own ? ownPath : kernel32Path;
    const auto length = static_cast<DWORD>(path.size());
    if (size > length) {
        std::copy(path.c_str(), path.c_str() + path.size() + 1, fileName);
        return length;
    }
    // Too small: as much as fits, still terminated, and the buffer's size as result.
    if (size > 0) {
        std::copy(path.data(), path.data() + size - 1, fileName);
        fileName[size - 1] = Char{};
    }
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

} // namespace

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
    return ModuleFileName<char>("GetModuleFileNameA", module, fileName, size,
                                TheWorld().ownModulePath, kKernel32Path);
}

DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) {
    const World& world = TheWorld();
    return ModuleFileName<char16_t>("GetModuleFileNameW", module, fileName, size,
                                    world.ownModulePathW.empty() ? Widened(world.ownModulePath)
                                                                 : world.ownModulePathW,
                                    Widened(kKernel32Path));
}

HMODULE GetModuleHandleA(const char* moduleName) {
    LogCall("GetModuleHandleA", moduleName != nullptr ? moduleName : "");
    if (moduleName == nullptr) {
        return kOwnModule;
    }
    if (EqualNoCase(moduleName, "kernel32.dll") || EqualNoCase(moduleName, "kernel32")) {
        return kKernel32;
    }
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    const World& world = TheWorld();
    const bool named = reinterpret_cast<std::uintptr_t>(procName) >= 0x10000;
    LogCall("GetProcAddress", named ? procName : "");
    if (module == kKernel32 && named) {
        const std::string name = procName;
        if (name == "GetNativeSystemInfo" && world.version.nativeSystemInfo) {
            return reinterpret_cast<FARPROC>(&SimulatedGetNativeSystemInfo);
        }
        if (name == "SetDefaultDllDirectories" && world.dllSearchFunctions) {
            return reinterpret_cast<FARPROC>(&SimulatedSetDefaultDllDirectories);
        }
    }
    SetError(module == kKernel32 || IsOwnModule(module) ? ERROR_PROC_NOT_FOUND
                                                        : ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL SetDllDirectoryA(const char* path) {
    LogCall("SetDllDirectoryA", path != nullptr ? path : "");
    TheWorld().dllSearch.dllDirectoryCleared = path != nullptr && *path == '\0';
    return 1;
}

HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
    const std::string wantedType = ResourceId(type);
    const std::string wantedName = ResourceId(name);
    LogCall("FindResourceA", wantedType + '\\' + wantedName);
    DWORD error = 0;
    if (Faulted(Call::FindResource, {wantedType + '\\' + wantedName}, error)) {
        SetError(error);
        return nullptr;
    }
    const auto& resources = TheWorld().resources;
    bool typeFound = false;
    // The latest resource added under a type and name is the one the module carries.
    for (auto it = resources.rbegin(); IsOwnModule(module) && it != resources.rend(); ++it) {
        if ((*it)->type == wantedType) {
            typeFound = true;
            if ((*it)->name == wantedName) {
                return reinterpret_cast<HRSRC>(it->get());
            }
        }
    }
    SetError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
    const Resource* found = ResourceOf(resource);
    LogCall("LoadResource", ResourceText(found));
    DWORD error = 0;
    if (Faulted(Call::LoadResource, {ResourceText(found)}, error)) {
        SetError(error);
        return nullptr;
    }
    if (found == nullptr) {
        SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    // Resources live in the mapped image: the handle is the address of the bytes.
    return reinterpret_cast<HGLOBAL>(const_cast<char*>(found->bytes.data()));
}

void* LockResource(HGLOBAL resourceData) {
    const Resource* locked = nullptr;
    for (const auto& resource : TheWorld().resources) {
        if (resource->bytes.data() == static_cast<const void*>(resourceData)) {
            locked = resource.get();
        }
    }
    LogCall("LockResource", ResourceText(locked));
    DWORD error = 0;
    if (Faulted(Call::LockResource, {ResourceText(locked)}, error)) {
        SetError(error);
        return nullptr;
    }
    return resourceData;
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
    const Resource* found = ResourceOf(resource);
    LogCall("SizeofResource", ResourceText(found));
    DWORD error = 0;
    if (Faulted(Call::SizeofResource, {ResourceText(found)}, error)) {
        SetError(error);
        return 0;
    }
    if (found == nullptr) {
        SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(found->bytes.size());
}

BOOL FreeResource(HGLOBAL /*resourceData*/) {
    LogCall("FreeResource");
    return 0; // obsolete on 32-bit Windows: nothing to free, and it says FALSE
}

} // namespace os
