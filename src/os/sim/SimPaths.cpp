// Path parsing, NTFS-like case-insensitive lookup on the Linux disk, and share-mode checks.
#include "os/sim/SimPaths.h"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>

namespace os::sim::detail {
namespace {

constexpr DWORD kDeleteAccess = 0x00010000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kFileReadData = 0x1;
constexpr DWORD kFileWriteData = 0x2;
constexpr DWORD kFileAppendData = 0x4;
constexpr std::uint64_t kUnixEpochIn100ns = 116444736000000000ULL;

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char UpperDrive(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

void Append(WinPath& path, const std::vector<std::string>& parts) {
    for (const auto& part : parts) {
        if (part == "..") {
            if (!path.parts.empty()) {
                path.parts.pop_back();
            }
        } else if (part != ".") {
            path.parts.push_back(part);
        }
    }
}

bool IsFolder(const std::string& host) {
    const auto info = StatOf(host);
    return info && S_ISDIR(info->st_mode);
}

// The stored name in `folder` that equals `name` without regard to ASCII case, else `name`.
std::string StoredName(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return name;
    }
    std::string stored = name;
    while (const dirent* entry = readdir(dir)) {
        if (EqualNoCase(entry->d_name, name)) {
            stored = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return stored;
}

} // namespace

std::string WinPath::Text() const {
    std::string text{drive, ':'};
    if (parts.empty()) {
        return text + '\\';
    }
    for (const auto& part : parts) {
        text += '\\' + part;
    }
    return text;
}

WinPath WinPath::Parent() const {
    WinPath parent = *this;
    if (!parent.parts.empty()) {
        parent.parts.pop_back();
    }
    return parent;
}

std::optional<WinPath> ParseWinPath(const char* path) {
    if (path == nullptr || *path == '\0') {
        return std::nullopt;
    }
    std::string_view text(path);
    // "\\?\C:\..." names the same file as "C:\..."; "\\?\UNC\..." a network one.
    if (text.size() > 6 && text.substr(0, 4) == "\\\\?\\" && text[5] == ':') {
        text.remove_prefix(4);
    }
    const auto current = [] {
        const std::string& folder = TheWorld().currentDirectory;
        return WinPath{folder[0], SplitPath(folder.substr(2))};
    };
    WinPath result{};
    if (text.size() >= 2 && text[1] == ':' && IsDriveLetter(text[0])) {
        const bool absolute = text.size() > 2 && (text[2] == '\\' || text[2] == '/');
        result = WinPath{UpperDrive(text[0]), {}};
        if (!absolute && result.drive == current().drive) {
            result = current();
        }
        Append(result, SplitPath(text.substr(2)));
    } else if (text[0] == '\\' || text[0] == '/') {
        if (text.size() > 1 && (text[1] == '\\' || text[1] == '/')) {
            return std::nullopt; // network paths do not exist on this machine
        }
        result = WinPath{current().drive, {}};
        Append(result, SplitPath(text));
    } else {
        result = current();
        Append(result, SplitPath(text));
    }
    return result;
}

std::string RealPath(const std::string& host) {
    char* real = realpath(host.c_str(), nullptr);
    if (real == nullptr) {
        return "";
    }
    std::string text = real;
    std::free(real);
    return text;
}

bool IsObjectDirectory(const std::string& host) {
    const auto& directories = TheWorld().objectDirectories;
    return !directories.empty() && directories.count(RealPath(host)) != 0;
}

namespace {

// A name in an object-manager directory is a symbolic link that every call follows, a delete or
// rename included; a name without one names nothing that could be created.
HostLocation ThroughObjectDirectory(const HostLocation& location) {
    const auto slash = location.host.rfind('/');
    if (!location.parentExists || !IsObjectDirectory(location.host.substr(0, slash))) {
        return location;
    }
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(location.host, error);
    if (error) {
        return HostLocation{location.host, false};
    }
    return HostLocation{target.string(), IsFolder(target.parent_path().string())};
}

} // namespace

HostLocation Locate(const WinPath& path) {
    HostLocation location{DiskRoot() + '/' + path.drive, true};
    for (std::size_t i = 0; i < path.parts.size(); ++i) {
        location.parentExists = location.parentExists && IsFolder(location.host);
        location.host += '/' + (location.parentExists ? StoredName(location.host, path.parts[i])
                                                      : path.parts[i]);
    }
    return ThroughObjectDirectory(location);
}

std::optional<struct stat> StatOf(const std::string& host, bool followLinks) {
    struct stat info {};
    const int result = followLinks ? stat(host.c_str(), &info) : lstat(host.c_str(), &info);
    if (result != 0) {
        return std::nullopt;
    }
    return info;
}

FILETIME FileTimeOf(const struct timespec& time) {
    const std::uint64_t ticks = kUnixEpochIn100ns +
                                static_cast<std::uint64_t>(time.tv_sec) * 10000000ULL +
                                static_cast<std::uint64_t>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

DWORD AccessBits(DWORD desiredAccess) {
    DWORD bits = 0;
    if ((desiredAccess & (GENERIC_READ | kGenericAll | kFileReadData)) != 0) {
        bits |= FILE_SHARE_READ;
    }
    if ((desiredAccess & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0) {
        bits |= FILE_SHARE_WRITE;
    }
    if ((desiredAccess & (kDeleteAccess | kGenericAll)) != 0) {
        bits |= FILE_SHARE_DELETE;
    }
    return bits;
}

// An open for attributes only takes no part in sharing, on either side, as in NTFS.
bool SharingConflict(const FileIdentity& file, DWORD access, DWORD share) {
    ReleaseDueHolds();
    const auto collides = [&](DWORD otherAccess, DWORD otherShare) {
        if (access == 0 || otherAccess == 0) {
            return false;
        }
        return (access & ~otherShare & kShareAll) != 0 || (otherAccess & ~share & kShareAll) != 0;
    };
    const World& world = TheWorld();
    for (const auto& [handle, object] : world.objects) {
        const auto* open = std::get_if<OpenFile>(&object);
        if (open != nullptr && open->identity == file && collides(open->access, open->share)) {
            return true;
        }
    }
    for (const auto& [id, hold] : world.holds) {
        if (hold.identity == file && collides(FILE_SHARE_READ, hold.share)) {
            return true;
        }
    }
    return false;
}

bool HeldOpen(const FileIdentity& file) {
    ReleaseDueHolds();
    const World& world = TheWorld();
    for (const auto& [handle, object] : world.objects) {
        const auto* open = std::get_if<OpenFile>(&object);
        if (open != nullptr && open->identity == file) {
            return true;
        }
    }
    for (const auto& [id, hold] : world.holds) {
        if (hold.identity == file) {
            return true;
        }
    }
    return false;
}

} // namespace os::sim::detail
