// Every registry and file operation of one update made to fail in turn: the update always ends,
// closes everything it opened, and leaves the installed bank whole (the old one or the new one).
#include "driver/UpdateFixture.h"

#include <set>
#include <string>
#include <vector>

namespace {

using namespace update_tests;

struct Fault {
    sim::Call call;
    const char* function; // as the call log names it
    os::DWORD error;
    // The failures that no step catches: a call on a subject ending in one of these (for a value
    // query, a read of the value, not the test whether it exists) ends in the "Application
    // Error" box and exit code 1. Every other failure ends the update with exit code 0.
    std::vector<std::string> uncaught;
};

const Fault kFaults[] = {
    {sim::Call::RegOpenKeyEx, "RegOpenKeyExA", os::ERROR_ACCESS_DENIED, {}},
    // The program key's failed creation is dropped; the uninstall entry's shows in the write.
    {sim::Call::RegCreateKeyEx, "RegCreateKeyExA", os::ERROR_ACCESS_DENIED, {"\\Uninstall\\Zelm"}},
    // Only the shell folders are read inside the probe that turns a failure into its box.
    {sim::Call::RegQueryValueEx,
     "RegQueryValueExA",
     os::ERROR_ACCESS_DENIED,
     {"\\ProgramFilesDir", "\\UninstallString"}},
    {sim::Call::RegSetValueEx, "RegSetValueExA", os::ERROR_ACCESS_DENIED, {"\\EstimatedSize"}},
    {sim::Call::CreateFile, "CreateFileA", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::ReadFile, "ReadFile", os::ERROR_READ_FAULT, {}},
    {sim::Call::WriteFile, "WriteFile", os::ERROR_DISK_FULL, {}},
    {sim::Call::FlushFileBuffers, "FlushFileBuffers", os::ERROR_WRITE_FAULT, {}},
    {sim::Call::GetFileInformationByHandle,
     "GetFileInformationByHandle",
     os::ERROR_ACCESS_DENIED,
     {}},
    // A successful update deletes nothing, and where UAC elevated it, it never changes its
    // current folder: DeleteFileW and SetCurrentDirectoryA come only on other paths.
    {sim::Call::MoveFileEx, "MoveFileExW", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::GetFinalPathNameByHandle,
     "GetFinalPathNameByHandleW",
     os::ERROR_INVALID_FUNCTION,
     {}},
    {sim::Call::GetFileAttributes, "GetFileAttributesA", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::FindFirstFile, "FindFirstFileA", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::FindNextFile, "FindNextFileA", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::GetModuleFileName, "GetModuleFileNameW", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::FindResource, "FindResourceA", os::ERROR_RESOURCE_NAME_NOT_FOUND, {}},
    {sim::Call::LoadResource, "LoadResource", os::ERROR_NOT_ENOUGH_MEMORY, {}},
    {sim::Call::LockResource, "LockResource", os::ERROR_NOT_ENOUGH_MEMORY, {}},
    {sim::Call::SizeofResource, "SizeofResource", os::ERROR_RESOURCE_DATA_NOT_FOUND, {}},
    {sim::Call::CreateFileMapping, "CreateFileMappingA", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::CreateProcess, "CreateProcessA", os::ERROR_FILE_NOT_FOUND, {}},
    {sim::Call::CreatePipe, "CreatePipe", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::InitializeProcThreadAttributeList,
     "InitializeProcThreadAttributeList",
     os::ERROR_ACCESS_DENIED,
     {}},
    {sim::Call::UpdateProcThreadAttribute,
     "UpdateProcThreadAttribute",
     os::ERROR_ACCESS_DENIED,
     {}},
    {sim::Call::GetTokenInformation, "GetTokenInformation", os::ERROR_ACCESS_DENIED, {}},
    {sim::Call::GetEnvironmentVariable, "GetEnvironmentVariableA", os::ERROR_ENVVAR_NOT_FOUND, {}},
    {sim::Call::GetVersionEx, "GetVersionExA", os::ERROR_INVALID_PARAMETER, {}},
    // E_FAIL: the elevated updater then starts no host.
    {sim::Call::DesktopShellExecute, "DesktopShellExecute", 0x80004005, {}},
};

bool EndsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// The exit code that the failure of the nth call of the fault's kind must give, judged by what
// that call worked on. A value is first tested for existence and then read with queries of the
// same subject, so a query that repeats the subject of the one before it is a read.
int ExpectedExitCode(const Fault& fault, int nth) {
    std::vector<std::string> subjects;
    for (const sim::LoggedCall& call : sim::CallLog()) {
        if (call.function == fault.function) {
            subjects.push_back(call.subject);
        }
    }
    const auto index = static_cast<std::size_t>(nth - 1);
    const std::string& failed = subjects.at(index);
    const bool read =
        fault.call != sim::Call::RegQueryValueEx || (index > 0 && subjects[index - 1] == failed);
    for (const std::string& ending : fault.uncaught) {
        if (read && EndsWith(failed, ending)) {
            return 1;
        }
    }
    return 0;
}

class FaultMatrix : public UpdateSequence {
protected:
    // A running host holding an older bank, answered yes throughout: every step is reached.
    void Prepare() {
        SetUp();
        sim::PutFile(kBankPath, old_);
        sim::StartHost({kHost, 600, false, true});
        sim::AnswerBoxes({os::IDYES, os::IDYES, os::IDYES, os::IDYES});
    }

    void ExpectCleanEnd(int exitCode, int expectedExitCode) const {
        EXPECT_EQ(exitCode, expectedExitCode);
        // Exit code 1 comes with the "Application Error" box, as the last box, and only with it.
        const bool applicationError =
            !sim::Boxes().empty() && sim::Boxes().back().caption == "Application Error";
        EXPECT_EQ(applicationError, exitCode == 1);
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
    int raising = 0;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.function);
        Prepare();
        ASSERT_EQ(Run(), 0);
        const int calls = sim::CallCount(fault.call);
        EXPECT_GT(calls, 0) << "the update makes no such call";
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE("call " + std::to_string(nth));
            Prepare();
            sim::FailCall(fault.call, nth, fault.error);
            const int exitCode = Run();
            const int expected = ExpectedExitCode(fault, nth);
            ExpectCleanEnd(exitCode, expected);
            ++cases;
            raising += expected;
        }
    }
    EXPECT_GT(cases, 100); // the matrix really covered the update
    EXPECT_EQ(raising, 6); // ProgramFilesDir and UninstallString twice each, the entry, its value
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
        const int exitCode = Run("modest");
        ASSERT_EQ(sim::Boxes().size(), 1u);
        EXPECT_EQ(sim::Boxes()[0].text, "Can't install file " + kBankPath);
        EXPECT_TRUE(sim::GetFile(kBankPath) == old_) << "bank differs";
        ExpectCleanEnd(exitCode, 0);
    }
}

} // namespace
