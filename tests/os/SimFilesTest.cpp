#include "SimFixture.h"

#include <cstdlib>
#include <string>

using namespace os;

namespace {

constexpr const char* kBank = "C:\\Program Files\\Zelm\\zorv.3bs";

ScopedFileHandle Open(const char* path, DWORD access, DWORD share,
                      DWORD disposition = OPEN_EXISTING) {
    return ScopedFileHandle(
        CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadAll(HANDLE file) {
    char buffer[64];
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    return std::string(buffer, got);
}

using FilesTest = SimTest;

TEST_F(FilesTest, PathComponentsIgnoreCaseAndNewNamesKeepTheirs) {
    sim::PutFile(kBank, "bank");
    {
        const auto file = Open("c:/PROGRAM files\\zelm/ZORV.3BS", GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(ReadAll(file.get()), "bank");
    }
    const auto created = Open("C:\\program files\\zelm\\New.TXT", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(created.valid());
    EXPECT_EQ(sim::ListFolder("C:\\Program Files\\Zelm"),
              (std::vector<std::string>{"New.TXT", "zorv.3bs"}));
}

TEST_F(FilesTest, RelativePathsStartAtTheCurrentFolder) {
    sim::PutFile("C:\\Users\\user\\Downloads\\a.txt", "a");
    EXPECT_EQ(GetFileAttributesA("a.txt"), FILE_ATTRIBUTE_ARCHIVE);
    sim::MakeFolder("C:\\Zelm");
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\zelm"));
    EXPECT_EQ(sim::CurrentDirectory(), "C:\\zelm\\");
    EXPECT_EQ(GetFileAttributesA("a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("..\\Users\\user\\Downloads\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\Nowhere"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, CreateDispositionsReportWhatExisted) {
    sim::PutFile(kBank, "old");
    {
        const auto file = Open(kBank, GENERIC_WRITE, 0, CREATE_ALWAYS);
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(sim::GetFile(kBank), "");
    {
        const auto file = Open("C:\\Program Files\\Zelm\\other", GENERIC_WRITE, 0, OPEN_ALWAYS);
        ASSERT_TRUE(file.valid());
        EXPECT_EQ(GetLastError(), NO_ERROR);
    }
    EXPECT_FALSE(Open(kBank, GENERIC_WRITE, 0, CREATE_NEW).valid());
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_FALSE(Open("C:\\Program Files\\Zelm\\none", GENERIC_READ, 0).valid());
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Open("C:\\Nowhere\\none", GENERIC_READ, 0, CREATE_ALWAYS).valid());
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(Open("C:\\Program Files\\Zelm", GENERIC_READ, 0).valid());
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FilesTest, ShareModesConflictInBothDirections) {
    sim::PutFile(kBank, "bank");
    {
        const auto reader = Open(kBank, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.valid());
        // The new open asks for write access that the first one does not share.
        EXPECT_FALSE(Open(kBank, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE).valid());
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        // The new open does not share the read access that the first one has.
        EXPECT_FALSE(Open(kBank, GENERIC_READ, FILE_SHARE_WRITE).valid());
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(Open(kBank, GENERIC_READ, FILE_SHARE_READ).valid());
    }
    EXPECT_TRUE(Open(kBank, GENERIC_READ, 0).valid());
}

TEST_F(FilesTest, HeldFileCannotBeOpenedUntilReleased) {
    sim::PutFile(kBank, "bank");
    const int hold = sim::HoldFile(kBank, 0);
    EXPECT_FALSE(Open(kBank, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE).valid());
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileA(kBank));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    sim::ReleaseFile(hold);
    EXPECT_TRUE(Open(kBank, GENERIC_READ, 0).valid());

    const int readers = sim::HoldFile(kBank, FILE_SHARE_READ);
    EXPECT_TRUE(Open(kBank, GENERIC_READ, FILE_SHARE_READ).valid());
    EXPECT_FALSE(Open(kBank, GENERIC_WRITE, FILE_SHARE_READ).valid());
    sim::ReleaseFile(readers);
}

TEST_F(FilesTest, ReadAndWriteNeedTheirAccessAndMoveTheirPosition) {
    auto file = Open(kBank, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    sim::MakeFolder("C:\\Program Files\\Zelm");
    file = Open(kBank, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_TRUE(file.valid());
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file.get(), "abc", 3, &count, nullptr));
    ASSERT_TRUE(WriteFile(file.get(), "de", 2, &count, nullptr));
    char buffer[8];
    EXPECT_FALSE(ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    DWORD high = 1;
    EXPECT_EQ(GetFileSize(file.get(), &high), 5U);
    EXPECT_EQ(high, 0U);
    file.reset();
    EXPECT_EQ(sim::GetFile(kBank), "abcde");

    file = Open(kBank, GENERIC_READ, 0);
    EXPECT_FALSE(WriteFile(file.get(), "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadAll(file.get()), "abcde");
    EXPECT_EQ(ReadAll(file.get()), ""); // the end reads as success with nothing
}

TEST_F(FilesTest, WritesFailWithFullDiskAfterTheLimit) {
    sim::MakeFolder("C:\\Zelm");
    sim::FailWritesAfter("ZORV", 4);
    const auto file = Open("C:\\Zelm\\zorv.3bs", GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file.get(), "abc", 3, &count, nullptr));
    EXPECT_FALSE(WriteFile(file.get(), "def", 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(count, 1U);
    EXPECT_EQ(sim::GetFile("C:\\Zelm\\zorv.3bs"), "abcd");

    const auto other = Open("C:\\Zelm\\other.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_TRUE(WriteFile(other.get(), "abcdef", 6, &count, nullptr));
}

TEST_F(FilesTest, DeleteRefusesFoldersMissingFilesAndUnsharedOpens) {
    sim::PutFile(kBank, "bank");
    EXPECT_FALSE(DeleteFileA("C:\\Program Files\\Zelm"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA("C:\\Program Files\\Zelm\\none"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    {
        const auto open = Open(kBank, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_FALSE(DeleteFileA(kBank));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    {
        const auto open = Open(kBank, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
        EXPECT_TRUE(DeleteFileA(kBank));
    }
    EXPECT_FALSE(sim::FileExists(kBank));
}

TEST_F(FilesTest, MoveReplacesOnlyWhenAskedAndRespectsOpens) {
    const char* temp = "C:\\Program Files\\Zelm\\zorv.tmp";
    sim::PutFile(kBank, "old");
    sim::PutFile(temp, "new");
    EXPECT_FALSE(MoveFileExA(temp, kBank, 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    for (const DWORD share : {FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_DELETE}) {
        SCOPED_TRACE("target open with share mode " + std::to_string(share));
        const auto target = Open(kBank, GENERIC_READ, share);
        EXPECT_FALSE(MoveFileExA(temp, kBank, MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED); // on NTFS even when shared for deleting
    }
    const int hold = sim::HoldFile(kBank, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_FALSE(MoveFileExA(temp, kBank, MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    sim::ReleaseFile(hold);
    {
        const auto source = Open(temp, GENERIC_READ, FILE_SHARE_READ);
        EXPECT_FALSE(MoveFileExA(temp, kBank, MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(MoveFileExA(temp, kBank, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(sim::GetFile(kBank), "new");
    EXPECT_FALSE(sim::FileExists(temp));
}

TEST_F(FilesTest, AttributesTellFilesFoldersAndJunctions) {
    sim::PutFile("C:\\Data\\file", "x");
    sim::MakeJunction("C:\\Link", "C:\\Data");
    EXPECT_EQ(GetFileAttributesA("C:\\Data"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("C:\\data\\FILE"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:\\link"),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(GetFileAttributesA("C:\\Link\\file"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:\\Data\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA("C:\\None\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, FoldersOpenOnlyWithBackupSemanticsAndJunctionsShareTheirIdentity) {
    sim::PutFile("C:\\Data\\file", "x");
    sim::MakeJunction("C:\\Link", "C:\\Data");
    EXPECT_FALSE(Open("C:\\Data", FILE_READ_ATTRIBUTES, FILE_SHARE_READ).valid());
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const auto identity = [](const char* path) {
        const ScopedFileHandle handle(CreateFileA(path, FILE_READ_ATTRIBUTES, 0, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                  nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        EXPECT_TRUE(handle.valid()) << path;
        EXPECT_TRUE(GetFileInformationByHandle(handle.get(), &info)) << path;
        return std::to_string(info.dwVolumeSerialNumber) + ":" +
               std::to_string(info.nFileIndexHigh) + ":" + std::to_string(info.nFileIndexLow) +
               ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? " folder" : " file");
    };
    EXPECT_EQ(identity("C:\\Link"), identity("C:\\data\\"));
    EXPECT_NE(identity("C:\\Data\\file"), identity("C:\\Data"));
    // Attribute access conflicts with no share mode: a file opened exclusively still tells it.
    const auto exclusive = Open("C:\\Data\\file", GENERIC_READ, 0);
    EXPECT_EQ(identity("C:\\Data\\file"), identity("C:\\Link\\file"));
}

TEST_F(FilesTest, ClosingAnOwnerKeepsTheLastError) {
    sim::PutFile(kBank, "bank");
    auto file = Open(kBank, GENERIC_READ, FILE_SHARE_READ);
    const HANDLE raw = file.get();
    SetLastError(ERROR_SHARING_VIOLATION);
    sim::FailCall(sim::Call::CloseHandle, sim::CallCount(sim::Call::CloseHandle) + 1,
                  ERROR_INVALID_HANDLE);
    file.reset();
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(raw)); // the failed close touched nothing
}

TEST_F(FilesTest, InjectedFaultsTouchNothing) {
    sim::PutFile(kBank, "bank");
    sim::FailCall(sim::Call::ReadFile, 2, ERROR_READ_FAULT);
    sim::FailCallsOn(sim::Call::CreateFile, "\\ZELM\\", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Open(kBank, GENERIC_READ, 0).valid());
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    sim::PutFile("C:\\Other\\f", "abc");
    const auto file = Open("C:\\Other\\f", GENERIC_READ, 0);
    char buffer[2];
    DWORD count = 7;
    EXPECT_TRUE(ReadFile(file.get(), buffer, 1, &count, nullptr));
    count = 7;
    EXPECT_FALSE(ReadFile(file.get(), buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
    EXPECT_EQ(count, 7U);
    EXPECT_TRUE(ReadFile(file.get(), buffer, 1, &count, nullptr));
    EXPECT_EQ(buffer[0], 'b'); // the failed read did not move the position
    EXPECT_EQ(sim::CallCount(sim::Call::ReadFile), 3);
}

TEST_F(FilesTest, OpenHandlesCountsFiles) {
    sim::PutFile(kBank, "bank");
    auto file = Open(kBank, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_EQ(sim::OpenHandles(), 1);
    EXPECT_TRUE(CloseHandle(file.release()));
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(std::uintptr_t{0x4321})));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, ForkedChildThatExitsLeavesTheDiskOfItsParent) {
    sim::PutFile(kBank, "bank");
    EXPECT_EXIT(std::exit(0), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(sim::GetFile(kBank), "bank");
}

TEST_F(FilesTest, ResetEmptiesTheDisk) {
    sim::PutFile(kBank, "bank");
    sim::Reset();
    EXPECT_FALSE(sim::FileExists(kBank));
    EXPECT_EQ(sim::CurrentDirectory(), "C:\\Users\\user\\Downloads\\");
    EXPECT_EQ(GetFileAttributesA("C:\\Users\\user\\Downloads"), FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace
