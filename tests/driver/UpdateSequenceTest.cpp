// The whole update, from the entry to its end, on the simulated Windows.
#include "driver/UpdateFixture.h"

namespace sim = os::sim;
using namespace update_tests;

namespace {

TEST_F(UpdateSequence, InteractiveYesYesInstallsRecordsSizeAndStartsHost) {
    sim::AnswerBoxes({os::IDYES, os::IDYES});
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 2u);
    ExpectInstallAsked(0);
    ExpectClosingQuestion(1);
    ExpectInstalled();
    ExpectHostStarted();
}

TEST_F(UpdateSequence, ClosingNoKeepsTheUpdateWithoutStartingHost) {
    sim::AnswerBoxes({os::IDYES, os::IDNO});
    EXPECT_EQ(Run(), 0);
    ExpectInstalled();
    EXPECT_TRUE(sim::ShellExecutes().empty());
}

TEST_F(UpdateSequence, DeclinedInstallChangesNothing) {
    sim::PutFile(kBankPath, Installed(4));
    Snapshot();
    sim::AnswerBoxes({os::IDNO});
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    ExpectInstallAsked(0);
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, VersionGuardAsksOnlyAboutANewerInstalledBank) {
    struct Case {
        const char* name;
        std::string installed;
        bool asked;
    };
    const std::vector<Case> cases = {
        {"version 0", Installed(0), false}, {"version 5", Installed(5), false},
        {"version 6", Installed(6), true},  {"version 255", Installed(255), true},
        {"5 bytes", "zorv\x02", false},     {"byte 5 is 9", "other\x09rest", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        sim::PutFile(kBankPath, c.installed);
        sim::AnswerBoxes({os::IDYES, os::IDYES, os::IDNO});
        EXPECT_EQ(Run(), 0);
        ASSERT_EQ(sim::Boxes().size(), c.asked ? 3u : 2u);
        if (c.asked) {
            ExpectBox(0, "The installed zorv.3bs is newer.\r\nInstall the older one?",
                      "Zelm sounds", kQuestionStyle, 0x0409);
        }
        ExpectInstallAsked(c.asked ? 1 : 0);
        ExpectInstalled();
    }
}

TEST_F(UpdateSequence, KeepingTheNewerBankEndsWithNothingChanged) {
    sim::PutFile(kBankPath, Installed(6));
    Snapshot();
    sim::AnswerBoxes({os::IDNO});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim::Boxes().size(), 1u);
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, RunningHostIsAskedToQuitAndGivenTimeToReleaseTheBank) {
    sim::PutFile(kBankPath, Installed(5));
    sim::StartHost({kHost, 1000, false, true});
    sim::AnswerBoxes({os::IDYES, os::IDYES});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim::QuitMessagesToHost(), 1);
    EXPECT_EQ(sim::QuitMessagesToOwnThread(), 0);
    EXPECT_FALSE(sim::HostRunning());
    EXPECT_EQ(sim::Boxes().size(), 2u);
    ExpectInstalled();
}

TEST_F(UpdateSequence, HostThatNeverReleasesTheBankEndsWithFileCantOpen) {
    sim::PutFile(kBankPath, Installed(5));
    sim::StartHost({kHost, 0, true, true});
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    ExpectBox(0, "Can't open " + kBankPath + ".", "Zelm Alarm Clock", kErrorStyle, 0x0409);
    EXPECT_EQ(sim::Now(), 17u * 256u); // every attempt waited, the last one included
    EXPECT_TRUE(sim::HostRunning());
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, RunningHostWithoutWindowGetsNoQuitMessage) {
    sim::StartHost({kHost, 0, false, false});
    sim::AnswerBoxes({os::IDYES, os::IDNO});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim::QuitMessagesToHost(), 0);
    EXPECT_EQ(sim::QuitMessagesToOwnThread(), 0);
    ExpectInstalled();
}

