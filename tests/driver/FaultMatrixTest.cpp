// Every registry and file operation of one update made to fail in turn: the update always ends,
// closes everything it opened, and leaves the installed bank whole (the old one or the new one).
#include "driver/UpdateFixture.h"

#include <set>

namespace {

using namespace update_tests;

struct Fault {
    sim::Call call;
    const char* name;
    os::DWORD error;
};

const Fault kFaults[] = {
    {sim::Call::RegOpenKeyEx, "RegOpenKeyEx", os::ERROR_ACCESS_DENIED},
    {sim::Call::RegCreateKeyEx, "RegCreateKeyEx", os::ERROR_ACCESS_DENIED},
    {sim::Call::RegQueryValueEx, "RegQueryValueEx", os::ERROR_ACCESS_DENIED},
    {sim::Call::RegSetValueEx, "RegSetValueEx", os::ERROR_ACCESS_DENIED},
    {sim::Call::CreateFile, "CreateFile", os::ERROR_ACCESS_DENIED},
    {sim::Call::ReadFile, "ReadFile", os::ERROR_READ_FAULT},
    {sim::Call::WriteFile, "WriteFile", os::ERROR_DISK_FULL},
    {sim::Call::FlushFileBuffers, "FlushFileBuffers", os::ERROR_WRITE_FAULT},
    {sim::Call::GetFileSize, "GetFileSize", os::ERROR_ACCESS_DENIED},
    {sim::Call::DeleteFile, "DeleteFile", os::ERROR_ACCESS_DENIED},
    {sim::Call::MoveFileEx, "MoveFileEx", os::ERROR_ACCESS_DENIED},
    {sim::Call::GetFileAttributes, "GetFileAttributes", os::ERROR_ACCESS_DENIED},
    {sim::Call::FindFirstFile, "FindFirstFile", os::ERROR_ACCESS_DENIED},
    {sim::Call::FindNextFile, "FindNextFile", os::ERROR_ACCESS_DENIED},
    {sim::Call::SetCurrentDirectory, "SetCurrentDirectory", os::ERROR_ACCESS_DENIED},
    {sim::Call::GetModuleFileName, "GetModuleFileName", os::ERROR_ACCESS_DENIED},
    {sim::Call::FindResource, "FindResource", os::ERROR_RESOURCE_NAME_NOT_FOUND},
    {sim::Call::LoadResource, "LoadResource", os::ERROR_NOT_ENOUGH_MEMORY},
    {sim::Call::LockResource, "LockResource", os::ERROR_NOT_ENOUGH_MEMORY},
    {sim::Call::SizeofResource, "SizeofResource", os::ERROR_RESOURCE_DATA_NOT_FOUND},
    {sim::Call::CreateFileMapping, "CreateFileMapping", os::ERROR_ACCESS_DENIED},
    {sim::Call::CreateProcess, "CreateProcess", os::ERROR_FILE_NOT_FOUND},
    {sim::Call::GetEnvironmentVariable, "GetEnvironmentVariable", os::ERROR_ENVVAR_NOT_FOUND},
    {sim::Call::GetVersionEx, "GetVersionEx", os::ERROR_INVALID_PARAMETER},
};

class FaultMatrix : public UpdateSequence {
protected:
    // A running host holding an older bank, answered yes throughout: every step is reached.
    void Prepare() {
        SetUp();
        sim::PutFile(kBankPath, old_);
        sim::StartHost({kHost, 600, false, true});
        sim::AnswerBoxes({os::IDYES, os::IDYES, os::IDYES, os::IDYES});
    }

    void ExpectCleanEnd(int exitCode) const {
        EXPECT_TRUE(exitCode == 0 || exitCode == 1);
        ExpectAllClosed();
        const auto bank = sim::GetFile(kBankPath);
        ASSERT_TRUE(bank.has_value());
        EXPECT_TRUE(*bank == old_ || *bank == Bank()) << "the installed bank is damaged";
        const std::set<std::string> expected = {"language", "unins000.exe", "zelm.exe", "zorv.3bs"};
        for (const std::string& name : sim::ListFolder(kHost)) {
            EXPECT_TRUE(expected.count(name) == 1) << "left behind: " << name;
        }
        EXPECT_EQ(sim::QuitMessagesToOwnThread(), 0);
        EXPECT_LE(sim::Boxes().size(), 5u);
    }

    const std::string old_ = Installed(4);
};

TEST_F(FaultMatrix, EveryFailingCallEndsCleanly) {
    int cases = 0;
    for (const Fault& fault : kFaults) {
        Prepare();
        ASSERT_EQ(Run(), 0);
        const int calls = sim::CallCount(fault.call);
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE(std::string(fault.name) + " call " + std::to_string(nth));
            Prepare();
            sim::FailCall(fault.call, nth, fault.error);
            ExpectCleanEnd(Run());
            ++cases;
        }
    }
    EXPECT_GT(cases, 100); // the matrix really covered the update
}

TEST_F(FaultMatrix, WritesFailingAtEveryMiBOfAFullSizeBankKeepTheOldOne) {
    std::string bank = Bank();
    bank.resize(5458724, '\x5A');
    for (std::uint64_t mib = 0; mib <= bank.size() >> 20; ++mib) {
        SCOPED_TRACE("write fails after " + std::to_string(mib) + " MiB");
        Prepare();
        sim::AddResource("3BS", "ZORV", bank);
        sim::PutFile(kOwnPath, sim_tests::MakeStampedImage(bank));
        sim::FailWritesAfter("", mib << 20);
        EXPECT_EQ(Run("modest"), 0);
        ASSERT_EQ(sim::Boxes().size(), 1u);
        EXPECT_EQ(sim::Boxes()[0].text, "Can't install file " + kBankPath);
        EXPECT_TRUE(sim::GetFile(kBankPath) == old_) << "bank differs";
        ExpectCleanEnd(0);
    }
}

} // namespace
