// Listing, checking and choosing the language files, and the whole-number rule they follow.
#include "LangFixture.h"

#include <tuple>

namespace {

using LangFilesTest = LangFixture;

std::string MissingEnglish(const std::string& name) {
    return "Can't work with no " + name + " file!\r\nPlease reinstall the program.";
}
std::string MissingRussian(const std::string& name) {
    return Cp1251("Работа без файла ") + name +
           Cp1251(" невозможна!\r\nПожалуйста, переустановите программу.");
}
std::string ErrorsEnglish(const std::string& name) {
    return name + " file contains errors.\r\nPlease reinstall the program.";
}
std::string CannotHandle(const std::string& name) {
    return "Can't handle the language support file " + name;
}

// ---- Required files ----------------------------------------------------------------------------

struct RequiredCase {
    os::LCID locale;
    std::vector<std::string> files;
    std::string missing; // empty when the start-up succeeds
};

class RequiredFilesTest : public LangFixture, public ::testing::WithParamInterface<RequiredCase> {};

TEST_P(RequiredFilesTest, NamesTheOneMissingFileInTheUsersLanguage) {
    const RequiredCase& c = GetParam();
    SetLocale(c.locale);
    for (const std::string& name : c.files) {
        PutLang(name, CompleteLangFile(name, "1033"));
    }
    EXPECT_EQ(InitLanguages(), c.missing.empty());
    if (c.missing.empty()) {
        EXPECT_TRUE(os::sim::Boxes().empty());
        return;
    }
    ASSERT_EQ(os::sim::Boxes().size(), 1u);
    const os::sim::Box& box = os::sim::Boxes()[0];
    if (Ctx.IsCyrillicLocale) {
        EXPECT_EQ(box.text, MissingRussian(c.missing));
        EXPECT_EQ(box.caption, "start caption");
    } else {
        EXPECT_EQ(box.text, MissingEnglish(c.missing));
        EXPECT_EQ(box.caption, "Zelm update");
    }
    EXPECT_EQ(Languages().CurrentLangIndex, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, RequiredFilesTest,
    ::testing::Values(RequiredCase{0x0409, {}, "english.lng"},
                      RequiredCase{0x0419, {}, "russian.lng"},
                      RequiredCase{0x0819, {"english.lng"}, "russian.lng"},
                      RequiredCase{0x0422, {"russian.lng"}, "english.lng"},
                      RequiredCase{0x0409, {"russian.lng"}, "english.lng"},
                      RequiredCase{0x0409, {"english.lng"}, ""},
                      RequiredCase{0x0C1A, {"english.lng"}, ""}, // Serbian, Cyrillic script
                      RequiredCase{0x0402, {"russian.lng", "english.lng"}, ""},
                      RequiredCase{0x0409, {"english!.lng"}, "english.lng"}));

TEST_F(LangFilesTest, MissingLanguageFolderIsAnEmptyList) {
    os::sim::MakeFolder(kHostFolder);
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{MissingEnglish("english.lng")});
    EXPECT_TRUE(Languages().LangFiles.empty());
}

TEST_F(LangFilesTest, EnglishInCapitalsCountsAndKeepsItsListedName) {
    PutLang("English.LNG", CompleteLangFile("english", "1033x"));
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(Languages().EnglishLangIndex, 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ErrorsEnglish("English.LNG")});
}

TEST_F(LangFilesTest, NamesWithAnExclamationMarkAreNeitherListedNorChecked) {
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("!broken.lng", "[langcode]\nnot a number\n");
    PutLang("ger!man.lng", CompleteLangFile("german", "1033"));
    os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", "ger!man.lng");
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(Languages().LangFiles, std::vector<std::string>{"english.lng"});
    EXPECT_EQ(CurrentName(), "english.lng");
}

// ---- Checking every file -----------------------------------------------------------------------

TEST_F(LangFilesTest, StateAndContextEndWithTheChosenFile) {
    SetLocale(1031);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("german.lng", CompleteLangFile("german", "1031"));
    PutLang("zulu.lng", CompleteLangFile("zulu", "1077"));
    ASSERT_TRUE(InitLanguages());
    const LangState& state = Languages();
    EXPECT_EQ(state.LangFiles, (std::vector<std::string>{"english.lng", "german.lng", "zulu.lng"}));
    EXPECT_EQ(state.EnglishLangIndex, 0);
    EXPECT_EQ(state.RussianLangIndex, -1);
    EXPECT_EQ(state.LocaleLangIndex, 1);
    EXPECT_EQ(state.CurrentLangIndex, 1);
    EXPECT_EQ(Ctx.LocalCaption, "german caption");
    EXPECT_EQ(Ctx.LangCode, 1031);
    EXPECT_EQ(os::sim::OpenHandles(), 0);
    EXPECT_EQ(os::sim::OpenKeys(), 0);
    DoneLangUnit();
    EXPECT_TRUE(Languages().LangFiles.empty());
    EXPECT_EQ(Languages().CurrentLangIndex, -1);
    EXPECT_EQ(Languages().EnglishLangIndex, -1);
    EXPECT_EQ(Languages().LocaleLangIndex, -1);
}

