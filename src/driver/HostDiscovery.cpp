#include "driver/HostDiscovery.h"

#include "base/PathTools.h"
#include "context/HostInterface.h"
#include "context/ProgInfo.h"

namespace {

std::string ProgramFilesFolder(Registry& registry) {
    registry.SetRootKey(os::HKEY_LOCAL_MACHINE);
    const CurrentKeyScope scope(registry);
    // Without the key there is no value either, and the folder stays empty.
    (void)registry.OpenKey(WinCurrentVersionKey, false);
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
        // Only a read that fails proves the registry unreadable; a missing key shows no values.
        (void)registry.OpenKey(std::string(WinCurrentVersionKey) + "Explorer\\Shell Folders",
                               false);
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
    // A missing entry has no "UninstallString", which is what the caller is told.
    (void)registry.OpenKey(entryKey, false);
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

} // namespace

bool DiscoverHost() {
    Registry& registry = *Ctx.ProgRegistry;
    const std::string programFilesFolder = ProgramFilesFolder(registry);
    Ctx.IsAdmin = os::IsAdministrator() != 0;
    if (!RegistryReadable(registry)) {
        return false;
    }
    Ctx.UninstallKey = std::string(WinCurrentVersionKey) + host::UninstallSubKey;
    Ctx.HostFolder = programFilesFolder + Ctx.ProgName;
    Ctx.HostEntryKey = Ctx.UninstallKey + Ctx.ProgName;
    if (!TakeFolderFromUninstallEntry(registry, Ctx.HostEntryKey)) {
        // A 32-bit installer's entry on 64-bit Windows. The size must go to it too: a plain key
        // made beside it would hold nothing but the size, and Windows would list it nowhere.
        const std::string wow64EntryKey = Wow64UninstallKey(Ctx.UninstallKey) + Ctx.ProgName;
        if (TakeFolderFromUninstallEntry(registry, wow64EntryKey)) {
            Ctx.HostEntryKey = wow64EntryKey;
        }
    }
    AddBackslash(Ctx.HostFolder);
    return true;
}
