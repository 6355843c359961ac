// A machine with the host installed and the updater downloaded, for whole-update tests.
#pragma once

#include "context/ProgInfo.h"
#include "driver/ZelmSoundUpdate.h"
#include "os/sim/Sim.h"
#include "support/HostMachine.h"
#include "support/StampedImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace update_tests {

namespace sim = os::sim;

const std::string kHost = "C:\\Program Files\\Zelm\\";
const std::string kBankPath = kHost + "zorv.3bs";
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
const std::string kProgKey = "Software\\Orvek\\Zelm";
const std::string kOwnPath = "C:\\Users\\user\\Downloads\\ZelmSoundUpdate.exe";
constexpr os::UINT kErrorStyle = 0x00200010;
constexpr os::UINT kQuestionStyle = 0x00042024;

inline const char kEnglish[] = "[progname]\n"
                               "Zelm Alarm Clock\n"
                               "[langcode]\n"
                               "1033\n"
                               "\n"
                               "[langver]\n"
                               "3\n"
                               "[noright]\n"
                               "You need administrator rights\n"
                               "to update the sounds.\n"
                               "\n"
                               "[filecantopen]\n"
                               "Can't open %1.\n"
                               "\n"
                               "[verificationfail]\n"
                               "Can't check the update.\n"
                               "\n"
                               "[badinstaller]\n"
                               "The update is damaged.\n"
                               "\n"
                               "[soundquest]\n"
                               "Zelm sounds\n"
                               "[olderfilever]\n"
                               "The installed %1 is newer.\n"
                               "Install the older one?\n"
                               "\n"
                               "[liveupdatecaption]\n"
                               "Live update\n"
                               "[installask]\n"
                               "Install %1 of %2?\n"
                               "\n"
                               "[installdone]\n"
                               "%1 is installed.\n"
                               "[asktorun]\n"
                               "Start Zelm now?\n"
                               "[bellwick]\n"
                               "Bellwick sounds\n";

// Only what differs from the English file; the rest falls back to it.
inline std::string Russian() {
    return Cp1251("[progname]\nБудильник Зелм\n[langcode]\n1049\n\n[langver]\n3\n"
                  "[noright]\nНужны права администратора.\n\n");
}

// A sound bank of the carried version; small, so every scenario writes it quickly.
inline std::string Bank(unsigned char version = 5) {
    std::string bank = "zorv";
    bank += '\x02';
    bank += static_cast<char>(version);
    for (int i = 0; bank.size() < 70000; ++i) {
        bank += static_cast<char>(i * 7 + 3);
    }
    return bank;
}

inline std::string Installed(unsigned char version) {
    std::string bank = Bank(version);
    bank[100] = 'X'; // not the carried bytes, so a replacement shows
    return bank;
}

// Every file below a folder with its bytes, read independently of the updater's own walk.
inline std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        const std::string current = pending.back();
        pending.pop_back();
        for (const std::string& name : sim::ListFolder(current)) {
            const std::string path = current + name;
            if (auto bytes = sim::GetFile(path)) {
                files[path] = *bytes;
            } else {
                pending.push_back(path + "\\");
            }
        }
    }
    return files;
}

inline std::int32_t SizeKiB(const std::string& folder) {
    std::uint64_t total = 0;
    for (const auto& file : FilesBelow(folder)) {
        total += file.second.size();
    }
    return static_cast<std::int32_t>(total / 1024);
}

class UpdateSequence : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        Ctx = UpdateContext();
        InstallHost();
        InstallUpdater(sim_tests::MakeStampedImage(Bank()));
    }

    static void InstallHost(bool withUninstallEntry = true) {
        sim_tests::RegisterHost(kHost, withUninstallEntry);
        sim::PutFile(kHost + "zelm.exe", std::string(3000, 'Z'));
        sim::PutFile(kHost + "unins000.exe", std::string(1500, 'U'));
        sim::PutFile(kHost + "language\\english.lng", kEnglish);
        sim::PutFile(kHost + "language\\russian.lng", Russian());
    }

    static void InstallUpdater(const std::string& image) {
        sim::AddResource("3BS", "ZORV", Bank());
        sim::PutFile(kOwnPath, image);
        sim::SetOwnModulePath(kOwnPath);
    }

    static int Run(const std::string& arguments = "") {
        sim::SetCommandLine("\"" + kOwnPath + "\"" + (arguments.empty() ? "" : " " + arguments));
        return RunProgram();
    }

    static void ExpectBox(size_t index, const std::string& text, const std::string& caption,
                          os::UINT style, os::WORD language) {
        ASSERT_LT(index, sim::Boxes().size());
        const sim::Box& box = sim::Boxes()[index];
        EXPECT_TRUE(box.extended);
        EXPECT_FALSE(box.hasOwner);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.style, style);
        EXPECT_EQ(box.languageId, language);
    }

    static void ExpectInstallAsked(size_t index) {
        ExpectBox(index, "Install Live update of Bellwick sounds 5?", "Zelm sounds", kQuestionStyle,
                  0x0409);
    }

    static void ExpectClosingQuestion(size_t index) {
        ExpectBox(index, "Live update (Bellwick sounds 5) is installed.\r\n\r\nStart Zelm now?",
                  "Live update", kQuestionStyle, 0x0409);
    }

    // An early end: neither the host folder nor the uninstall entry changed, nothing left open.
    void ExpectNothingChanged() const {
        EXPECT_EQ(FilesBelow(kHost), before_);
        EXPECT_FALSE(sim::GetRegValue(os::HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"));
        EXPECT_TRUE(sim::ShellExecutes().empty());
        ExpectAllClosed();
    }

    static void ExpectAllClosed() {
        EXPECT_EQ(sim::OpenKeys(), 0);
        EXPECT_EQ(sim::OpenHandles(), 0);
    }

    static void ExpectInstalled() {
        EXPECT_TRUE(sim::GetFile(kBankPath) == Bank()) << "bank differs";
        EXPECT_EQ(sim::GetRegDword(os::HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"),
                  static_cast<os::DWORD>(SizeKiB(kHost)));
        ExpectAllClosed();
    }

    // Started once: through the desktop's shell (an elevated Windows 10 here), in the host
    // folder; by ShellExecuteA from the host folder as the current one.
    static void ExpectHostStarted(bool viaDesktop = true) {
        ASSERT_EQ(sim::ShellExecutes().size(), 1u);
        const sim::ShellExecuteRecord& start = sim::ShellExecutes()[0];
        EXPECT_EQ(start.viaDesktop, viaDesktop);
        EXPECT_FALSE(start.hasOwner);
        EXPECT_EQ(start.operation, "open");
        EXPECT_EQ(start.file, kHost + "Zelm.exe");
        EXPECT_EQ(start.parameters, "");
        EXPECT_EQ(start.directory, viaDesktop ? kHost : "");
        EXPECT_EQ(start.showCommand, os::SW_SHOWNORMAL);
        const std::string current =
            start.currentDirectory + (start.currentDirectory.back() == '\\' ? "" : "\\");
        EXPECT_EQ(current == kHost, !viaDesktop) << current;
    }

    void Snapshot() { before_ = FilesBelow(kHost); }

    std::map<std::string, std::string> before_;
};

} // namespace update_tests