TEST_F(LangFilesTest, LaterOfTwoFilesHoldingTheLocaleWins) {
    SetLocale(1031);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("austrian.lng", CompleteLangFile("austrian", "3079\n1031"));
    PutLang("german.lng", CompleteLangFile("german", "1031"));
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "german.lng");
}

TEST_F(LangFilesTest, LocaleMatchInTheFirstListedFileIsChosen) {
    SetLocale(1029);
    PutLang("czech.lng", CompleteLangFile("czech", "1029"));
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    ASSERT_TRUE(InitLanguages());
    ASSERT_EQ(Languages().LocaleLangIndex, 0); // listed first, and not the default file
    EXPECT_EQ(CurrentName(), "czech.lng");
    EXPECT_EQ(Ctx.LangCode, 1029);
}

TEST_F(LangFilesTest, SecondLangCodeLineMatchesAndTheFirstIsTheCode) {
    SetLocale(1049);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("russian.lng", CompleteLangFile("russian", "1049"));
    PutLang("ukrainian.lng", CompleteLangFile("ukrainian", "1058\n1049"));
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "ukrainian.lng");
    EXPECT_EQ(Ctx.LangCode, 1058);
    EXPECT_EQ(Ctx.LocalCaption, "ukrainian caption");
}

TEST_F(LangFilesTest, WithoutALocaleMatchTheDefaultLanguageIsChosen) {
    SetLocale(0x0423);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("russian.lng", CompleteLangFile("russian", "1049"));
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "russian.lng");
    EXPECT_EQ(Ctx.LangCode, 1049);
}

struct BadFileCase {
    std::string langcode;
    std::string langver;
};

class BadLanguageFileTest : public LangFixture,
                            public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadLanguageFileTest, StopsTheStartUpWithTheContainsErrorsBox) {
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("german.lng",
            "[langcode]\n" + GetParam().langcode + "\n\n[langver]\n" + GetParam().langver + "\n\n");
    PutLang("zulu.lng", "[langcode]\nbroken too\n");
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ErrorsEnglish("german.lng")});
}

INSTANTIATE_TEST_SUITE_P(Values, BadLanguageFileTest,
                         ::testing::Values(BadFileCase{"1031 ", "1"}, BadFileCase{"1031", "1 "},
                                           BadFileCase{"1031\n1x", "1"}, BadFileCase{"1031", "one"},
                                           BadFileCase{"1031\n  \n1", "1.0"}));

TEST_F(LangFilesTest, ContainsErrorsBoxIsRussianOnACyrillicLocale) {
    SetLocale(1049);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("russian.lng", CompleteLangFile("russian", "1049 "));
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{Cp1251("Файл ") + "russian.lng" +
                                                   Cp1251(" содержит ошибки!\r\nПожалуйста, "
                                                          "переустановите программу.")});
}

TEST_F(LangFilesTest, LangVerMissingFromBothFilesIsAnError) {
    PutLang("english.lng", "[langcode]\n1033\n\n[progname]\nZelm\n");
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{ErrorsEnglish("english.lng")});
}

TEST_F(LangFilesTest, MissingLangCodeIsInheritedFromTheDefaultFile) {
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("zulu.lng", "[langver]\n2\n\n[progname]\nZulu\n");
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "zulu.lng");
    EXPECT_EQ(Ctx.LangCode, 1033);
    EXPECT_EQ(Ctx.LocalCaption, "Zulu");
}

TEST_F(LangFilesTest, UnreadableLngFolderIsReportedAndContainsErrors) {
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    os::sim::MakeFolder(kLangFolder + "broken.lng");
    EXPECT_FALSE(InitLanguages());
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{CannotHandle("broken.lng"), CannotHandle("broken.lng"),
                                        ErrorsEnglish("broken.lng")}));
    EXPECT_EQ(os::sim::OpenHandles(), 0);
}

// ---- The recorded choice -----------------------------------------------------------------------

class RecordedChoiceTest : public LangFixture {
protected:
    void SetUp() override {
        LangFixture::SetUp();
        PutLang("english.lng", CompleteLangFile("english", "1033"));
        PutLang("german.lng", CompleteLangFile("german", "1031"));
    }
};

