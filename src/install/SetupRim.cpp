#include "install/SetupRim.h"

#include "base/BriefLock.h"
#include "context/ProgInfo.h"
#include "platform/Random.h"

#include <new>
#include <vector>

namespace {

// The new content is written next to the target under this suffix and then renamed over it, so
// a failed write never leaves a truncated file where the host expects its sound bank. Same
// folder, hence same volume: the rename is one step. The host reads only "zorv.3bs", its
// language files and its own executable; a name ending in ".new" is none of those.
constexpr char kNewFileSuffix[] = ".new";

// The host folder may be one the user's own programs write to ("TheLastRunFolder" is theirs), and
// the updater writes there elevated. So it never deletes or opens what it finds at a name: the
// working file is always created new, at the usual name or, where that is taken (a crash's
// leftover, or a link planted to aim the write elsewhere, which stays as it is), at one of these
// random ones, each "zorv.3bs.<8 letters>.new".
constexpr int kRandomWorkingNames = 4;

void ShowInstallError(const std::string& targetPath) {
    ShowBilingualError("Can't install file " + targetPath,
                       Cp1251("Не удается установить файл ") + targetPath);
}

// Copies the resource `name` of type `type` of the own module into `workingCopy`, in one move.
bool CopyResource(const std::string& name, const std::string& type,
                  std::vector<char>& workingCopy) {
    const os::HRSRC found = os::FindResourceA(nullptr, name.c_str(), type.c_str());
    if (found == nullptr) {
        return false;
    }
    const os::ScopedResource loaded(os::LoadResource(nullptr, found));
    if (!loaded) {
        return false;
    }
    const auto* bytes = static_cast<const char*>(os::LockResource(loaded.get()));
    const os::DWORD size = os::SizeofResource(nullptr, found);
    // SizeofResource reports its failure as 0, and an empty file is never worth installing.
    if (bytes == nullptr || size == 0) {
        return false;
    }
    try {
        workingCopy.assign(bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

os::WString Widen(const std::string& text) {
    const int length = os::MultiByteToWideChar(os::CP_ACP, 0, text.c_str(),
                                               static_cast<int>(text.size()), nullptr, 0);
    os::WString wide(static_cast<std::size_t>(length > 0 ? length : 0), os::WCHAR{0});
    if (length > 0) {
        os::MultiByteToWideChar(os::CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                wide.data(), length);
    }
    return wide;
}

// The host folder, held open from before the first write until after the rename: without
// sharing deletion, so that nobody can rename or delete it, or a folder above it, meanwhile; and
// named by its final path, which no junction or link of the path the user gave can re-point.
struct FixedFolder {
    os::ScopedFileHandle handle;
    os::WString path; // ends in a backslash
};

// Where Windows has no final-path query (2000 and XP, which have no UAC either), the held handle
// still keeps the folder in place, and the path stays as given.
bool FinalPathOf(os::HANDLE folder, os::WString& path) {
    os::WString final(os::MAX_PATH, os::WCHAR{0});
    os::DWORD length = os::GetFinalPathNameByHandleW(folder, final.data(),
                                                     static_cast<os::DWORD>(final.size()), 0);
    if (length >= final.size()) {
        final.resize(length);
        length = os::GetFinalPathNameByHandleW(folder, final.data(),
                                               static_cast<os::DWORD>(final.size()), 0);
    }
    if (length == 0 || length >= final.size()) {
        return length == 0 && os::GetLastError() == os::ERROR_PROC_NOT_FOUND;
    }
    final.resize(length);
    path = final;
    return true;
}

// Opens the folder as a file-system directory; false where it is none (an object-manager
// directory behind a junction, say), and the install then touches nothing. Reading and writing
// are shared: renaming into the folder opens it for writing.
bool FixFolder(const std::string& folder, FixedFolder& fixed) {
    os::WString path = Widen(folder);
    fixed.handle.reset(os::CreateFileW(path.c_str(), os::FILE_LIST_DIRECTORY,
                                       os::FILE_SHARE_READ | os::FILE_SHARE_WRITE, nullptr,
                                       os::OPEN_EXISTING, os::FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!fixed.handle || !FinalPathOf(fixed.handle.get(), path)) {
        return false;
    }
    if (path.empty() || path.back() != os::WCHAR{'\\'}) {
        path += os::WCHAR{'\\'};
    }
    fixed.path = path;
    return true;
}

// A new file at `path`, opened without sharing; CREATE_NEW fails rather than open whatever
// already stands at the name, a link included.
os::ScopedFileHandle CreateNewFile(const os::WString& path) {
    return os::ScopedFileHandle(os::CreateFileW(path.c_str(), os::GENERIC_READ | os::GENERIC_WRITE,
                                                0, nullptr, os::CREATE_NEW,
                                                os::FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The working file, created new at `target` + ".new" or else at a random name beside it; sets
// `path` to the name that was created.
os::ScopedFileHandle CreateWorkingFile(const os::WString& target, os::WString& path) {
    path = target + Widen(kNewFileSuffix);
    os::ScopedFileHandle file = CreateNewFile(path);
    for (int attempt = 0; !file && attempt < kRandomWorkingNames; ++attempt) {
        std::string letters = ".";
        for (int letter = 0; letter < 8; ++letter) {
            letters += static_cast<char>('a' + RandomBelow(26));
        }
        path = target + Widen(letters + kNewFileSuffix);
        file = CreateNewFile(path);
    }
    return file;
}

// Creates the working file, writes `bytes` in one write and flushes them to the disk; sets
// `path` to its name. A file it created but could not complete is removed again.
bool WriteFlushedFile(const os::WString& target, const std::vector<char>& bytes,
                      os::WString& path) {
    os::ScopedFileHandle file = CreateWorkingFile(target, path);
    if (!file) {
        return false;
    }
    const auto size = static_cast<os::DWORD>(bytes.size());
    os::DWORD written = 0;
    const bool complete = os::WriteFile(file.get(), bytes.data(), size, &written, nullptr) != 0 &&
                          written == size && os::FlushFileBuffers(file.get()) != 0;
    file.reset(); // closed before it is renamed or deleted: it was opened without sharing
    if (!complete) {
        os::DeleteFileW(path.c_str());
    }
    return complete;
}

// Puts `bytes` at `targetPath` so that the old file stays as it was unless the new one is
// complete: written and flushed beside it, then renamed over it in one step, all inside the
// fixed folder. A scanner that looks at the old file for a moment is waited out.
bool ReplaceWith(const std::string& targetPath, const std::vector<char>& bytes) {
    const std::string::size_type slash = targetPath.rfind('\\');
    FixedFolder folder;
    if (slash == std::string::npos || !FixFolder(targetPath.substr(0, slash + 1), folder)) {
        return false;
    }
    const os::WString target = folder.path + Widen(targetPath.substr(slash + 1));
    os::WString newPath;
    if (!WriteFlushedFile(target, bytes, newPath)) {
        return false;
    }
    const bool replaced = RetryWhileBrieflyLocked([&] {
        return os::MoveFileExW(newPath.c_str(), target.c_str(),
                               os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (!replaced) {
        os::DeleteFileW(newPath.c_str());
        return false;
    }
    return true;
}

} // namespace

void InstallFile(const std::string& baseName, const std::string& ext,
                 const std::string& targetPath) {
    std::vector<char> workingCopy;
    if (!CopyResource(baseName, ext, workingCopy) || !ReplaceWith(targetPath, workingCopy)) {
        ShowInstallError(targetPath);
    }
}

std::int32_t ReadBankVersion(os::HANDLE file) {
    char magic[4] = {};
    os::DWORD read = 0;
    if (os::ReadFile(file, magic, sizeof magic, &read, nullptr) == 0 || read != sizeof magic) {
        return 0;
    }
    char skipped = 0;
    if (os::ReadFile(file, &skipped, 1, &read, nullptr) == 0 || read != 1) {
        return 0;
    }
    std::uint8_t version = 0;
    if (os::ReadFile(file, &version, 1, &read, nullptr) == 0 || read != 1) {
        return 0;
    }
    return version;
}
