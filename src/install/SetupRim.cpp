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

// The host folder may be one the user's own programs write to, and the updater writes there
// elevated: whatever stands at the working name (a crash's leftover, read-only or hidden, or a
// hard or symbolic link aimed at a file elsewhere) must not receive the bytes. So the working
// file is always created new; when the usual name cannot be freed, one of these random ones is
// tried, each as "zorv.3bs.<8 letters>.new".
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

// A new file at `path`, opened without sharing; CREATE_NEW fails rather than open whatever
// already stands at the name, a link included.
os::ScopedFileHandle CreateNewFile(const std::string& path) {
    return os::ScopedFileHandle(os::CreateFileA(path.c_str(), os::GENERIC_READ | os::GENERIC_WRITE,
                                                0, nullptr, os::CREATE_NEW,
                                                os::FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The working file, created new: at `targetPath` + ".new" once whatever stood there is removed
// as a name (DeleteFileA removes a link, never its target; a read-only leftover stays, and its
// attributes are left alone, since for a hard link they belong to a file elsewhere), or else at
// a random name beside it. Sets `path` to the name that was created.
os::ScopedFileHandle CreateWorkingFile(const std::string& targetPath, std::string& path) {
    path = targetPath + kNewFileSuffix;
    os::DeleteFileA(path.c_str());
    os::ScopedFileHandle file = CreateNewFile(path);
    for (int attempt = 0; !file && attempt < kRandomWorkingNames; ++attempt) {
        path = targetPath + '.';
        for (int letter = 0; letter < 8; ++letter) {
            path += static_cast<char>('a' + RandomBelow(26));
        }
        path += kNewFileSuffix;
        file = CreateNewFile(path);
    }
    return file;
}

// Creates the working file, writes `bytes` in one write and flushes them to the disk; sets
// `path` to its name. A file it created but could not complete is removed again.
bool WriteFlushedFile(const std::string& targetPath, const std::vector<char>& bytes,
                      std::string& path) {
    os::ScopedFileHandle file = CreateWorkingFile(targetPath, path);
    if (!file) {
        return false;
    }
    const auto size = static_cast<os::DWORD>(bytes.size());
    os::DWORD written = 0;
    const bool complete = os::WriteFile(file.get(), bytes.data(), size, &written, nullptr) != 0 &&
                          written == size && os::FlushFileBuffers(file.get()) != 0;
    file.reset(); // closed before it is renamed or deleted: it was opened without sharing
    if (!complete) {
        os::DeleteFileA(path.c_str());
    }
    return complete;
}

// Puts `bytes` at `targetPath` so that the old file stays as it was unless the new one is
// complete: written and flushed beside it, then renamed over it in one step. A scanner that
// looks at the old file for a moment is waited out.
bool ReplaceWith(const std::string& targetPath, const std::vector<char>& bytes) {
    std::string newPath;
    if (!WriteFlushedFile(targetPath, bytes, newPath)) {
        return false;
    }
    const bool replaced = RetryWhileBrieflyLocked([&] {
        return os::MoveFileExA(newPath.c_str(), targetPath.c_str(),
                               os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (!replaced) {
        os::DeleteFileA(newPath.c_str());
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
