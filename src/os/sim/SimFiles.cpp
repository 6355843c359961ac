// Files of the simulated disk: the test API, CreateFileA and the calls on open files, holds of
// other processes and writes that run out of disk.
#include "os/sim/SimPaths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace os::sim {
namespace detail {
namespace {

constexpr DWORD ERROR_DIRECTORY = 267;

WinPath MustParse(const std::string& winPath) {
    auto path = ParseWinPath(winPath.c_str());
    if (!path) {
        std::fprintf(stderr, "simulated Windows: not a drive path: '%s'\n", winPath.c_str());
        std::abort();
    }
    return *path;
}

std::string HostOf(const std::string& winPath) {
    return Locate(MustParse(winPath)).host;
}

std::optional<FileIdentity> IdentityOf(const std::string& host) {
    const auto info = StatOf(host);
    if (!info) {
        return std::nullopt;
    }
    return FileIdentity{info->st_dev, info->st_ino};
}

std::string PathText(const char* path) {
    const auto parsed = ParseWinPath(path);
    return parsed ? parsed->Text() : std::string(path != nullptr ? path : "");
}

template <class Result> Result Fail(DWORD error, Result result) {
    SetError(error);
    return result;
}

// The bytes a handle may still write before FailWritesAfter stops it.
std::optional<std::uint64_t> WriteAllowance(const OpenFile& file) {
    std::optional<std::uint64_t> allowance;
    for (const WriteLimit& limit : TheWorld().writeLimits) {
        if (ContainsNoCase(file.winPath, limit.pathPart)) {
            const std::uint64_t left = limit.bytes > file.written ? limit.bytes - file.written : 0;
            allowance = std::min(allowance.value_or(left), left);
        }
    }
    return allowance;
}

struct CreateRequest {
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD attributes;     // of the flags and attributes
    bool backupSemantics; // the flag without which a folder cannot be opened
};

DWORD AttributesOf(const struct stat& info) {
    const auto& attributes = TheWorld().fileAttributes;
    const auto found = attributes.find(FileIdentity{info.st_dev, info.st_ino});
    return found != attributes.end() ? found->second : 0;
}

// A file's attributes go with its last name, so that a new file never inherits them.
void ForgetAttributesOfLastName(const struct stat& info) {
    if (S_ISREG(info.st_mode) && info.st_nlink == 1) {
        TheWorld().fileAttributes.erase(FileIdentity{info.st_dev, info.st_ino});
    }
}

// The checks of CreateFileA in the order Windows makes them; 0 when the open may go ahead.
DWORD CreateError(const HostLocation& location, const CreateRequest& request) {
    if (request.disposition < CREATE_NEW || request.disposition > TRUNCATE_EXISTING) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!location.parentExists) {
        return ERROR_PATH_NOT_FOUND;
    }
    // An object-manager directory is no file-system folder: nothing opens it as one.
    if (IsObjectDirectory(location.host)) {
        return ERROR_INVALID_FUNCTION;
    }
    // The name itself counts, so a symbolic link to nothing exists too.
    if (request.disposition == CREATE_NEW && StatOf(location.host, false)) {
        return ERROR_FILE_EXISTS;
    }
    const auto info = StatOf(location.host);
    const bool opensFolder = request.backupSemantics && (request.disposition == OPEN_EXISTING ||
                                                         request.disposition == OPEN_ALWAYS);
    if (info && S_ISDIR(info->st_mode) && !opensFolder) {
        return ERROR_ACCESS_DENIED;
    }
    if (!info) {
        const bool mustExist =
            request.disposition == OPEN_EXISTING || request.disposition == TRUNCATE_EXISTING;
        return mustExist ? ERROR_FILE_NOT_FOUND : NO_ERROR;
    }
    if (request.disposition == TRUNCATE_EXISTING && (request.access & FILE_SHARE_WRITE) == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD attributes = AttributesOf(*info);
    constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (((attributes & FILE_ATTRIBUTE_READONLY) != 0 && (request.access & FILE_SHARE_WRITE) != 0) ||
        (request.disposition == CREATE_ALWAYS &&
         (attributes & kHiddenOrSystem & ~request.attributes) != 0)) {
        return ERROR_ACCESS_DENIED;
    }
    const FileIdentity identity{info->st_dev, info->st_ino};
    return SharingConflict(identity, request.access, request.share) ? ERROR_SHARING_VIOLATION
                                                                    : NO_ERROR;
}

bool Truncates(DWORD disposition) {
    return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

// The Linux path that an open descriptor names now, after any rename.
std::string DescriptorPath(int fd) {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::string() : path.string();
}

bool IsAtOrBelow(const std::string& host, const std::string& folder) {
    return host == folder ||
           (host.size() > folder.size() && host.compare(0, folder.size(), folder) == 0 &&
            host[folder.size()] == '/');
}

// Characters up to U+00FF stand for the ANSI bytes of the same value, all others for their UTF-8
// bytes (see SetOwnModulePathW).
std::string Narrow(const WCHAR* wide) {
    std::string name;
    for (const WCHAR* c = wide; *c != 0; ++c) {
        const char32_t code = *c;
        if (code <= 0xFF) {
            name += static_cast<char>(code);
        } else if (code < 0x800) {
            name += static_cast<char>(0xC0 | (code >> 6));
            name += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            name += static_cast<char>(0xE0 | (code >> 12));
            name += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            name += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return name;
}

// The text of a wide name as the A functions take it; null for null.
struct NarrowName {
    explicit NarrowName(const WCHAR* wide)
        : text(wide != nullptr ? Narrow(wide) : ""), null(wide == nullptr) {}
    const char* get() const { return null ? nullptr : text.c_str(); }
    std::string text;
    bool null;
};

void RemoveWithoutCheck(const std::string& host) {
    std::error_code ignored;
    std::filesystem::remove_all(host, ignored);
}

} // namespace

std::optional<int> HoldFileFor(const std::string& winPath, DWORD shareMode) {
    const std::string host = HostOf(winPath);
    const auto info = StatOf(host);
    if (!info || S_ISDIR(info->st_mode)) {
        return std::nullopt;
    }
    World& world = TheWorld();
    const int id = world.nextHold++;
    world.holds.emplace(id,
                        Hold{open(host.c_str(), O_RDONLY | O_CLOEXEC),
                             FileIdentity{info->st_dev, info->st_ino}, shareMode, std::nullopt});
    return id;
}

void ReleaseDueHolds() {
    World& world = TheWorld();
    for (auto hold = world.holds.begin(); hold != world.holds.end();) {
        if (hold->second.releaseAt && world.clockMs >= *hold->second.releaseAt) {
            close(hold->second.fd);
            hold = world.holds.erase(hold);
        } else {
            ++hold;
        }
    }
}

void WriteFileContents(const std::string& winPath, const std::string& bytes) {
    std::ofstream out(HostOf(winPath), std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace detail

using namespace detail;

// ---- Test API ----------------------------------------------------------------------------------

std::string HostPath(const std::string& winPath) {
    return HostOf(winPath);
}

void MakeFolder(const std::string& winPath) {
    WinPath path = MustParse(winPath);
    WinPath partial{path.drive, {}};
    std::filesystem::create_directories(Locate(partial).host);
    for (const auto& part : path.parts) {
        partial.parts.push_back(part);
        const std::string host = Locate(partial).host;
        if (!StatOf(host)) {
            std::filesystem::create_directory(host);
        }
    }
}

void PutFile(const std::string& winPath, const std::string& bytes) {
    MakeFolder(MustParse(winPath).Parent().Text());
    WriteFileContents(winPath, bytes);
}

std::optional<std::string> GetFile(const std::string& winPath) {
    const std::string host = HostOf(winPath);
    const auto info = StatOf(host);
    if (!info || !S_ISREG(info->st_mode)) {
        return std::nullopt;
    }
    std::ifstream in(host, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool FileExists(const std::string& winPath) {
    const auto info = StatOf(HostOf(winPath));
    return info && S_ISREG(info->st_mode);
}

void RemoveTree(const std::string& winPath) {
    RemoveWithoutCheck(HostOf(winPath));
}

namespace {

void PointJunction(const std::string& winPath, const std::string& targetHost) {
    MakeFolder(MustParse(winPath).Parent().Text());
    const std::string host = HostOf(winPath);
    const auto info = StatOf(host, false);
    if (info && S_ISLNK(info->st_mode)) {
        std::filesystem::remove(host);
    }
    std::filesystem::create_directory_symlink(targetHost, host);
}

} // namespace

void MakeJunction(const std::string& winPath, const std::string& targetWinPath) {
    PointJunction(winPath, HostOf(targetWinPath));
}

// The object directory is a Linux folder outside every drive, holding one Linux symbolic link
// per name; the file calls treat it as the object manager would (see Locate).
void MakeObjectDirectoryJunction(const std::string& winPath,
                                 const std::vector<std::pair<std::string, std::string>>& links) {
    World& world = TheWorld();
    const std::string folder =
        DiskRoot() + "/object-directory-" + std::to_string(world.objectDirectories.size() + 1);
    std::filesystem::create_directory(folder);
    for (const auto& [name, target] : links) {
        std::filesystem::create_symlink(HostOf(target), folder + '/' + name);
    }
    world.objectDirectories.insert(RealPath(folder));
    PointJunction(winPath, folder);
}

bool RenameFolder(const std::string& winPath, const std::string& newWinPath) {
    const std::string host = HostOf(winPath);
    const auto info = StatOf(host, false);
    if (!info) {
        return false;
    }
    if (!S_ISLNK(info->st_mode)) { // a junction's own name is kept in place by nothing
        const std::string folder = RealPath(host);
        for (const auto& [handle, object] : TheWorld().objects) {
            const auto* open = std::get_if<OpenFile>(&object);
            if (open == nullptr) {
                continue;
            }
            const std::string opened = DescriptorPath(open->fd);
            if ((opened == folder && (open->share & FILE_SHARE_DELETE) == 0) ||
                (opened != folder && IsAtOrBelow(opened, folder))) {
                return false;
            }
        }
    }
    return std::rename(host.c_str(), HostOf(newWinPath).c_str()) == 0;
}

std::vector<std::string> ListFolder(const std::string& winPath) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(HostOf(winPath), ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return names;
}

void SetFileAttributes(const std::string& winPath, DWORD attributes) {
    const auto info = StatOf(HostOf(winPath));
    if (info) {
        TheWorld().fileAttributes[FileIdentity{info->st_dev, info->st_ino}] = attributes;
    }
}

void MakeHardLink(const std::string& winPath, const std::string& targetWinPath) {
    MakeFolder(MustParse(winPath).Parent().Text());
    std::filesystem::create_hard_link(HostOf(targetWinPath), HostOf(winPath));
}

void MakeFileSymlink(const std::string& winPath, const std::string& targetWinPath) {
    MakeFolder(MustParse(winPath).Parent().Text());
    std::filesystem::create_symlink(HostOf(targetWinPath), HostOf(winPath));
}

void ReportNoFileIndex(const std::string& pathPart, DWORD volumeSerialNumber) {
    TheWorld().noFileIndexes.push_back(NoFileIndex{Lower(pathPart), volumeSerialNumber});
}

int HoldFile(const std::string& winPath, DWORD shareMode) {
    return HoldFileFor(winPath, shareMode).value_or(0);
}

int HoldFileBriefly(const std::string& winPath, DWORD shareMode, DWORD milliseconds) {
    const int id = HoldFile(winPath, shareMode);
    if (id != 0) {
        World& world = TheWorld();
        world.holds.at(id).releaseAt = world.clockMs + milliseconds;
    }
    return id;
}

void ReleaseFile(int holdId) {
    World& world = TheWorld();
    const auto found = world.holds.find(holdId);
    if (found != world.holds.end()) {
        close(found->second.fd);
        world.holds.erase(found);
    }
}

void FailWritesAfter(const std::string& pathPart, std::uint64_t bytes) {
    TheWorld().writeLimits.push_back(WriteLimit{Lower(pathPart), bytes});
}

std::string CurrentDirectory() {
    return TheWorld().currentDirectory;
}

} // namespace os::sim

// ---- os.h --------------------------------------------------------------------------------------

namespace os {

using namespace sim::detail;
using sim::Call;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* /*security*/,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE /*templateFile*/) {
    CatchUpHost();
    LogCall("CreateFileA", PathText(fileName));
    DWORD error = 0;
    if (Faulted(Call::CreateFile, {PathText(fileName)}, error)) {
        return Fail(error, INVALID_HANDLE_VALUE);
    }
    const auto path = ParseWinPath(fileName);
    if (path && path->Text().find_first_of("?*") != std::string::npos) {
        return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    }
    if (!path) {
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    const HostLocation location = Locate(*path);
    const CreateRequest request{AccessBits(desiredAccess), shareMode & kShareAll,
                                creationDisposition, flagsAndAttributes & 0xFFFF,
                                (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0};
    if (const DWORD refusal = CreateError(location, request); refusal != NO_ERROR) {
        return Fail(refusal, INVALID_HANDLE_VALUE);
    }
    const auto existing = StatOf(location.host);
    const bool existed = existing.has_value();
    const bool folder = existed && S_ISDIR(existing->st_mode);
    const int flags = folder ? O_RDONLY | O_DIRECTORY | O_CLOEXEC
                             : O_RDWR | O_CREAT | O_CLOEXEC |
                                   (Truncates(creationDisposition) ? O_TRUNC : 0) |
                                   (creationDisposition == CREATE_NEW ? O_EXCL : 0);
    const int fd = open(location.host.c_str(), flags, 0644);
    const auto identity = IdentityOf(location.host);
    if (fd < 0 || !identity) {
        if (fd >= 0) {
            close(fd);
        }
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    const HANDLE handle =
        AddObject(OpenFile{path->Text(), fd, *identity, request.access, request.share});
    const bool reportsExisting =
        existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetError(reportsExisting ? ERROR_ALREADY_EXISTS : NO_ERROR);
    return handle;
}

HANDLE CreateFileW(const WCHAR* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    const NarrowName name(fileName);
    return CreateFileA(name.get(), desiredAccess, shareMode, security, creationDisposition,
                       flagsAndAttributes, templateFile);
}

namespace {

// A read of an empty pipe waits for its writers; where the only writer left is this process
// itself, a real program would wait for ever, so the simulation stops the test there.
BOOL ReadPipe(const PipeEnd& end, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
    Pipe& pipe = TheWorld().pipes.at(end.pipe);
    if (end.write || bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
        return Fail(end.write ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER, 0);
    }
    if (pipe.bytes.empty()) {
        if (pipe.writeEnds > 0) {
            std::fprintf(stderr, "simulated Windows: ReadFile on a pipe whose write end this "
                                 "process still holds would wait for ever\n");
            std::abort();
        }
        return Fail(ERROR_BROKEN_PIPE, 0);
    }
    const std::size_t count = std::min<std::size_t>(bytesToRead, pipe.bytes.size());
    std::memcpy(buffer, pipe.bytes.data(), count);
    pipe.bytes.erase(0, count);
    *bytesRead = static_cast<DWORD>(count);
    return 1;
}

} // namespace

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              void* /*overlapped*/) {
    OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("ReadFile", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::ReadFile, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, 0);
    }
    if (const PipeEnd* end = ObjectAs<PipeEnd>(file)) {
        return ReadPipe(*end, buffer, bytesToRead, bytesRead);
    }
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, 0);
    }
    if ((open->access & FILE_SHARE_READ) == 0) {
        return Fail(ERROR_ACCESS_DENIED, 0);
    }
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    const ssize_t got = pread(open->fd, buffer, bytesToRead, static_cast<off_t>(open->position));
    if (got < 0) {
        return Fail(ERROR_READ_FAULT, 0);
    }
    open->position += static_cast<std::uint64_t>(got);
    *bytesRead = static_cast<DWORD>(got);
    return 1;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* /*overlapped*/) {
    OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("WriteFile", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::WriteFile, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, 0);
    }
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, 0);
    }
    if ((open->access & FILE_SHARE_WRITE) == 0) {
        return Fail(ERROR_ACCESS_DENIED, 0);
    }
    if (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite != 0)) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    const auto allowance = WriteAllowance(*open);
    const bool diskFull = allowance && *allowance < bytesToWrite;
    const std::size_t count = diskFull ? static_cast<std::size_t>(*allowance) : bytesToWrite;
    const ssize_t put = pwrite(open->fd, buffer, count, static_cast<off_t>(open->position));
    if (put < 0) {
        return Fail(ERROR_WRITE_FAULT, 0);
    }
    open->position += static_cast<std::uint64_t>(put);
    open->written += static_cast<std::uint64_t>(put);
    *bytesWritten = static_cast<DWORD>(put); // a full disk still reports what went through
    if (diskFull) {
        return Fail(ERROR_DISK_FULL, 0);
    }
    return 1;
}

BOOL FlushFileBuffers(HANDLE file) {
    const OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("FlushFileBuffers", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::FlushFileBuffers, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, 0);
    }
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, 0);
    }
    if ((open->access & FILE_SHARE_WRITE) == 0) {
        return Fail(ERROR_ACCESS_DENIED, 0);
    }
    return 1;
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
    const OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("GetFileSize", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::GetFileSize, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, INVALID_FILE_SIZE);
    }
    struct stat info {};
    if (open == nullptr || fstat(open->fd, &info) != 0) {
        return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (fileSizeHigh != nullptr) {
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    SetError(NO_ERROR); // tells a low part of 0xFFFFFFFF from a failure
    return static_cast<DWORD>(size & 0xFFFFFFFF);
}

// The volume serial number and file index are the Linux device and inode: a folder reached
// through a junction has the identity of its target.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    const OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("GetFileInformationByHandle", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::GetFileInformationByHandle, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, 0);
    }
    struct stat info {};
    if (open == nullptr || fstat(open->fd, &info) != 0) {
        return Fail(ERROR_INVALID_HANDLE, 0);
    }
    if (information == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto inode = static_cast<std::uint64_t>(info.st_ino);
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes =
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    information->ftCreationTime = FileTimeOf(info.st_ctim);
    information->ftLastAccessTime = FileTimeOf(info.st_atim);
    information->ftLastWriteTime = FileTimeOf(info.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    information->nFileIndexLow = static_cast<DWORD>(inode & 0xFFFFFFFF);
    for (const NoFileIndex& redirector : TheWorld().noFileIndexes) {
        if (ContainsNoCase(open->winPath, redirector.pathPart)) {
            information->dwVolumeSerialNumber = redirector.volumeSerialNumber;
            information->nFileIndexHigh = 0;
            information->nFileIndexLow = 0;
        }
    }
    return 1;
}

namespace {

BOOL DeleteNamedFile(const char* function, const char* fileName) {
    CatchUpHost();
    LogCall(function, PathText(fileName));
    DWORD error = 0;
    if (Faulted(Call::DeleteFile, {PathText(fileName)}, error)) {
        return Fail(error, 0);
    }
    const auto path = ParseWinPath(fileName);
    if (!path) {
        return Fail(ERROR_PATH_NOT_FOUND, 0);
    }
    const HostLocation location = Locate(*path);
    const auto info = StatOf(location.host, false);
    if (!info) {
        return Fail(location.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND, 0);
    }
    if (S_ISLNK(info->st_mode)) { // a link to a file goes, one to a folder is a folder
        const auto target = StatOf(location.host);
        if (target && S_ISDIR(target->st_mode)) {
            return Fail(ERROR_ACCESS_DENIED, 0);
        }
        return unlink(location.host.c_str()) == 0 ? 1 : Fail(ERROR_ACCESS_DENIED, 0);
    }
    if (!S_ISREG(info->st_mode) || (AttributesOf(*info) & FILE_ATTRIBUTE_READONLY) != 0) {
        return Fail(ERROR_ACCESS_DENIED, 0);
    }
    if (SharingConflict(FileIdentity{info->st_dev, info->st_ino}, FILE_SHARE_DELETE, kShareAll)) {
        return Fail(ERROR_SHARING_VIOLATION, 0);
    }
    ForgetAttributesOfLastName(*info);
    return unlink(location.host.c_str()) == 0 ? 1 : Fail(ERROR_ACCESS_DENIED, 0);
}

BOOL MoveNamedFile(const char* function, const char* existingFileName, const char* newFileName,
                   DWORD flags) {
    CatchUpHost();
    LogCall(function, PathText(existingFileName) + " -> " + PathText(newFileName));
    DWORD error = 0;
    if (Faulted(Call::MoveFileEx, {PathText(existingFileName), PathText(newFileName)}, error)) {
        return Fail(error, 0);
    }
    const auto from = ParseWinPath(existingFileName);
    const auto to = ParseWinPath(newFileName);
    if (!from || !to) {
        return Fail(ERROR_PATH_NOT_FOUND, 0);
    }
    const HostLocation source = Locate(*from);
    const HostLocation target = Locate(*to);
    const auto sourceInfo = StatOf(source.host, false);
    if (!sourceInfo) {
        return Fail(source.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND, 0);
    }
    if (!target.parentExists) {
        return Fail(ERROR_PATH_NOT_FOUND, 0);
    }
    if (SharingConflict(FileIdentity{sourceInfo->st_dev, sourceInfo->st_ino}, FILE_SHARE_DELETE,
                        kShareAll)) {
        return Fail(ERROR_SHARING_VIOLATION, 0);
    }
    const auto targetInfo = StatOf(target.host, false);
    const bool sameFile = targetInfo && targetInfo->st_ino == sourceInfo->st_ino &&
                          targetInfo->st_dev == sourceInfo->st_dev;
    if (targetInfo && !sameFile) {
        if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
            return Fail(ERROR_ALREADY_EXISTS, 0);
        }
        // NTFS replaces no file that is open, even one shared for deleting.
        if (!S_ISREG(targetInfo->st_mode) ||
            HeldOpen(FileIdentity{targetInfo->st_dev, targetInfo->st_ino})) {
            return Fail(ERROR_ACCESS_DENIED, 0);
        }
    }
    if (targetInfo && !sameFile) {
        ForgetAttributesOfLastName(*targetInfo);
    }
    // A case-only rename keeps the new spelling, as NTFS does.
    const std::string destination =
        sameFile ? Locate(to->Parent()).host + '/' + to->parts.back() : target.host;
    return std::rename(source.host.c_str(), destination.c_str()) == 0
               ? 1
               : Fail(ERROR_ACCESS_DENIED, 0);
}

} // namespace

