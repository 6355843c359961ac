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

TEST_F(FolderSizeTest, FolderWhoseIdentityCannotBeReadIsLeftOut) {
    PutBytes("C:\\Zelm\\top.bin", 1024);
    PutBytes("C:\\Zelm\\sub\\x.bin", 2048);
    sim::FailCallsOn(sim::Call::GetFileInformationByHandle, "\\sub", os::ERROR_ACCESS_DENIED);
    EXPECT_EQ(FolderSize("C:\\Zelm\\"), 1);
}

} // namespace
