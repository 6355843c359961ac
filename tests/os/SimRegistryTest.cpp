#include "SimFixture.h"

#include <string>

using namespace os;

namespace {

constexpr const char* kProgKey = "Software\\Orvek\\Zelm";

LONG Open(HKEY root, const char* path, REGSAM access, ScopedRegHandle& key) {
    return RegOpenKeyExA(root, path, 0, access, key.receive());
}

// The value as RegQueryValueExA hands it out with a generous buffer.
std::string Query(HKEY key, const char* name) {
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    return std::string(buffer, size);
}

using RegistryTest = SimTest;

TEST_F(RegistryTest, KeyPathsAndValueNamesIgnoreCaseAndKeepTheirSpelling) {
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", "C:\\Zelm\\");
    ScopedRegHandle key;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, "SOFTWARE\\orvek\\zElM", KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key.get(), "thelastrunfolder"), std::string("C:\\Zelm\\", 9));

    DWORD disposition = 0;
    ScopedRegHandle created;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\ORVEK\\zelm", 0, nullptr, 0, KEY_WRITE,
                              nullptr, created.receive(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    const DWORD size = 7;
    ASSERT_EQ(RegSetValueExA(created.get(), "THELASTRUNFOLDER", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&size), sizeof size),
              ERROR_SUCCESS);
    EXPECT_EQ(sim::GetRegDword(HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder"), 7U);
}

TEST_F(RegistryTest, CreateMakesMissingKeysOnTheWay) {
    DWORD disposition = 0;
    ScopedRegHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A\\B\\C", 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.receive(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, "Software\\A\\B"));
    EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, "Software\\a\\b\\c"));
}

TEST_F(RegistryTest, MissingKeyFailsAndLeavesTheResultAlone) {
    HKEY key = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kProgKey, 0, KEY_READ, &key),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
}

TEST_F(RegistryTest, QueryReportsSizesTheWayWindowsDoes) {
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "LangFile", "russian.lng");
    ScopedRegHandle key;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "LangFile", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 12U); // the text and its terminating zero

    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key.get(), "LangFile", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(small), &size),
              static_cast<LONG>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 12U);
    EXPECT_EQ(std::string(small, 4), "xxxx");

    size = 12;
    EXPECT_EQ(Query(key.get(), "LangFile"), std::string("russian.lng", 12));

    size = 99;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Missing", nullptr, &type, nullptr, &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(size, 99U);
}

TEST_F(RegistryTest, RawValueKeepsAMissingTerminator) {
    sim::SetRegRaw(HKEY_CURRENT_USER, kProgKey, "LangFile", REG_SZ, "abc");
    ScopedRegHandle key;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key.get(), "LangFile"), "abc");
}

TEST_F(RegistryTest, EmptyAndNullNamesAreTheDefaultValue) {
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "", "default");
    ScopedRegHandle key;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key.get(), nullptr), std::string("default", 8));
    EXPECT_EQ(Query(key.get(), ""), std::string("default", 8));
}

TEST_F(RegistryTest, HandleKeepsItsAccessMask) {
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "LangFile", "x");
    ScopedRegHandle writeOnly;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_SET_VALUE, writeOnly), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(writeOnly.get(), "LangFile", nullptr, nullptr, nullptr, &size),
              static_cast<LONG>(ERROR_ACCESS_DENIED));

    ScopedRegHandle readOnly;
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, readOnly), ERROR_SUCCESS);
    const BYTE data[] = "y";
    EXPECT_EQ(RegSetValueExA(readOnly.get(), "LangFile", 0, REG_SZ, data, sizeof data),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::GetRegValue(HKEY_CURRENT_USER, kProgKey, "LangFile")->data, std::string("x", 2));
}

TEST_F(RegistryTest, ThirtyTwoBitViewRedirectsMachineSoftware) {
    const char* uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
    sim::SetRegString(HKEY_LOCAL_MACHINE,
                      "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm",
                      "UninstallString", "32");
    sim::SetRegString(HKEY_LOCAL_MACHINE, uninstall, "UninstallString", "64");

    ScopedRegHandle view32;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, uninstall, KEY_READ, view32), ERROR_SUCCESS);
    EXPECT_EQ(Query(view32.get(), "UninstallString"), std::string("32", 3));

    ScopedRegHandle view64;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, uninstall, KEY_READ | KEY_WOW64_64KEY, view64),
              ERROR_SUCCESS);
    EXPECT_EQ(Query(view64.get(), "UninstallString"), std::string("64", 3));

    ScopedRegHandle explicitNode; // a path already in WOW6432Node is not redirected again
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE,
                   "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm",
                   KEY_READ, explicitNode),
              ERROR_SUCCESS);
    EXPECT_EQ(Query(explicitNode.get(), "UninstallString"), std::string("32", 3));
}