TEST_F(UpdateSequence, QuietModeAsksNothingAndStartsHostOnlyWithRunApp) {
    struct Case {
        std::string arguments;
        bool quiet;
        bool started;
    };
    const std::vector<Case> cases = {{"modest", true, false},         {"MODEST", true, false},
                                     {"Modest RunApp", true, true},   {"modest runapp", true, true},
                                     {"runapp modest", false, false}, {"x runapp", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("arguments \"" + c.arguments + "\"");
        SetUp();
        sim::PutFile(kBankPath, Installed(9)); // quiet mode skips the version guard
        sim::AnswerBoxes({os::IDYES, os::IDNO});
        EXPECT_EQ(Run(c.arguments), 0);
        EXPECT_EQ(sim::Boxes().size(), c.quiet ? 0u : 2u);
        if (c.quiet) {
            ExpectInstalled();
        }
        EXPECT_EQ(sim::ShellExecutes().size(), c.started ? 1u : 0u);
    }
}

TEST_F(UpdateSequence, QuietUpdateOfARunningHostWaitsForItToLetGo) {
    sim::PutFile(kBankPath, Installed(5));
    sim::StartHost({kHost, 2000, false, true});
    EXPECT_EQ(Run("modest runapp"), 0);
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_EQ(sim::QuitMessagesToHost(), 1);
    ExpectInstalled();
    ExpectHostStarted();
}

TEST_F(UpdateSequence, QuietUpdateOfAHostThatNeverLetsGoReportsTheFailedInstall) {
    const std::string old = Installed(5);
    sim::PutFile(kBankPath, old);
    sim::StartHost({kHost, 0, true, true});
    EXPECT_EQ(Run("modest"), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_FALSE(sim::Boxes()[0].extended);
    EXPECT_EQ(sim::Boxes()[0].text, "Can't install file " + kBankPath);
    EXPECT_TRUE(sim::GetFile(kBankPath) == old) << "bank differs";
    EXPECT_GE(sim::Now(), 17u * 256u);
}

// The token decides, never the reported version, which a compatibility layer of the user's can
// make lie: elevated by UAC, only the desktop's shell starts the host, as the signed-in user, or
// nobody does; without a split token ShellExecuteA starts it.
TEST_F(UpdateSequence, WhoStartsTheHostFollowsTheTokenNotTheVersion) {
    enum class Shell { Present, Absent, Refusing };
    enum class Starter { Desktop, Updater, Nobody };
    const std::optional<os::DWORD> noClass; // before Vista: the token knows no elevation type
    const struct {
        const char* what;
        std::optional<os::DWORD> token;
        Shell shell;
        os::DWORD major, minor; // reported
        Starter starter;
    } cases[] = {
        {"10, elevated", os::TokenElevationTypeFull, Shell::Present, 6, 2, Starter::Desktop},
        {"10, elevated, no Explorer", os::TokenElevationTypeFull, Shell::Absent, 6, 2,
         Starter::Nobody},
        {"10, elevated, shell refusing", os::TokenElevationTypeFull, Shell::Refusing, 6, 2,
         Starter::Nobody},
        {"elevated, reporting XP", os::TokenElevationTypeFull, Shell::Present, 5, 1,
         Starter::Desktop},
        {"elevated, reporting XP, no Explorer", os::TokenElevationTypeFull, Shell::Absent, 5, 1,
         Starter::Nobody},
        {"10, UAC off", os::TokenElevationTypeDefault, Shell::Present, 6, 2, Starter::Updater},
        {"10, UAC off, no Explorer", os::TokenElevationTypeDefault, Shell::Absent, 6, 2,
         Starter::Updater},
        {"XP", noClass, Shell::Present, 5, 1, Starter::Updater},
        {"2000, no Explorer", noClass, Shell::Absent, 5, 0, Starter::Updater},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        sim::Version version;
        version.major = c.major;
        version.minor = c.minor;
        sim::SetVersion(version);
        sim::SetElevationType(c.token);
        if (c.major == 5) { // 32-bit, so that the host's entries lie in the one registry view
            sim::SetArchitecture(os::PROCESSOR_ARCHITECTURE_INTEL);
            sim::SetMachine64(false);
        }
        sim::SetDesktopShell(c.shell != Shell::Absent);
        if (c.shell == Shell::Refusing) {
            sim::FailCallsOn(sim::Call::DesktopShellExecute, "", 0x80004005);
        }
        sim::AnswerBoxes({os::IDYES, os::IDYES});
        EXPECT_EQ(Run(), 0);
        if (c.starter == Starter::Nobody) {
            EXPECT_TRUE(sim::ShellExecutes().empty());
            EXPECT_EQ(sim::FirstCall("ShellExecuteA"), -1);
            EXPECT_EQ(sim::FirstCall("SetCurrentDirectoryA"), -1);
        } else {
            ExpectHostStarted(c.starter == Starter::Desktop);
        }
    }
}

TEST_F(UpdateSequence, LastRunFolderOverridesTheUninstallEntry) {
    const std::string moved = "D:\\Apps\\Zelm\\";
    sim::PutFile(moved + "zelm.exe", "MZ");
    sim::PutFile(moved + "language\\english.lng", kEnglish);
    sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", "D:\\Apps\\Zelm");
    sim::AnswerBoxes({os::IDYES, os::IDYES});
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(sim::GetFile(moved + "zorv.3bs") == Bank()) << "bank differs";
    EXPECT_FALSE(sim::FileExists(kBankPath));
    EXPECT_EQ(sim::GetRegDword(os::HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"),
              static_cast<os::DWORD>(SizeKiB(moved)));
    ASSERT_EQ(sim::ShellExecutes().size(), 1u);
    EXPECT_EQ(sim::ShellExecutes()[0].file, moved + "Zelm.exe");
    ExpectAllClosed();
}

TEST_F(UpdateSequence, NoHostInstalledShowsTheBilingualBox) {
    sim::RemoveTree(kHost);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    const sim::Box& english = sim::Boxes()[0];
    EXPECT_FALSE(english.extended);
    EXPECT_EQ(english.text, "There's no Zelm installed.\r\nPlease install the program first.");
    EXPECT_EQ(english.caption, "Zelm update");
    EXPECT_EQ(english.style, kErrorStyle);

    SCOPED_TRACE("Russian locale");
    SetUp();
    sim::RemoveTree(kHost);
    sim::SetUserLocale(0x0419);
    EXPECT_EQ(Run(), 0);
    ExpectBox(0,
              Cp1251("Нет установленной программы \"Зелм\"!\r\n"
                     "Пожалуйста, сначала установите её."),
              Cp1251("Обновление программы \"Зелм\""), kErrorStyle, 0x0019);
    EXPECT_TRUE(sim::ShellExecutes().empty());
    ExpectAllClosed();
}

TEST_F(UpdateSequence, UnreadableRegistryEndsAfterItsBox) {
    sim::SetRegDword(os::HKEY_CURRENT_USER,
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Desktop", 1);
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].text, "No access to system registry");
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, MissingLanguageFileEndsAfterItsBox) {
    sim::RemoveTree(kHost + "language\\english.lng");
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].text,
              "Can't work with no english.lng file!\r\nPlease reinstall the program.");
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, WithoutAdministratorRightsShowsNoRight) {
    sim::SetAdmin(false);
    sim::StartHost({kHost, 0, false, true});
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    ExpectBox(0, "You need administrator rights\r\nto update the sounds.", "Zelm Alarm Clock",
              kErrorStyle, 0x0409);
    EXPECT_EQ(sim::QuitMessagesToHost(), 0); // a user without rights does not close the host
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, LanguageOfTheBoxesFollowsTheChosenFile) {
    sim::SetUserLocale(0x0419);
    sim::SetAdmin(false);
    EXPECT_EQ(Run(), 0);
    ExpectBox(0, Cp1251("Нужны права администратора."), Cp1251("Будильник Зелм"), kErrorStyle,
              0x0419);
}