TEST_F(RecordedChoiceTest, ExactNameWinsOverTheLocale) {
    os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", "german.lng");
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "german.lng");
    EXPECT_EQ(Ctx.LangCode, 1031);
    EXPECT_EQ(os::sim::OpenKeys(), 0);
}

TEST_F(RecordedChoiceTest, NameDifferingInCaseOrUnknownChangesNothing) {
    for (const char* recorded : {"German.lng", "german.lng ", "french.lng", "english.lng"}) {
        os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", recorded);
        ASSERT_TRUE(InitLanguages()) << recorded;
        EXPECT_EQ(CurrentName(), "english.lng") << recorded;
        EXPECT_EQ(Ctx.LangCode, 1033) << recorded;
    }
    EXPECT_TRUE(os::sim::Boxes().empty());
}

TEST_F(RecordedChoiceTest, ValueOfAnotherTypeIsTreatedAsAbsent) {
    os::sim::SetRegDword(os::HKEY_CURRENT_USER, kProgKey, "LangFile", 1);
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "english.lng");
    EXPECT_EQ(os::sim::OpenKeys(), 0);
}

TEST_F(RecordedChoiceTest, MissingKeyIsCreatedAndTheChoiceStands) {
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "english.lng");
    EXPECT_TRUE(os::sim::RegKeyExists(os::HKEY_CURRENT_USER, kProgKey));
    EXPECT_EQ(os::sim::OpenKeys(), 0);
}

TEST_F(RecordedChoiceTest, ValueThatCannotBeQueriedKeepsTheChoice) {
    os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", "german.lng");
    os::sim::FailCallsOn(os::sim::Call::RegQueryValueEx, "Orvek", os::ERROR_ACCESS_DENIED);
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(CurrentName(), "english.lng");
    EXPECT_EQ(os::sim::OpenKeys(), 0);
}

TEST_F(RecordedChoiceTest, FailedReadOfTheTextLeavesTheStepWithTheKeyClosed) {
    os::sim::SetRegString(os::HKEY_CURRENT_USER, kProgKey, "LangFile", "german.lng");
    // The existence test and the size query pass; the query of the data itself fails.
    os::sim::FailCall(os::sim::Call::RegQueryValueEx,
                      os::sim::CallCount(os::sim::Call::RegQueryValueEx) + 3,
                      os::ERROR_ACCESS_DENIED);
    EXPECT_THROW((void)InitLanguages(), RegistryError);
    EXPECT_EQ(os::sim::OpenKeys(), 0);
}

// ---- Whole numbers -----------------------------------------------------------------------------

using NumberCase = std::tuple<const char*, bool, std::int32_t>;

class WholeNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(WholeNumberTest, FollowsThePlatformConversion) {
    const auto& [text, valid, expected] = GetParam();
    std::int32_t value = 12345;
    EXPECT_EQ(ParseWholeNumber(text, value), valid) << '"' << text << '"';
    EXPECT_EQ(value, valid ? expected : 12345) << '"' << text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholeNumberTest,
    ::testing::Values(
        NumberCase{"1049", true, 1049}, NumberCase{"  1049", true, 1049}, NumberCase{"+7", true, 7},
        NumberCase{"-7", true, -7}, NumberCase{"007", true, 7},
        NumberCase{"2147483647", true, 2147483647}, NumberCase{"2147483648", false, 0},
        NumberCase{"-2147483648", true, INT32_MIN}, NumberCase{"-2147483649", false, 0},
        NumberCase{"00000000000000000042", true, 42}, NumberCase{"$419", true, 0x419},
        NumberCase{"x419", true, 0x419}, NumberCase{"X41a", true, 0x41A},
        NumberCase{"0x41F", true, 0x41F}, NumberCase{"0X41f", true, 0x41F},
        NumberCase{"$FFFFFFFF", true, -1}, NumberCase{"$80000000", true, INT32_MIN},
        NumberCase{"$100000000", false, 0}, NumberCase{"$0000000001", true, 1},
        NumberCase{"-$10", true, -16}, NumberCase{"+0x10", true, 16}, NumberCase{"", false, 0},
        NumberCase{"   ", false, 0}, NumberCase{"-", false, 0}, NumberCase{"$", false, 0},
        NumberCase{"0x", false, 0}, NumberCase{"1049 ", false, 0}, NumberCase{"\t1049", false, 0},
        NumberCase{"10 49", false, 0}, NumberCase{"1e3", false, 0}, NumberCase{"$1G", false, 0},
        NumberCase{"--1", false, 0}, NumberCase{"- 1", false, 0}, NumberCase{"$-1", false, 0},
        NumberCase{"0x$1", false, 0}, NumberCase{"12a", false, 0}));

} // namespace
