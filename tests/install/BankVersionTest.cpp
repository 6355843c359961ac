#include "install/SetupRim.h"

#include "os/sim/Sim.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace sim = os::sim;

const std::string kBankPath = "C:\\Program Files\\Zelm\\zorv.3bs";

// Opens the installed bank the way the update sequence does: read-only, no sharing.
os::ScopedFileHandle OpenBank() {
    return os::ScopedFileHandle(os::CreateFileA(kBankPath.c_str(), os::GENERIC_READ, 0, nullptr,
                                                os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
}

std::int32_t VersionOf(const std::string& bytes) {
    sim::PutFile(kBankPath, bytes);
    const os::ScopedFileHandle bank = OpenBank();
    EXPECT_TRUE(bank.valid());
    return ReadBankVersion(bank.get());
}

class BankVersionTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(sim::OpenHandles(), 0); }
};

TEST_F(BankVersionTest, FileTooShortForVersionByteIsZero) {
    const std::string bank("zorv\x02\x09", 6);
    for (std::size_t length = 0; length < 6; ++length) {
        EXPECT_EQ(VersionOf(bank.substr(0, length)), 0) << length << " bytes";
    }
}

TEST_F(BankVersionTest, ReadsByteFiveUnsigned) {
    EXPECT_EQ(VersionOf(std::string("zorv\x02\x00", 6)), 0);
    EXPECT_EQ(VersionOf(std::string("zorv\x02\x05", 6)), 5);
    EXPECT_EQ(VersionOf(std::string("zorv\x02\x06\x11\x0D\x10", 9)), 6);
    EXPECT_EQ(VersionOf(std::string("zorv\x07\xFF", 6)), 255);
}

TEST_F(BankVersionTest, MagicIsNotCompared) {
    EXPECT_EQ(VersionOf(std::string("\0\0\0\0\x02\x06", 6)), 6);
    EXPECT_EQ(VersionOf(std::string("RIFF\x05\x04 and more", 15)), 4);
}

TEST_F(BankVersionTest, FailedReadGivesZero) {
    for (int nth = 1; nth <= 3; ++nth) {
        sim::Reset();
        sim::FailCall(sim::Call::ReadFile, nth, os::ERROR_READ_FAULT);
        EXPECT_EQ(VersionOf(std::string("zorv\x02\x05", 6)), 0) << "read " << nth << " fails";
    }
}

} // namespace
