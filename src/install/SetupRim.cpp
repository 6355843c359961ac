#include "install/SetupRim.h"

#include "context/ProgInfo.h"

#include <new>
#include <vector>

namespace {

// The new content is written next to the target under this suffix and then renamed over it, so
// a failed write never leaves a truncated file where the host expects its sound bank. Same
// folder, hence same volume: the rename is one step. The host reads only "zorv.3bs", its
// language files and its own executable; a name ending in ".new" is none of those.
constexpr char kNewFileSuffix[] = ".new";

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

// Creates `path` exclusively, writes `bytes` in one write and flushes them to the disk. A file
// it created but could not complete is removed again.
bool WriteFlushedFile(const std::string& path, const std::vector<char>& bytes) {
    os::ScopedFileHandle file(os::CreateFileA(path.c_str(), os::GENERIC_READ | os::GENERIC_WRITE, 0,
                                              nullptr, os::CREATE_ALWAYS, os::FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
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
// complete: written and flushed beside it, then renamed over it in one step.
bool ReplaceWith(const std::string& targetPath, const std::vector<char>& bytes) {
    const std::string newPath = targetPath + kNewFileSuffix;
    if (!WriteFlushedFile(newPath, bytes)) {
        return false;
    }
    if (os::MoveFileExA(newPath.c_str(), targetPath.c_str(),
                        os::MOVEFILE_REPLACE_EXISTING | os::MOVEFILE_WRITE_THROUGH) == 0) {
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
