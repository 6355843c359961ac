#include "driver/HostDiscovery.h"

#include "driver/HostInterface.h"
#include "driver/ProgInfo.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

std::string ProgramFilesFolder(Registry& registry) {
    registry.SetRootKey(os::HKEY_LOCAL_MACHINE);
    const CurrentKeyScope scope(registry);
    registry.OpenKey(WinCurrentVersionKey, false);
    std::string folder;
    if (registry.ValueExists("ProgramFilesDir")) {
        folder = registry.ReadString("ProgramFilesDir");
    }
    AddBackslash(folder);
    return folder;
}

// Reads a few shell folders only to learn whether the registry answers at all.
bool RegistryReadable(Registry& registry) {
    try {
        registry.SetRootKey(os::HKEY_CURRENT_USER);
        const CurrentKeyScope scope(registry);
        registry.OpenKey(std::string(WinCurrentVersionKey) + "Explorer\\Shell Folders", false);
        for (const char* name : {"Programs", "Desktop", "Startup"}) {
            if (registry.ValueExists(name)) {
                registry.ReadString(name);
            }
        }
        return true;
    } catch (const RegistryError&) {
        ShowBilingualError("No access to system registry",
                           Cp1251("Нет доступа к системному реестру"));
        return false;
    }
}

// The folder of an uninstall command is everything up to its last backslash; the final character
// is never looked at. A command with no backslash before it leaves `folder` as it was.
void TakeFolderOfCommand(const std::string& command, std::string& folder) {
    if (command.size() < 2) {
        return;
    }
    const std::size_t backslash = command.rfind('\\', command.size() - 2);
    if (backslash != std::string::npos) {
        folder = command.substr(0, backslash + 1);
    }
}

// True when the entry has an "UninstallString"; the host folder is then taken from it.
bool TakeFolderFromUninstallEntry(Registry& registry, const std::string& entryKey) {
    registry.SetRootKey(os::HKEY_LOCAL_MACHINE);
    const CurrentKeyScope scope(registry);
    registry.OpenKey(entryKey, false);
    if (!registry.ValueExists(host::UninstallStringValue)) {
        return false;
    }
    TakeFolderOfCommand(registry.ReadString(host::UninstallStringValue), Ctx.HostFolder);
    return true;
}

// The same uninstall key as a 32-bit installer writes it on 64-bit Windows.
std::string Wow64UninstallKey(const std::string& uninstallKey) {
    std::string key = uninstallKey;
    const std::size_t firstBackslash = key.find('\\');
    key.insert(firstBackslash == std::string::npos ? key.size() : firstBackslash + 1,
               host::Wow64NodeKey);
    return key;
}

// Files count with their full 64-bit size; the total stops at the largest KiB count that fits.
std::int32_t KibibytesOf(std::uint64_t bytes) {
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(std::min(bytes >> 10, kLargest));
}

bool IsExistingFolder(const std::string& path) {
    const os::DWORD attributes = os::GetFileAttributesA(path.c_str());
    return attributes != os::INVALID_FILE_ATTRIBUTES &&
           (attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Adds the sizes of the files in `folder` and queues its subfolders. Junctions and symbolic
// links are not followed, so a link back to an enclosing folder cannot make the walk endless.
std::uint64_t ScanFolder(std::string folder, std::vector<std::string>& toVisit) {
    AddBackslash(folder);
    std::uint64_t bytes = 0;
    os::WIN32_FIND_DATAA entry{};
    const os::ScopedFindHandle find(os::FindFirstFileA((folder + "*.*").c_str(), &entry));
    if (!find) {
        return bytes;
    }
    do {
        if ((entry.dwFileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) == 0) {
            bytes += static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
        } else if (!IsDotEntry(entry.cFileName) &&
                   (entry.dwFileAttributes & os::FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            toVisit.push_back(folder + entry.cFileName);
        }
    } while (os::FindNextFileA(find.get(), &entry));
    return bytes;
}

} // namespace

bool DiscoverHost() {
    Registry& registry = *Ctx.ProgRegistry;
    const std::string programFilesFolder = ProgramFilesFolder(registry);
    Ctx.IsAdmin = os::IsUserAnAdmin() != 0;
    if (!RegistryReadable(registry)) {
        return false;
    }
    Ctx.UninstallKey = std::string(WinCurrentVersionKey) + host::UninstallSubKey;
    Ctx.HostFolder = programFilesFolder + Ctx.ProgName;
    if (!TakeFolderFromUninstallEntry(registry, Ctx.UninstallKey + Ctx.ProgName)) {
        TakeFolderFromUninstallEntry(registry, Wow64UninstallKey(Ctx.UninstallKey) + Ctx.ProgName);
    }
    AddBackslash(Ctx.HostFolder);
    return true;
}

void AddBackslash(std::string& path) {
    if (!path.empty() && path.back() != '\\') {
        path += '\\';
    }
}

std::int32_t FolderSize(const std::string& path) {
    if (path.empty() || !IsExistingFolder(path)) {
        return -1;
    }
    std::uint64_t bytes = 0;
    std::vector<std::string> toVisit{path};
    for (std::size_t next = 0; next < toVisit.size(); ++next) {
        bytes += ScanFolder(toVisit[next], toVisit); // breadth-first: appended folders come later
    }
    return KibibytesOf(bytes);
}
