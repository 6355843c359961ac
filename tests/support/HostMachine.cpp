#include "support/HostMachine.h"

#include "os/sim/Sim.h"

#include <fstream>

namespace sim_tests {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file ? bytes : std::string();
}

void RegisterHost(const std::string& hostFolder, bool withUninstallEntry) {
    const std::string currentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
    os::sim::SetRegString(os::HKEY_LOCAL_MACHINE, currentVersion, "ProgramFilesDir",
                          "C:\\Program Files");
    for (const char* name : {"Programs", "Desktop", "Startup"}) {
        os::sim::SetRegString(os::HKEY_CURRENT_USER, currentVersion + "\\Explorer\\Shell Folders",
                              name, std::string("C:\\Users\\user\\") + name);
    }
    if (withUninstallEntry) {
        os::sim::SetRegString(os::HKEY_LOCAL_MACHINE, currentVersion + "\\Uninstall\\Zelm",
                              "UninstallString", hostFolder + "unins000.exe");
    }
}

} // namespace sim_tests
