#include "base/PathTools.h"

#include "os/os.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

namespace {

// What the file system calls a folder, the same through every link or junction that leads to it.
struct FolderIdentity {
    os::DWORD volume;
    os::DWORD indexHigh;
    os::DWORD indexLow;
    bool operator<(const FolderIdentity& other) const {
        return std::tie(volume, indexHigh, indexLow) <
               std::tie(other.volume, other.indexHigh, other.indexLow);
    }
};

// A drive root keeps its backslash ("C:" alone would be the drive's current folder).
std::string WithoutTrailingBackslash(std::string path) {
    if (path.size() > 1 && path.back() == '\\' && path[path.size() - 2] != ':') {
        path.pop_back();
    }
    return path;
}

// Backup semantics is what lets CreateFileA open a folder; attribute access conflicts with no
// share mode, so a folder that others hold open is still measured. Some network redirectors
// report no file index (zero, with or without a volume serial number): that names no folder, so
// it counts as unknown, like an identity that cannot be read.
std::optional<FolderIdentity> IdentityOf(const std::string& folder) {
    const os::ScopedFileHandle handle(
        os::CreateFileA(WithoutTrailingBackslash(folder).c_str(), os::FILE_READ_ATTRIBUTES,
                        os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE, nullptr,
                        os::OPEN_EXISTING, os::FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    os::BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !os::GetFileInformationByHandle(handle.get(), &info) ||
        (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) {
        return std::nullopt;
    }
    return FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
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

// The folder, its backslash and "*.*" with the terminating zero, within MAX_PATH.
bool FitsFindPattern(const std::string& folder) {
    const std::size_t backslash = folder.back() == '\\' ? 0 : 1;
    return folder.size() + backslash + 3 < os::MAX_PATH;
}

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Adds the sizes of the files in `folder` and queues every subfolder, links and junctions
// included.
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
        } else if (!IsDotEntry(entry.cFileName)) {
            toVisit.push_back(folder + entry.cFileName);
        }
    } while (os::FindNextFileA(find.get(), &entry));
    return bytes;
}

} // namespace

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

void AddBackslash(std::string& path) {
    if (!path.empty() && path.back() != '\\') {
        path += '\\';
    }
}

// Breadth-first: appended folders come later. Only a folder whose known identity was already
// entered is skipped, so a link back to an enclosing folder ends there; one of unknown identity
// is entered, so nothing is left out. A cycle of links through such folders is cut by the path's
// length: FindFirstFileA takes no pattern of MAX_PATH characters or more, and every turn of a
// cycle makes the path longer.
std::int32_t FolderSize(const std::string& path) {
    if (path.empty() || !IsExistingFolder(path)) {
        return -1;
    }
    std::uint64_t bytes = 0;
    std::set<FolderIdentity> entered;
    std::vector<std::string> toVisit{path};
    for (std::size_t next = 0; next < toVisit.size(); ++next) {
        const std::string folder = toVisit[next]; // a copy: scanning appends to the list
        const std::optional<FolderIdentity> identity = IdentityOf(folder);
        const bool seen = identity && !entered.insert(*identity).second;
        if (!seen && FitsFindPattern(folder)) {
            bytes += ScanFolder(folder, toVisit);
        }
    }
    return KibibytesOf(bytes);
}
