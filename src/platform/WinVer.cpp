#include "platform/WinVer.h"

#include "base/PathTools.h"
#include "base/Registry.h"
#include "os/os.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

bool IsWin64 = false;

namespace {

// What one query of the running system returned.
struct Machine {
    os::OSVERSIONINFOEXA info{};
    bool extended = false; // the 156-byte record was accepted
    os::WORD architecture = os::PROCESSOR_ARCHITECTURE_INTEL;

    bool IsWorkstation() const { return info.wProductType == os::VER_NT_WORKSTATION; }
    bool HasSuite(os::WORD bit) const { return (info.wSuiteMask & bit) != 0; }
    char SecondCsdChar() const { return info.szCSDVersion[1]; }
};

constexpr os::WORD kSuiteEnterprise = 0x0002;
constexpr os::WORD kSuiteEmbedded = 0x0040;
constexpr os::WORD kSuiteDatacenter = 0x0080;
constexpr os::WORD kSuitePersonal = 0x0200;
constexpr os::WORD kSuiteBlade = 0x0400;
constexpr os::WORD kSuiteStorageServer = 0x2000;
constexpr os::WORD kSuiteComputeServer = 0x4000;

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

bool QueryVersion(Machine& machine) {
    machine.info = {};
    machine.info.dwOSVersionInfoSize = os::kOsVersionInfoExSize;
    machine.extended = os::GetVersionExA(&machine.info) != 0;
    if (machine.extended) {
        return true;
    }
    machine.info = {};
    machine.info.dwOSVersionInfoSize = os::kOsVersionInfoSize;
    return os::GetVersionExA(&machine.info) != 0;
}

// GetNativeSystemInfo, where kernel32 has it, tells a 32-bit process the machine's real processor.
os::WORD ProcessorArchitecture() {
    os::SYSTEM_INFO info{};
    const auto native = os::Kernel32Function<os::GetNativeSystemInfoFn>("GetNativeSystemInfo");
    if (native != nullptr) {
        native(&info);
    } else {
        os::GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
}

// A key of HKEY_LOCAL_MACHINE, opened (never created) with the accessor's mask; it closes it.
bool OpenMachineKey(Registry& registry, const char* path) {
    registry.SetRootKey(os::HKEY_LOCAL_MACHINE);
    return registry.OpenKey(path, false);
}

// Read through the 64-bit view: a 32-bit process on 64-bit Windows would otherwise see the
// redirected key. A value that cannot be read as text is no name, and the tables' name stays.
std::optional<std::string> RegistryProductName() {
    Registry registry(os::KEY_ALL_ACCESS | os::KEY_WOW64_64KEY);
    if (!OpenMachineKey(registry, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion") ||
        !registry.ValueExists("ProductName")) {
        return std::nullopt;
    }
    try {
        return registry.ReadString("ProductName");
    } catch (const RegistryError&) {
        return std::nullopt;
    }
}

bool KeyOpensForReading(const char* path) {
    Registry registry(os::KEY_READ);
    return OpenMachineKey(registry, path);
}

// ---- NT family: version part of the name ----

// The version text printed by "ver": the characters after the blank that follows the first "ion",
// up to the first "." of the whole output (1-based position 4 when there is no "ion").
std::string NameFromVerOutput(const std::string& ver, bool workstation) {
    const std::size_t ion = ver.find("ion");
    const std::size_t start = ion == std::string::npos ? 3 : ion + 4;
    const std::size_t dot = ver.find('.');
    std::string name = workstation ? "" : "Server ";
    if (dot != std::string::npos && dot > start) {
        name += ver.substr(start, dot - start);
    }
    return name + " ";
}

// Without a manifest that names them, Windows 8 to 11 all report 6.2; "ver" tells them apart.
std::string NameOfVersion62(bool workstation) {
    const std::string ver = RunCommandCapture("ver");
    if (Contains(ver, " 6.2")) {
        return workstation ? "8 " : "Server 2012 ";
    }
    if (Contains(ver, " 6.3")) {
        return workstation ? "8.1 " : "Server 2012 R2 ";
    }
    if (Contains(ver, " 10")) {
        return workstation ? "10 " : "Server 10 ";
    }
    return NameFromVerOutput(ver, workstation);
}

std::string NameOfServer2003Family(const Machine& machine) {
    if (os::GetSystemMetrics(os::SM_SERVERR2) != 0) {
        return "Server 2003 R2 ";
    }
    if (machine.info.wSuiteMask == kSuiteStorageServer) {
        return "Storage Server 2003";
    }
    if (machine.IsWorkstation() && machine.architecture == os::PROCESSOR_ARCHITECTURE_AMD64) {
        return "XP ";
    }
    return "Server 2003 ";
}

std::string NameOfMajor5(const Machine& machine) {
    switch (machine.info.dwMinorVersion) {
    case 0:
        return "2000 ";
    case 1:
        return "XP ";
    case 2:
        return NameOfServer2003Family(machine);
    default:
        return "Unknown version ";
    }
}

std::string NameOfMajor6(const Machine& machine) {
    const bool workstation = machine.IsWorkstation();
    switch (machine.info.dwMinorVersion) {
    case 0:
        return workstation ? "Vista " : "Server 2008 ";
    case 1:
        return workstation ? "7 " : "Server 2008 R2 ";
    case 2:
        return NameOfVersion62(workstation);
    case 3:
        return workstation ? "8.1 " : "Server 2012 R2 ";
    default:
        return "";
    }
}

std::string NtVersionName(const Machine& machine) {
    switch (machine.info.dwMajorVersion) {
    case 3:
    case 4:
        return "NT ";
    case 5:
        return NameOfMajor5(machine);
    case 6:
        return NameOfMajor6(machine);
    case 10:
        if (machine.info.dwMinorVersion != 0) {
            return "";
        }
        return machine.IsWorkstation() ? "10 " : "Server 2016 ";
    default:
        return NameFromVerOutput(RunCommandCapture("ver"), machine.IsWorkstation());
    }
}

// ---- NT family: edition ----

std::string WorkstationEdition(const Machine& machine) {
    if (machine.info.dwMajorVersion == 4) {
        return "Workstation";
    }
    if (machine.info.dwMajorVersion != 5) {
        return "Unknown Workstation";
    }
    if (machine.info.dwMinorVersion == 2 &&
        machine.architecture == os::PROCESSOR_ARCHITECTURE_AMD64) {
        return "Professional x64";
    }
    if (os::GetSystemMetrics(os::SM_STARTER) != 0) {
        return "Starter";
    }
    if (os::GetSystemMetrics(os::SM_MEDIACENTER) != 0) {
        return "Media Center";
    }
    if (os::GetSystemMetrics(os::SM_TABLETPC) != 0) {
        return "Tablet PC";
    }
    if (machine.HasSuite(kSuitePersonal)) {
        return "Home";
    }
    return machine.HasSuite(kSuiteEmbedded) ? "Embedded" : "Professional";
}

std::string HexCode(unsigned code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", code);
    return text;
}

std::string Server2003Edition(const Machine& machine) {
    switch (machine.architecture) {
    case os::PROCESSOR_ARCHITECTURE_INTEL:
        if (machine.HasSuite(kSuiteComputeServer)) {
            return "Computer Cluster";
        }
        if (machine.HasSuite(kSuiteDatacenter)) {
            return "Datacenter";
        }
        if (machine.HasSuite(kSuiteEnterprise)) {
            return "Enterprise";
        }
        return machine.info.wSuiteMask == kSuiteBlade ? "Web" : "Standard";
    case os::PROCESSOR_ARCHITECTURE_IA64:
        if (machine.HasSuite(kSuiteDatacenter)) {
            return "Datacenter for Itanium-based Systems";
        }
        return machine.HasSuite(kSuiteEnterprise) ? "Enterprise for Itanium-based Systems"
                                                  : "Standard Itanium-based";
    case os::PROCESSOR_ARCHITECTURE_AMD64:
        if (machine.HasSuite(kSuiteDatacenter)) {
            return "Datacenter x64";
        }
        return machine.HasSuite(kSuiteEnterprise) ? "Enterprise x64" : "Standard x64";
    default:
        return "Unknown on Architecture " + HexCode(machine.architecture);
    }
}

std::string ServerEdition(const Machine& machine) {
    const os::DWORD major = machine.info.dwMajorVersion;
    const os::DWORD minor = machine.info.dwMinorVersion;
    if (major == 4) {
        return machine.HasSuite(kSuiteEnterprise) ? "Server 4.0 Enterprise" : "Server 4.0";
    }
    if (major == 5 && minor == 0) {
        if (machine.HasSuite(kSuiteDatacenter)) {
            return "Datacenter Server";
        }
        return machine.HasSuite(kSuiteEnterprise) ? "Advanced Server" : "Server";
    }
    if (major == 5 && minor == 2) {
        return Server2003Edition(machine);
    }
    return machine.info.wProductType == os::VER_NT_SERVER ? "Unknown Server"
                                                          : "Unknown Domain controller";
}

std::string EditionByProductType(const Machine& machine) {
    switch (machine.info.wProductType) {
    case os::VER_NT_WORKSTATION:
        return WorkstationEdition(machine);
    case os::VER_NT_DOMAIN_CONTROLLER:
    case os::VER_NT_SERVER:
        return ServerEdition(machine);
    default:
        return "Unknown";
    }
}

// Before NT 4 SP6 there is no extended record; the product type is kept in the registry, as a
// plain string of at most 256 bytes.
std::string EditionFromProductOptions() {
    Registry registry(os::KEY_READ);
    if (!OpenMachineKey(registry, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions")) {
        return "";
    }
    const std::optional<RegistryText> value = registry.QueryText("ProductType", 256);
    if (!value || value->type != os::REG_SZ) {
        return "";
    }
    std::string type = value->text;
    std::transform(type.begin(), type.end(), type.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    if (type == "WINNT") {
        return "Workstation";
    }
    if (type == "LANMANNT") {
        return "Server";
    }
    return type == "SERVERNT" ? "Advanced Server" : "Unknown";
}

// Major 6 takes its whole name from the registry when it can, then the bitness.
void ApplyMajor6Edition(const Machine& machine, std::string& name) {
    if (std::optional<std::string> product = RegistryProductName()) {
        name = *product;
    }
    if (machine.architecture == os::PROCESSOR_ARCHITECTURE_AMD64) {
        name += " 64-bit";
    } else if (machine.architecture == os::PROCESSOR_ARCHITECTURE_INTEL) {
        name += " 32-bit";
    }
}

void ApplyNtEdition(const Machine& machine, std::string& name) {
    if (!machine.extended) {
        name += EditionFromProductOptions();
    } else if (machine.info.dwMajorVersion == 6) {
        ApplyMajor6Edition(machine, name);
    } else {
        name += EditionByProductType(machine);
    }
}

// ---- Windows 9x family ----

std::string NameOfWindows95(const Machine& machine) {
    const os::DWORD build = machine.info.dwBuildNumber & 0xFFFF;
    const char csd = machine.SecondCsdChar();
    if (build == 1111) {
        return "95 OSR 2.0";
    }
    if (build == 1212 || build == 1213) {
        return "95 OSR 2.1";
    }
    if (build == 1214) {
        return csd == 'C' ? "95 OSR 2.5" : "95 OSR 2.1";
    }
    if (build > 1080) {
        return "95 OSR 2.x";
    }
    return csd == 'A' || csd == 'W' ? "95 OSR 1" : "95";
}

std::string Windows9xName(const Machine& machine) {
    const os::DWORD major = machine.info.dwMajorVersion;
    const os::DWORD minor = machine.info.dwMinorVersion;
    if (major == 4 && (minor == 0 || minor == 3)) {
        return NameOfWindows95(machine);
    }
    if (major == 4 && minor == 10) {
        const char csd = machine.SecondCsdChar();
        const bool secondEdition = machine.info.dwBuildNumber == 2222 || csd == 'A' || csd == 'B';
        return secondEdition ? "98 SE" : "98";
    }
    return major == 4 && minor == 90 ? "Millennium" : "Unknown 9x";
}

std::string ServicePack(const Machine& machine) {
    const char* csd = machine.info.szCSDVersion;
    std::string servicePack(csd, std::find(csd, csd + sizeof machine.info.szCSDVersion, '\0'));
    if (machine.info.dwPlatformId == os::VER_PLATFORM_WIN32_NT &&
        machine.info.dwMajorVersion == 4 && servicePack == "Service Pack 6" &&
        KeyOpensForReading("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009")) {
        servicePack = "Service Pack 6a";
    }
    return servicePack;
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// ---- Command capture ----

std::string ComSpec() {
    char buffer[os::MAX_PATH] = {};
    const os::DWORD length = os::GetEnvironmentVariableA("ComSpec", buffer, os::MAX_PATH);
    return length < os::MAX_PATH ? std::string(buffer, length) : std::string(); // too long: unread
}

// The Windows system folder with its final backslash; empty when Windows does not say.
std::string SystemFolder() {
    char buffer[os::MAX_PATH] = {};
    const os::UINT length = os::GetSystemDirectoryA(buffer, os::MAX_PATH);
    if (length == 0 || length >= os::MAX_PATH) {
        return "";
    }
    std::string folder(buffer, length);
    AddBackslash(folder);
    return folder;
}

// The system folder's cmd.exe, and nothing else. An unelevated program can set ComSpec for the
// user, and the updater runs elevated: whatever ComSpec names, even another program of the system
// folder, is not started. ComSpec still decides whether there is a capture: empty means none.
std::string Interpreter() {
    const std::string system = SystemFolder();
    if (ComSpec().empty() || system.empty()) {
        return "";
    }
    return system + "cmd.exe";
}

// Deletes the attribute list it was given when it goes.
class AttributeListScope {
public:
    explicit AttributeListScope(void* list) : list_(list) {}
    AttributeListScope(const AttributeListScope&) = delete;
    AttributeListScope& operator=(const AttributeListScope&) = delete;
    ~AttributeListScope() { os::DeleteProcThreadAttributeList(list_); }

private:
    void* list_;
};

std::string ReadToEnd(os::HANDLE pipe) {
    std::string bytes;
    char chunk[4096];
    os::DWORD got = 0;
    while (os::ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    return bytes;
}

// Runs `application` hidden with `commandLine` and gives back what it wrote to its standard
// output; empty where any step fails. The output comes through an anonymous pipe, so nothing is
// named in the user's Temp, where an elevated read and delete could be redirected. The pipe's
// write end is the one handle the child inherits (a handle list: Vista on, and the capture runs
// only on Windows 8 and later), so no other handle of the elevated updater leaks into it.
std::string RunHiddenCapturingOutput(const std::string& application, std::string commandLine) {
    os::SECURITY_ATTRIBUTES inheritable{sizeof(os::SECURITY_ATTRIBUTES), nullptr, 1};
    os::HANDLE readEnd = nullptr;
    os::HANDLE writeEnd = nullptr;
    if (!os::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return "";
    }
    const os::ScopedFileHandle reader(readEnd);
    os::ScopedFileHandle writer(writeEnd);
    std::size_t size = 0;
    (void)os::InitializeProcThreadAttributeList(nullptr, 1, 0, &size); // only asks the size
    if (size == 0) {
        return "";
    }
    std::vector<void*> storage((size + sizeof(void*) - 1) / sizeof(void*)); // pointer-aligned
    void* const list = storage.data();
    if (!os::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return "";
    }
    const AttributeListScope listScope(list);
    // Windows keeps a pointer to this array, not a copy: it must live until the process starts.
    os::HANDLE inherited[] = {writer.get()};
    if (!os::UpdateProcThreadAttribute(list, 0, os::PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                       sizeof inherited, nullptr, nullptr)) {
        return "";
    }
    os::STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = os::STARTF_USESHOWWINDOW | os::STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = os::SW_HIDE;
    startup.StartupInfo.hStdOutput = writer.get();
    startup.lpAttributeList = list;
    os::PROCESS_INFORMATION process{};
    if (!os::CreateProcessA(application.c_str(), commandLine.data(), nullptr, nullptr, 1,
                            os::CREATE_NEW_CONSOLE | os::CREATE_NEW_PROCESS_GROUP |
                                os::EXTENDED_STARTUPINFO_PRESENT,
                            nullptr, nullptr, &startup.StartupInfo, &process)) {
        return "";
    }
    const os::ScopedFileHandle processHandle(process.hProcess);
    const os::ScopedFileHandle threadHandle(process.hThread);
    writer.reset(); // with only the child's copy left, the read ends when the child does
    std::string output = ReadToEnd(reader.get());
    os::WaitForSingleObject(processHandle.get(), os::INFINITE);
    return output;
}

// Text lines end at LF (a CR right before it is dropped); each one comes back with CR LF. There
// is always at least one line, so an empty file gives a single CR LF.
std::string AsCrLfLines(const std::string& bytes) {
    std::string lines;
    std::size_t start = 0;
    do {
        const std::size_t lineFeed = bytes.find('\n', start);
        const bool ended = lineFeed != std::string::npos;
        std::size_t end = ended ? lineFeed : bytes.size();
        if (ended && end > start && bytes[end - 1] == '\r') {
            --end;
        }
        lines.append(bytes, start, end - start);
        lines += "\r\n";
        start = ended ? lineFeed + 1 : bytes.size();
    } while (start < bytes.size());
    return lines;
}

} // namespace

std::string RunCommandCapture(const std::string& command) {
    const std::string interpreter = Interpreter();
    if (interpreter.empty()) {
        return "";
    }
    // "/d": without it cmd first runs the user's AutoRun command, elevated like the updater.
    std::string output =
        AsCrLfLines(RunHiddenCapturingOutput(interpreter, "cmd.exe /d /c " + command));
    // Bytes below 0x80 read the same in every OEM and ANSI code page of Windows, so only text
    // with a byte above them is converted: the usual English "ver" then loads no user32.
    const bool ascii = std::all_of(output.begin(), output.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        os::OemToCharBuffA(output.data(), output.data(), static_cast<os::DWORD>(output.size()));
    }
    return output;
}

bool GetWinVersionInfo(std::string& name, std::string& servicePack) {
    Machine machine;
    if (!QueryVersion(machine)) {
        return false;
    }
    machine.architecture = ProcessorArchitecture();
    std::string text = "Microsoft Windows ";
    switch (machine.info.dwPlatformId) {
    case os::VER_PLATFORM_WIN32_WINDOWS:
        text += Windows9xName(machine);
        break;
    case os::VER_PLATFORM_WIN32_NT:
        text += NtVersionName(machine);
        ApplyNtEdition(machine, text);
        break;
    default:
        return false;
    }
    name = text;
    servicePack = ServicePack(machine);
    return true;
}

std::string GetWinVersionText() {
    std::string name;
    std::string servicePack;
    if (!GetWinVersionInfo(name, servicePack)) {
        return "unknown";
    }
    const bool noServicePack =
        std::all_of(servicePack.begin(), servicePack.end(), IsBlankOrControl);
    std::string text = noServicePack ? name : name + " " + servicePack;
    IsWin64 = text.find(" 64") != std::string::npos;
    return text;
}
