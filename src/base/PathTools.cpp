#include "base/PathTools.h"

#include "os/os.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

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