TEST_F(RegistryTest, ThirtyTwoBitViewCreatesUnderWow6432Node) {
    ScopedRegHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Orvek", 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.receive(), nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\Orvek"));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Orvek"));
}

TEST_F(RegistryTest, CurrentUserAndThirtyTwoBitMachinesAreNotRedirected) {
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "LangFile", "user");
    ScopedRegHandle user;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, user), ERROR_SUCCESS);

    sim::SetMachine64(false);
    sim::SetRegString(HKEY_LOCAL_MACHINE, "Software\\Orvek", "V", "native");
    ScopedRegHandle machine;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software\\Orvek", KEY_READ, machine), ERROR_SUCCESS);
    EXPECT_EQ(Query(machine.get(), "V"), std::string("native", 7));
}

TEST_F(RegistryTest, KeysBelowAHandleFollowItsView) {
    sim::SetRegString(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\Orvek", "V", "32");
    sim::SetRegString(HKEY_LOCAL_MACHINE, "Software\\Orvek", "V", "64");

    ScopedRegHandle software32;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software", KEY_READ, software32), ERROR_SUCCESS);
    ScopedRegHandle child32;
    ASSERT_EQ(Open(software32.get(), "Orvek", KEY_READ, child32), ERROR_SUCCESS);
    EXPECT_EQ(Query(child32.get(), "V"), std::string("32", 3));

    ScopedRegHandle software64;
    ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software", KEY_READ | KEY_WOW64_64KEY, software64),
              ERROR_SUCCESS);
    ScopedRegHandle child64;
    ASSERT_EQ(Open(software64.get(), "Orvek", KEY_READ, child64), ERROR_SUCCESS);
    EXPECT_EQ(Query(child64.get(), "V"), std::string("64", 3));
}

TEST_F(RegistryTest, DeniedOperationsFailOnTheKeyAndBelow) {
    sim::SetRegString(HKEY_CURRENT_USER, "Software\\Orvek\\Zelm\\Sub", "V", "x");
    sim::DenyReg(HKEY_CURRENT_USER, "Software\\Orvek", sim::RegOp::Open);
    ScopedRegHandle key;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, "Software\\Orvek\\Zelm\\Sub", KEY_READ, key),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open(HKEY_CURRENT_USER, "Software", KEY_READ, key), ERROR_SUCCESS);

    sim::Reset();
    sim::SetRegString(HKEY_CURRENT_USER, kProgKey, "V", "x");
    sim::DenyReg(HKEY_CURRENT_USER, kProgKey, sim::RegOp::Query);
    ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "V", nullptr, nullptr, nullptr, &size),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
}

TEST_F(RegistryTest, OpenKeysCountsHandlesButNotRoots) {
    sim::CreateRegKey(HKEY_CURRENT_USER, kProgKey);
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    {
        ScopedRegHandle key;
        ASSERT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
        EXPECT_EQ(sim::OpenKeys(), 1);
    }
    EXPECT_EQ(sim::OpenKeys(), 0);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(std::uintptr_t{0x1234})),
              static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(RegistryTest, InjectedFaultsHitTheChosenCall) {
    sim::CreateRegKey(HKEY_CURRENT_USER, kProgKey);
    sim::FailCall(sim::Call::RegOpenKeyEx, 2, ERROR_NOT_ENOUGH_MEMORY);
    sim::FailCallsOn(sim::Call::RegCreateKeyEx, "orvek", ERROR_ACCESS_DENIED);
    ScopedRegHandle key;
    EXPECT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key),
              static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(Open(HKEY_CURRENT_USER, kProgKey, KEY_READ, key), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              key.receive(), nullptr),
              static_cast<LONG>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::CallCount(sim::Call::RegOpenKeyEx), 3);
    EXPECT_EQ(sim::CallCount(sim::Call::RegCreateKeyEx), 1);
}

} // namespace