TEST_F(UpdateSequence, DamagedUpdaterShowsBadInstaller) {
    std::string image = sim_tests::MakeStampedImage(Bank());
    image[image.size() / 2] = static_cast<char>(image[image.size() / 2] ^ 0x01);
    sim::PutFile(kOwnPath, image);
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    ExpectBox(0, "The update is damaged.", "Zelm Alarm Clock", kErrorStyle, 0x0409);
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, UnreadableUpdaterShowsVerificationFail) {
    sim::FailCallsOn(sim::Call::CreateFile, "ZelmSoundUpdate.exe", os::ERROR_ACCESS_DENIED);
    Snapshot();
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    ExpectBox(0, "Can't check the update.", "Zelm Alarm Clock", kErrorStyle, 0x0409);
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, FailedInstallStillRecordsSizeAndAsksTheClosingQuestion) {
    const std::string old = Installed(5);
    sim::PutFile(kBankPath, old);
    sim::FailWritesAfter("", 4096);
    sim::AnswerBoxes({os::IDYES, os::IDNO, os::IDNO});
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 3u);
    EXPECT_EQ(sim::Boxes()[1].text, "Can't install file " + kBankPath);
    ExpectClosingQuestion(2);
    EXPECT_TRUE(sim::GetFile(kBankPath) == old) << "bank differs";
    EXPECT_TRUE(sim::GetRegDword(os::HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize"));
    ExpectAllClosed();
}

TEST_F(UpdateSequence, WrongRegistryTypeEndsInApplicationErrorWithExitCodeOne) {
    sim::SetRegDword(os::HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", 7);
    Snapshot();
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    const sim::Box& box = sim::Boxes()[0];
    EXPECT_FALSE(box.extended);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.caption, "Application Error");
    EXPECT_EQ(box.text, "Invalid data type for 'TheLastRunFolder'");
    EXPECT_EQ(box.style, kErrorStyle);
    ExpectNothingChanged();
}

TEST_F(UpdateSequence, RefusedSizeWriteEndsInApplicationError) {
    sim::DenyReg(os::HKEY_LOCAL_MACHINE, kUninstallKey, sim::RegOp::Set);
    sim::AnswerBoxes({os::IDYES});
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(sim::Boxes().size(), 2u);
    EXPECT_EQ(sim::Boxes()[1].text, "Failed to set data for 'EstimatedSize'");
    EXPECT_TRUE(sim::GetFile(kBankPath) == Bank()) << "bank differs";
    ExpectAllClosed();
}

TEST_F(UpdateSequence, MissingUninstallEntryIsCreatedForTheSize) {
    sim::Reset();
    InstallHost(false); // the host folder is then Program Files + "Zelm"
    InstallUpdater(sim_tests::MakeStampedImage(Bank()));
    sim::AnswerBoxes({os::IDYES, os::IDNO});
    EXPECT_EQ(Run(), 0);
    ExpectInstalled();
}

// A scanner or indexer holding the bank (sharing reading and writing, not deletion) or the
// updater's own file (sharing nothing) for a while: a hold shorter than the budget of 17 tries
// 256 ms apart is waited out; a longer one, or another error, ends as before, with the old bank
// whole and no working file left.
TEST_F(UpdateSequence, BriefLocksAreWaitedOutWithinTheBudget) {
    enum class Held { Bank, OwnFile, None };
    const struct {
        const char* what;
        Held held;
        os::DWORD holdMs;
        os::DWORD moveError; // injected into the first MoveFileExA, or into all of them
        bool everyMove;
        const char* box; // none: installed
    } cases[] = {
        {"bank held 0.3 s", Held::Bank, 300, 0, false, nullptr},
        {"bank held 3.5 s", Held::Bank, 3500, 0, false, nullptr},
        {"bank held 6 s", Held::Bank, 6000, 0, false, "Can't install file "},
        {"own file held 0.3 s", Held::OwnFile, 300, 0, false, nullptr},
        {"own file held 3.5 s", Held::OwnFile, 3500, 0, false, nullptr},
        {"own file held 6 s", Held::OwnFile, 6000, 0, false, "Can't check the update."},
        {"one lock violation", Held::None, 0, os::ERROR_LOCK_VIOLATION, false, nullptr},
        {"one sharing violation", Held::None, 0, os::ERROR_SHARING_VIOLATION, false, nullptr},
        {"a write fault is not waited for", Held::None, 0, os::ERROR_WRITE_FAULT, true,
         "Can't install file "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        sim::PutFile(kBankPath, Installed(4));
        Snapshot();
        if (c.held != Held::None) {
            ASSERT_NE(sim::HoldFileBriefly(
                          c.held == Held::Bank ? kBankPath : kOwnPath,
                          c.held == Held::Bank ? os::FILE_SHARE_READ | os::FILE_SHARE_WRITE : 0,
                          c.holdMs),
                      0);
        }
        if (c.everyMove) {
            sim::FailCallsOn(sim::Call::MoveFileEx, "", c.moveError);
        } else if (c.moveError != 0) {
            sim::FailCall(sim::Call::MoveFileEx, 1, c.moveError);
        }
        EXPECT_EQ(Run("modest"), 0);
        if (c.box == nullptr) {
            EXPECT_TRUE(sim::Boxes().empty());
            ExpectInstalled();
            continue;
        }
        ASSERT_EQ(sim::Boxes().size(), 1u);
        const std::string text = sim::Boxes()[0].text;
        EXPECT_EQ(text.substr(0, std::string(c.box).size()), c.box);
        EXPECT_EQ(FilesBelow(kHost), before_); // the old bank, and no working file
        if (c.everyMove) {
            EXPECT_EQ(sim::CallCount(sim::Call::MoveFileEx), 1);
        }
        ExpectAllClosed();
    }
}

// The size goes to the entry whose command gave the host folder, in the registry view the updater
// runs in; only where no entry gave it is the plain one created. No other uninstall key appears.
TEST_F(UpdateSequence, SizeGoesToTheEntryThatGaveTheFolder) {
    const std::string wowKey =
        "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelm";
    enum class Entry { Plain, Wow, Both, Neither, LastRunFolderOnly };
    const struct {
        const char* what;
        bool view64; // Windows 10 x64; else XP x64, whose 32-bit view sees Software in WOW6432Node
        Entry entry;
        const std::string& sizeKey; // as the native view names it
    } cases[] = {
        {"64-bit view, plain entry", true, Entry::Plain, kUninstallKey},
        {"64-bit view, WOW6432Node entry", true, Entry::Wow, wowKey},
        {"64-bit view, both entries", true, Entry::Both, kUninstallKey},
        {"64-bit view, no entry", true, Entry::Neither, kUninstallKey},
        {"64-bit view, TheLastRunFolder alone", true, Entry::LastRunFolderOnly, kUninstallKey},
        {"32-bit view, plain entry unseen", false, Entry::Plain, wowKey},
        {"32-bit view, WOW6432Node entry", false, Entry::Wow, wowKey},
        {"32-bit view, both entries", false, Entry::Both, wowKey},
        {"32-bit view, no entry", false, Entry::Neither, wowKey},
        {"32-bit view, TheLastRunFolder alone", false, Entry::LastRunFolderOnly, wowKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        InstallHost(false);
        InstallUpdater(sim_tests::MakeStampedImage(Bank()));
        sim::SetRegString(os::HKEY_LOCAL_MACHINE,
                          "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion",
                          "ProgramFilesDir", "C:\\Program Files");
        if (!c.view64) {
            sim::Version xp64;
            xp64.major = 5;
            xp64.minor = 2;
            sim::SetVersion(xp64);
        }
        if (c.entry == Entry::Plain || c.entry == Entry::Both) {
            sim::SetRegString(os::HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString",
                              kHost + "unins000.exe");
        }
        if (c.entry == Entry::Wow || c.entry == Entry::Both) {
            sim::SetRegString(os::HKEY_LOCAL_MACHINE, wowKey, "UninstallString",
                              kHost + "unins000.exe");
        }
        if (c.entry == Entry::LastRunFolderOnly) {
            sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", kHost);
        }
        const std::string& otherKey = &c.sizeKey == &wowKey ? kUninstallKey : wowKey;
        const bool otherExisted = sim::RegKeyExists(os::HKEY_LOCAL_MACHINE, otherKey);
        EXPECT_EQ(Run("modest"), 0);
        EXPECT_TRUE(sim::Boxes().empty());
        EXPECT_EQ(sim::GetRegDword(os::HKEY_LOCAL_MACHINE, c.sizeKey, "EstimatedSize"),
                  static_cast<os::DWORD>(SizeKiB(kHost)));
        EXPECT_FALSE(sim::GetRegValue(os::HKEY_LOCAL_MACHINE, otherKey, "EstimatedSize"));
        EXPECT_EQ(sim::RegKeyExists(os::HKEY_LOCAL_MACHINE, otherKey), otherExisted);
        ExpectAllClosed();
    }
}

TEST_F(UpdateSequence, RunningHostIsAskedToQuitBeforeTheSelfCheck) {
    std::string image = sim_tests::MakeStampedImage(Bank());
    image[image.size() / 2] = static_cast<char>(image[image.size() / 2] ^ 0x01);
    sim::PutFile(kOwnPath, image);
    sim::StartHost({kHost, 0, false, true});
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::Boxes()[0].text, "The update is damaged.");
    EXPECT_EQ(sim::QuitMessagesToHost(), 1);
    const int quit = sim::FirstCall("PostMessageA", "TZelmMainForm");
    const int selfCheck = sim::FirstCall("CreateFileA", "ZelmSoundUpdate.exe");
    ASSERT_NE(quit, -1);
    ASSERT_NE(selfCheck, -1);
    EXPECT_LT(quit, selfCheck);
}

// The first calls of the process are the restriction itself: nothing is loaded before it.
TEST_F(UpdateSequence, RestrictsTheDllSearchBeforeAnythingElse) {
    for (const bool hasSetDefaultDllDirectories : {true, false}) {
        SCOPED_TRACE(hasSetDefaultDllDirectories ? "SetDefaultDllDirectories"
                                                 : "before Windows 7 with KB2533623");
        SetUp();
        sim::SetDllSearchFunctions(hasSetDefaultDllDirectories);
        sim::AnswerBoxes({os::IDNO});
        EXPECT_EQ(Run(), 0);
        std::vector<std::string> expected = {"GetModuleHandleA kernel32.dll",
                                             "GetProcAddress SetDefaultDllDirectories"};
        if (hasSetDefaultDllDirectories) {
            expected.push_back("SetDefaultDllDirectories ");
        }
        expected.push_back("SetDllDirectoryA ");
        std::vector<std::string> first;
        for (std::size_t i = 0; i < expected.size() && i < sim::CallLog().size(); ++i) {
            first.push_back(sim::CallLog()[i].function + " " + sim::CallLog()[i].subject);
        }
        EXPECT_EQ(first, expected);
        const sim::DllSearch search = sim::DllSearchState();
        EXPECT_EQ(search.defaultDirectoriesSet, hasSetDefaultDllDirectories);
        if (hasSetDefaultDllDirectories) {
            EXPECT_EQ(search.defaultDirectoriesFlags, os::LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
        EXPECT_TRUE(search.dllDirectoryCleared);
    }
}

// "TheLastRunFolder" is the user's, and may name a junction that an unelevated program re-points
// while the install question waits, or after the install fixed the folder. Whatever it then
// leads to, nothing outside the fixed folder is deleted, created or replaced; a junction to an
// object-manager directory, whose names link to any files, is no folder: the box, and nothing.
TEST_F(UpdateSequence, InstallStaysInTheFolderItFixedWhereverThePathIsRepointed) {
    const std::string link = "C:\\Users\\user\\ZelmLink";
    const std::string real = "C:\\Users\\user\\ZelmReal";
    const std::string other = "C:\\Users\\user\\Elsewhere";
    const std::string victims[] = {"C:\\Windows\\System32\\a.dll", "C:\\Windows\\System32\\b.dll"};
    enum class When { Never, AtTheQuestion, BeforeTheRename };
    enum class To { OtherFolder, ObjectDirectory, RealRenamedAway };
    const struct {
        const char* what;
        When when;
        To to;
        bool installed; // into the real folder; else the box, and the old bank stays
    } cases[] = {
        {"an ordinary link to a real folder", When::Never, To::OtherFolder, true},
        {"to an object directory at the question", When::AtTheQuestion, To::ObjectDirectory, false},
        {"to an object directory before the rename", When::BeforeTheRename, To::ObjectDirectory,
         true},
        {"to another folder before the rename", When::BeforeTheRename, To::OtherFolder, true},
        {"the real folder renamed away and a link put in its place before the rename",
         When::BeforeTheRename, To::RealRenamedAway, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        sim::PutFile(real + "\\zelm.exe", "MZ");
        sim::PutFile(real + "\\language\\english.lng", kEnglish);
        sim::PutFile(real + "\\zorv.3bs", Installed(4));
        sim::PutFile(other + "\\keep.txt", "keep");
        for (const std::string& victim : victims) {
            sim::PutFile(victim, "system");
        }
        sim::MakeJunction(link, real);
        sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "TheLastRunFolder", link);
        const auto repoint = [&] {
            switch (c.to) {
            case To::OtherFolder:
                sim::MakeJunction(link, other);
                break;
            case To::ObjectDirectory:
                sim::MakeObjectDirectoryJunction(
                    link, {{"zorv.3bs.new", victims[0]}, {"zorv.3bs", victims[1]}});
                break;
            case To::RealRenamedAway:
                if (sim::RenameFolder(real, real + "Moved")) {
                    sim::MakeJunction(real, other);
                }
                break;
            }
        };
        if (c.when == When::AtTheQuestion) {
            sim::OnCall(sim::Call::MessageBox, 1, repoint);
        } else if (c.when == When::BeforeTheRename) {
            sim::OnCall(sim::Call::MoveFileEx, 1, repoint);
        }
        sim::AnswerBoxes({os::IDYES, os::IDYES});

        EXPECT_EQ(Run(), 0);

        const bool boxShown = sim::Boxes().size() > 1 &&
                              sim::Boxes()[1].text == "Can't install file " + link + "\\zorv.3bs";
        EXPECT_EQ(boxShown, !c.installed);
        EXPECT_TRUE(sim::GetFile(real + "\\zorv.3bs") == (c.installed ? Bank() : Installed(4)))
            << "bank differs";
        EXPECT_EQ(sim::ListFolder(real),
                  (std::vector<std::string>{"language", "zelm.exe", "zorv.3bs"}));
        EXPECT_EQ(sim::ListFolder(other), std::vector<std::string>{"keep.txt"});
        for (const std::string& victim : victims) {
            EXPECT_EQ(sim::GetFile(victim), "system") << victim;
        }
        ExpectAllClosed();
    }
}

} // namespace
