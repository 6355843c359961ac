// Windows paths of the simulated disk and the Linux paths behind them, private to os/sim.
#pragma once

#include "os/sim/SimWorld.h"

#include <sys/stat.h>

namespace os::sim::detail {

// An absolute Windows path: drive letter and components, "." and ".." already applied.
struct WinPath {
    char drive;
    std::vector<std::string> parts;
    [[nodiscard]] std::string Text() const; // "C:\a\b", "C:\" for a drive root
    [[nodiscard]] WinPath Parent() const;
};

// Relative paths count from the current folder; nullopt for what no drive path can name.
std::optional<WinPath> ParseWinPath(const char* path);

// The Linux path behind a Windows path: existing components in their stored spelling, new ones
// as given. `parentExists` says every folder above the last component exists.
struct HostLocation {
    std::string host;
    bool parentExists;
};
HostLocation Locate(const WinPath& path);
// The Linux path with every link resolved; empty when nothing is there.
std::string RealPath(const std::string& host);
// Whether the Linux folder (through any links) stands for an object-manager directory.
bool IsObjectDirectory(const std::string& host);

std::optional<struct stat> StatOf(const std::string& host, bool followLinks = true);
FILETIME FileTimeOf(const struct timespec& time);

// Access and share bits share one layout: read 1, write 2, delete 4.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
DWORD AccessBits(DWORD desiredAccess);

// Whether an open with `access` and `share` collides with one already on the file.
bool SharingConflict(const FileIdentity& file, DWORD access, DWORD share);
// Whether any handle or hold keeps the file open, whatever it shares.
bool HeldOpen(const FileIdentity& file);

} // namespace os::sim::detail
