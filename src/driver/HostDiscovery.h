// Finding the host's installation: folder, uninstall entry, administrator rights; path tools.
#pragma once

#include <cstdint>
#include <string>

// Fills Ctx.HostFolder, Ctx.UninstallKey and Ctx.IsAdmin. False when the registry cannot be read
// (the user has been told).
bool DiscoverHost();
void AddBackslash(std::string& path);
// Size in KiB of every file below the folder, or -1 when the path is empty or no folder.
std::int32_t FolderSize(const std::string& path);
