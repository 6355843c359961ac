// The path tools: the trailing backslash, and the size of a folder tree.
#include "base/PathTools.h"
#include "os/sim/Sim.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace sim = os::sim;

namespace {

TEST(AddBackslashTest, AppendsOnlyWhereMissing) {
    std::string path = "C:\\Zelm";
    AddBackslash(path);
    EXPECT_EQ(path, "C:\\Zelm\\");
    AddBackslash(path);
    EXPECT_EQ(path, "C:\\Zelm\\");
    path = "C:\\";
    AddBackslash(path);
    EXPECT_EQ(path, "C:\\");
    path.clear();
    AddBackslash(path);
    EXPECT_EQ(path, "");
}

class FolderSizeTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(sim::OpenHandles(), 0); }
    static void PutBytes(const std::string& path, std::size_t count) {
        sim::PutFile(path, std::string(count, 'z'));
    }
    // A file of `size` bytes that takes no disk space.
    static void PutSparse(const std::string& path, std::uintmax_t size) {
        sim::PutFile(path, "");
        std::filesystem::resize_file(sim::HostPath(path), size);
    }
};

TEST_F(FolderSizeTest, NoFolderIsMinusOne) {
    sim::PutFile("C:\\Zelm\\zelm.exe", "MZ");
    EXPECT_EQ(FolderSize(""), -1);
    EXPECT_EQ(FolderSize("C:\\Missing"), -1);
    EXPECT_EQ(FolderSize("C:\\Zelm\\zelm.exe"), -1);
}

TEST_F(FolderSizeTest, CountsWholeKibibytesOfTheTotal) {
    sim::MakeFolder("C:\\Zelm");
    EXPECT_EQ(FolderSize("C:\\Zelm"), 0);
    PutBytes("C:\\Zelm\\a.bin", 1023);
    EXPECT_EQ(FolderSize("C:\\Zelm"), 0);
    PutBytes("C:\\Zelm\\b.bin", 1);
    EXPECT_EQ(FolderSize("C:\\Zelm\\"), 1); // 1023 + 1: the total is divided, not each file
}

TEST_F(FolderSizeTest, NestedFilesCountTheSame) {
    PutBytes("C:\\Zelm\\top.bin", 1024);
    PutBytes("C:\\Zelm\\language\\english.lng", 2048);
    PutBytes("C:\\Zelm\\a\\b\\c\\deep.bin", 3072);
    sim::MakeFolder("C:\\Zelm\\empty");
    PutBytes("C:\\Zelm\\.hidden\\x.bin", 1024);
    EXPECT_EQ(FolderSize("C:\\Zelm"), 7);
}

TEST_F(FolderSizeTest, UnreadableSubfolderContributesNothing) {
    PutBytes("C:\\Zelm\\top.bin", 1024);
    PutBytes("C:\\Zelm\\locked\\x.bin", 4096);
    sim::FailCallsOn(sim::Call::FindFirstFile, "locked", os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(FolderSize("C:\\Zelm"), 1);
}

TEST_F(FolderSizeTest, FilesOfFourGibibytesCountWhole) {
    PutSparse("C:\\Zelm\\big.bin", (std::uintmax_t{4} << 30) + 1024);
    EXPECT_EQ(FolderSize("C:\\Zelm"), 4 * 1024 * 1024 + 1);
}

TEST_F(FolderSizeTest, HugeTotalsStopAtTheLargestSize) {
    PutSparse("C:\\Zelm\\a.bin", std::uintmax_t{1} << 40);
    PutSparse("C:\\Zelm\\sub\\b.bin", std::uintmax_t{1} << 40); // together 2^31 KiB
    EXPECT_EQ(FolderSize("C:\\Zelm"), 0x7FFFFFFF);
}

TEST_F(FolderSizeTest, JunctionsAreFollowedAndNoFolderIsEnteredTwice) {
    PutBytes("C:\\Zelm\\top.bin", 1024);
    PutBytes("C:\\Zelm\\sub\\x.bin", 1024);
    PutBytes("C:\\Other\\y.bin", 8192);
    sim::MakeJunction("C:\\Zelm\\sub\\loop", "C:\\Zelm"); // back to an enclosing folder
    sim::MakeJunction("C:\\Zelm\\other", "C:\\Other");
    sim::MakeJunction("C:\\Zelm\\sub\\again", "C:\\Other"); // a second way to the same one
    EXPECT_EQ(FolderSize("C:\\Zelm"), 10);
}

// Some network redirectors report no file index; an identity may not be readable at all. Such a
// folder is still entered, the top one included, and two of them are never taken for one.
TEST_F(FolderSizeTest, FoldersOfUnknownIdentityAreStillCounted) {
    const struct {
        const char* what;
        const char* pathPart;
        bool unreadable;
        os::DWORD volumeSerialNumber; // reported with file index 0 where readable
    } cases[] = {
        {"top unreadable", "zelm", true, 0},
        {"subfolders unreadable", "\\sub", true, 0},
        {"top all zero", "zelm", false, 0},
        {"subfolders all zero", "\\sub", false, 0},
        {"subfolders index zero", "\\sub", false, 0x1234ABCD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        PutBytes("C:\\Zelm\\top.bin", 1024);
        PutBytes("C:\\Zelm\\sub1\\x.bin", 2048);
        PutBytes("C:\\Zelm\\sub2\\y.bin", 4096);
        if (c.unreadable) {
            sim::FailCallsOn(sim::Call::GetFileInformationByHandle, c.pathPart,
                             os::ERROR_ACCESS_DENIED);
        } else {
            sim::ReportNoFileIndex(c.pathPart, c.volumeSerialNumber);
        }
        EXPECT_EQ(FolderSize("C:\\Zelm\\"), 7);
    }
}

TEST_F(FolderSizeTest, LoopThroughFoldersOfUnknownIdentityEndsAtMaxPath) {
    PutBytes("C:\\Zelm\\top.bin", 1024);
    sim::MakeJunction("C:\\Zelm\\sub\\loop", "C:\\Zelm");
    sim::ReportNoFileIndex("zelm", 0);
    // "C:\\Zelm" and 27 turns of "\\sub\\loop" (9 characters each) leave room for "\\*.*".
    EXPECT_EQ(FolderSize("C:\\Zelm"), 28);
}

} // namespace
