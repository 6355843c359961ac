// A simulated machine on which the host was installed, for tests and benchmarks that run the
// update or a part of it.
#pragma once

#include <string>

namespace sim_tests {

// The whole file from the Linux disk; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// What the host's installer leaves in the registry: the program-files folder, the shell folders
// the updater reads to prove the registry answers, and (optionally) the uninstall entry whose
// command lies in `hostFolder`.
void RegisterHost(const std::string& hostFolder, bool withUninstallEntry = true);

} // namespace sim_tests
