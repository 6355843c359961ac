// The zorvbank command as the bank's makers and checkers run it.
#include "BankTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class ZorvBankCommand : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zorvbank-test-" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    CommandResult Zorvbank(const std::string& args) const {
        const std::string command =
            std::string(ZORVBANK) + " " + args + " >" + Path("out") + " 2>" + Path("err");
        const int status = std::system(command.c_str());
        CommandResult run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Text(ReadBytes(Path("out")));
        run.err = Text(ReadBytes(Path("err")));
        return run;
    }

    fs::path dir_;
};

TEST_F(ZorvBankCommand, InspectReportsTheEmbeddedBank) {
    const CommandResult run = Zorvbank("inspect " + kEmbeddedBankPath);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty());
    for (const char* line :
         {"size: 5458724 bytes\n", "magic: zorv\n", "byte 4: 0x02\n", "version: 5\n",
          "group counts: 17 13 16 (46 clips)\n", "offset table: first 154, last 5458720\n",
          "header word: 1181676 (EC 07 12 00)\n", "group 0: 17 clips, 0 to 16, starts at 154\n",
          "group 1: 13 clips, 17 to 29, starts at 2219772\n",
          "group 2: 16 clips, 30 to 45, starts at 3568761\n", "clip 0: offset 154, length ",
          "clip 45: offset ", "all checks passed\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    EXPECT_NE(run.out.find("MPEG-1 Layer III"), std::string::npos);
}

TEST_F(ZorvBankCommand, EachMalformedBankGetsOneErrorLineAndAFailure) {
    struct Case {
        const char* name;
        void (*breakBank)(Bytes&);
        const char* expected;
    };
    const Case cases[] = {
        {"truncated", [](Bytes& b) { b.resize(5); }, "truncated"},
        {"beyond", [](Bytes& b) { b[7] = 200; }, "offset table beyond the end"},
        {"increasing", [](Bytes& b) { SetEntry(b, 4, 50); }, "offsets not increasing"},
        {"last", [](Bytes& b) { b.pop_back(); }, "not the file size minus 4"},
        {"counts", [](Bytes& b) { ++b[7]; }, "count sum does not match"},
        {"sync", [](Bytes& b) { b[BankDataStart(6)] = 0; }, "MPEG frame sync"},
    };
    for (const Case& c : cases) {
        Bytes bank = SmallBank();
        c.breakBank(bank);
        WriteBytes(Path(c.name), bank);
        const CommandResult run = Zorvbank(std::string("inspect ") + Path(c.name));
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_TRUE(run.out.empty()) << c.name;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    Bytes tooLarge = SmallBank();
    tooLarge.resize(kBankMaxOffset + 6);
    WriteBytes(Path("large"), tooLarge);
    const CommandResult run = Zorvbank("inspect " + Path("large"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("over the 24-bit limit"), std::string::npos) << run.err;
}

TEST_F(ZorvBankCommand, MissingFileAndBadArgumentsFail) {
    EXPECT_EQ(Zorvbank("inspect " + Path("absent")).exitCode, 1);
    EXPECT_EQ(Zorvbank("inspect").exitCode, 2);
    EXPECT_EQ(Zorvbank("frobnicate x").exitCode, 2);
    WriteBytes(Path("bank"), SmallBank());
    for (const char* clip : {"6", "-1", "x", "1x", ""}) {
        const CommandResult run = Zorvbank("extract " + Path("bank") + " '" + clip + "'");
        EXPECT_EQ(run.exitCode, 1) << clip;
        EXPECT_NE(run.err.find("no clip"), std::string::npos) << run.err;
    }
}

TEST_F(ZorvBankCommand, ExtractWritesExactlyTheClip) {
    const Bytes bank = SmallBank();
    WriteBytes(Path("bank"), bank);
    const CommandResult run = Zorvbank("extract " + Path("bank") + " 3");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Text(FakeClip(10 + 7 * 3, 0x13)));
}

TEST_F(ZorvBankCommand, BuildWritesTheBankThatTheLibraryBuilds) {
    std::string clipArgs;
    for (std::uint8_t k = 0; k < 6; ++k) {
        const std::string name = "clip" + std::to_string(k);
        WriteBytes(Path(name),
                   FakeClip(std::size_t{10} + 7u * k, static_cast<std::uint8_t>(0x10 + k)));
        clipArgs += " " + Path(name);
    }
    const CommandResult run = Zorvbank("build " + Path("bank") +
                                       " --counts 2 1 3 --byte4 2 --version 0x05 --word 1181676"
                                       " --trailer A1B2C3D4" +
                                       clipArgs);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadBytes(Path("bank")), SmallBank());
}

TEST_F(ZorvBankCommand, BuildRefusesBadOptionsAndCounts) {
    WriteBytes(Path("clip"), FakeClip(20, 1));
    const std::string clip = " " + Path("clip");
    for (const std::string& options :
         {std::string("--counts 1 1 0"), std::string("--counts 256 0 0"),
          std::string("--counts 1 0 0 --trailer ABC"), std::string("--counts 1 0 0 --byte4 x"),
          std::string("--counts 1 0 0 --colour red")}) {
        const CommandResult run = Zorvbank("build " + Path("bank") + " " + options + clip);
        EXPECT_EQ(run.exitCode, 1) << options;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(Path("bank"))) << options;
    }
}

// mpg123 is the reference decoder: every clip of the embedded bank must play without complaint.
TEST_F(ZorvBankCommand, ExtractedClipsOfTheEmbeddedBankDecode) {
    if (std::system("mpg123 --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mpg123 is not installed";
    for (int clip : {0, 12, 17, 29, 30, 45}) {
        const std::string mp3 = Path("clip.mp3");
        const std::string extract = std::string(ZORVBANK) + " extract " + kEmbeddedBankPath + " " +
                                    std::to_string(clip) + " >" + mp3;
        ASSERT_EQ(std::system(extract.c_str()), 0);
        const std::string decode = "mpg123 -q -t " + mp3 + " 2>" + Path("log");
        EXPECT_EQ(std::system(decode.c_str()), 0) << "clip " << clip;
        EXPECT_TRUE(ReadBytes(Path("log")).empty()) << "clip " << clip;
    }
}

} // namespace