BOOL DeleteFileA(const char* fileName) {
    return DeleteNamedFile("DeleteFileA", fileName);
}

BOOL DeleteFileW(const WCHAR* fileName) {
    return DeleteNamedFile("DeleteFileW", NarrowName(fileName).get());
}

BOOL MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags) {
    return MoveNamedFile("MoveFileExA", existingFileName, newFileName, flags);
}

BOOL MoveFileExW(const WCHAR* existingFileName, const WCHAR* newFileName, DWORD flags) {
    return MoveNamedFile("MoveFileExW", NarrowName(existingFileName).get(),
                         NarrowName(newFileName).get(), flags);
}

// The Linux path of the descriptor, back as the drive path it lies under: links resolved, names
// in their stored spelling, as Windows gives the final path.
DWORD GetFinalPathNameByHandleW(HANDLE file, WCHAR* path, DWORD size, DWORD flags) {
    const OpenFile* open = ObjectAs<OpenFile>(file);
    LogCall("GetFinalPathNameByHandleW", open != nullptr ? open->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::GetFinalPathNameByHandle, {open != nullptr ? open->winPath : ""}, error)) {
        return Fail(error, DWORD{0});
    }
    if (!TheWorld().version.vistaFunctions) {
        return Fail(ERROR_PROC_NOT_FOUND, DWORD{0});
    }
    if (open == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    }
    if (flags != VOLUME_NAME_DOS || (path == nullptr && size != 0)) {
        return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
    }
    const std::string root = RealPath(DiskRoot()) + '/';
    const std::string real = DescriptorPath(open->fd);
    if (real.size() < root.size() + 1 || real.compare(0, root.size(), root) != 0) {
        return Fail(ERROR_PATH_NOT_FOUND, DWORD{0});
    }
    std::string text = std::string("\\\\?\\") + real[root.size()] + ':';
    const std::string rest = real.substr(root.size() + 1);
    text += rest.empty() ? "\\" : rest;
    std::replace(text.begin(), text.end(), '/', '\\');
    if (size <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        path[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    }
    path[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

// The ANSI code page of this machine maps each byte to the character of the same value, as the
// wide names of CreateFileW here expect.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide,
                        int wideLength) {
    LogCall("MultiByteToWideChar");
    if (codePage != CP_ACP || flags != 0 || text == nullptr || wideLength < 0) {
        return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    const std::size_t count = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
    if (wideLength == 0) {
        return static_cast<int>(count);
    }
    if (wide == nullptr || static_cast<std::size_t>(wideLength) < count) {
        return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    for (std::size_t i = 0; i < count; ++i) {
        wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    }
    return static_cast<int>(count);
}

DWORD GetFileAttributesA(const char* fileName) {
    CatchUpHost();
    LogCall("GetFileAttributesA", PathText(fileName));
    DWORD error = 0;
    if (Faulted(Call::GetFileAttributes, {PathText(fileName)}, error)) {
        return Fail(error, INVALID_FILE_ATTRIBUTES);
    }
    const auto path = ParseWinPath(fileName);
    if (!path) {
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    }
    const HostLocation location = Locate(*path);
    const auto info = StatOf(location.host, false);
    if (!info) {
        return Fail(location.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                    INVALID_FILE_ATTRIBUTES);
    }
    if (S_ISLNK(info->st_mode)) {
        const auto target = StatOf(location.host);
        const bool toFile = target && !S_ISDIR(target->st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT |
               (toFile ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_DIRECTORY);
    }
    return S_ISDIR(info->st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                  : FILE_ATTRIBUTE_ARCHIVE | AttributesOf(*info);
}

BOOL SetCurrentDirectoryA(const char* path) {
    LogCall("SetCurrentDirectoryA", PathText(path));
    DWORD error = 0;
    if (Faulted(Call::SetCurrentDirectory, {PathText(path)}, error)) {
        return Fail(error, 0);
    }
    const auto parsed = ParseWinPath(path);
    if (!parsed) {
        return Fail(ERROR_PATH_NOT_FOUND, 0);
    }
    const HostLocation location = Locate(*parsed);
    const auto info = StatOf(location.host);
    if (!info) {
        return Fail(location.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND, 0);
    }
    if (!S_ISDIR(info->st_mode)) {
        return Fail(ERROR_DIRECTORY, 0);
    }
    std::string folder = parsed->Text();
    if (folder.back() != '\\') {
        folder += '\\';
    }
    TheWorld().currentDirectory = folder;
    return 1;
}

BOOL CloseHandle(HANDLE object) {
    World& world = TheWorld();
    const auto found = world.objects.find(reinterpret_cast<std::uintptr_t>(object));
    const auto* file =
        found != world.objects.end() ? std::get_if<OpenFile>(&found->second) : nullptr;
    LogCall("CloseHandle", file != nullptr ? file->winPath : "");
    DWORD error = 0;
    if (Faulted(Call::CloseHandle, {file != nullptr ? file->winPath : ""}, error)) {
        return Fail(error, 0);
    }
    if (found == world.objects.end() || std::holds_alternative<FindSearch>(found->second)) {
        return Fail(ERROR_INVALID_HANDLE, 0);
    }
    if (file != nullptr) {
        close(file->fd);
    }
    if (const auto* mapping = std::get_if<MappingRef>(&found->second)) {
        CloseMappingHandle(mapping->key);
    }
    if (const auto* end = std::get_if<PipeEnd>(&found->second)) {
        ClosePipeEnd(*end);
    }
    world.inheritable.erase(found->first);
    world.objects.erase(found);
    return 1;
}

} // namespace os
