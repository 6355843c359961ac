// Directory search: Windows wildcards, "." and ".." first, then NTFS (upper-case) order.
#include "os/sim/SimPaths.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>

namespace os::sim::detail {
namespace {

constexpr DWORD kReparseTagMountPoint = 0xA0000003;

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper;
}

// '*' any run of characters, '?' one character; "*.*" also takes names without a dot.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") {
        return true;
    }
    std::size_t p = 0;
    std::size_t n = 0;
    std::optional<std::size_t> star;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starName = n;
        } else if (star) {
            p = *star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

WIN32_FIND_DATAA FindDataOf(const std::string& name, const struct stat& info, bool junction) {
    WIN32_FIND_DATAA data{};
    if (junction) {
        data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        data.dwReserved0 = kReparseTagMountPoint;
    } else if (S_ISDIR(info.st_mode)) {
        data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        const auto size = static_cast<std::uint64_t>(info.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    }
    data.ftCreationTime = FileTimeOf(info.st_ctim);
    data.ftLastAccessTime = FileTimeOf(info.st_atim);
    data.ftLastWriteTime = FileTimeOf(info.st_mtim);
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return data;
}

std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
    return names;
}

std::vector<WIN32_FIND_DATAA> MatchingEntries(const WinPath& folder, const std::string& pattern) {
    const std::string host = Locate(folder).host;
    const std::string upperPattern = Upper(pattern);
    std::vector<WIN32_FIND_DATAA> entries;
    const auto add = [&](const std::string& name, const std::string& entryHost) {
        const auto linkInfo = StatOf(entryHost, false);
        const auto info = StatOf(entryHost);
        if (linkInfo && WildcardMatch(upperPattern, Upper(name))) {
            entries.push_back(
                FindDataOf(name, info ? *info : *linkInfo, S_ISLNK(linkInfo->st_mode)));
        }
    };
    if (!folder.parts.empty()) {
        add(".", host);
        add("..", Locate(folder.Parent()).host);
    }
    for (const auto& name : SortedNames(host)) {
        add(name, host + '/' + name);
    }
    return entries;
}

} // namespace
} // namespace os::sim::detail

namespace os {

using namespace sim::detail;
using sim::Call;

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* findData) {
    CatchUpHost();
    const auto path = ParseWinPath(pattern);
    LogCall("FindFirstFileA", path ? path->Text() : "");
    DWORD error = 0;
    if (Faulted(Call::FindFirstFile, {path ? path->Text() : ""}, error)) {
        SetError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!path || findData == nullptr) {
        SetError(path ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string_view text(pattern);
    if (path->parts.empty() || text.back() == '\\' || text.back() == '/') {
        SetError(ERROR_FILE_NOT_FOUND); // a folder name alone matches nothing
        return INVALID_HANDLE_VALUE;
    }
    const WinPath folder = path->Parent();
    const auto folderInfo = StatOf(Locate(folder).host);
    if (!folderInfo || !S_ISDIR(folderInfo->st_mode)) {
        SetError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    FindSearch search{path->Text(), MatchingEntries(folder, path->parts.back()), 1};
    if (search.entries.empty()) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *findData = search.entries.front();
    return AddObject(std::move(search));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* findData) {
    FindSearch* search = ObjectAs<FindSearch>(find);
    LogCall("FindNextFileA", search != nullptr ? search->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::FindNextFile, {search != nullptr ? search->winPath : ""}, error)) {
        SetError(error);
        return 0;
    }
    if (search == nullptr || findData == nullptr) {
        SetError(search == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (search->next >= search->entries.size()) {
        SetError(ERROR_NO_MORE_FILES);
        return 0;
    }
    *findData = search->entries[search->next++];
    return 1;
}

BOOL FindClose(HANDLE find) {
    const FindSearch* search = ObjectAs<FindSearch>(find);
    LogCall("FindClose", search != nullptr ? search->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::FindClose, {search != nullptr ? search->winPath : ""}, error)) {
        SetError(error);
        return 0;
    }
    if (search == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return 0;
    }
    TheWorld().objects.erase(reinterpret_cast<std::uintptr_t>(find));
    return 1;
}

} // namespace os
