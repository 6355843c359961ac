// Looking texts up by key: the section scan, continuation lines, the fallback to the default
// file, placeholders, the error boxes, and how files are opened, read and closed.
#include "LangFixture.h"

namespace {

const std::string kGermanHead = "[langcode]\n1031\n\n[langver]\n1\n\n";

// german.lng becomes current (locale 1031); english.lng is the default file behind it.
class LangTextTest : public LangFixture {
protected:
    void Install(const std::string& germanBody, const std::string& englishMore = "") {
        SetLocale(1031);
        PutLang("english.lng", CompleteLangFile("english", "1033", englishMore));
        PutLang("german.lng", kGermanHead + germanBody);
        ASSERT_TRUE(InitLanguages());
        ASSERT_EQ(CurrentName(), "german.lng");
        ASSERT_TRUE(os::sim::Boxes().empty());
    }
};

TEST_F(LangTextTest, HeadersMatchWithoutRegardToCaseAndIgnoreWordsAfterTheBracket) {
    Install("[SOUNDQUEST]\ncapital header\n\n"
            "[noright]  and a comment\nwith a comment\n\n"
            "[asktorun]\t \r\nheader with trailing blanks\n\n");
    EXPECT_EQ(GetLangText("soundquest"), "capital header");
    EXPECT_EQ(GetLangText("SoundQuest"), "capital header");
    EXPECT_EQ(GetLangText("noright"), "with a comment");
    EXPECT_EQ(GetLangText("asktorun"), "header with trailing blanks");
}

TEST_F(LangTextTest, LinesThatAreNotExactlyTheHeaderDoNotMatch) {
    Install(" [noright]\nindented\n\n"
            "[noright ]\nblank inside\n\n"
            "[norightx]\nlonger key\n\n"
            "[x][noright]\nsecond bracket\n\n"
            "text [installask]\nnot at the start\n\n");
    EXPECT_EQ(GetLangText("noright"), "english no rights");
    EXPECT_EQ(GetLangText("installask"), "english install %1 %2?");
}

TEST_F(LangTextTest, ValueLineIsTakenUntrimmedAndALineOfBlanksIsAValue) {
    Install("[soundquest]\n  two words  \n\n[asktorun]\n   \n\n");
    EXPECT_EQ(GetLangText("soundquest"), "  two words  ");
    EXPECT_EQ(GetLangText("asktorun"), "   ");
}

TEST_F(LangTextTest, FirstSectionOfAKeyWins) {
    Install("[soundquest]\nfirst\n\n[soundquest]\nsecond\n\n");
    EXPECT_EQ(GetLangText("soundquest"), "first");
}

TEST_F(LangTextTest, EmptyValueLineFallsBackToTheDefaultFile) {
    Install("[installask]\n\nignored continuation\n\n");
    EXPECT_EQ(GetLangText("installask"), "english install %1 %2?");
    EXPECT_EQ(GetLangLongText("installask"), "english install %1 %2?");
}

TEST_F(LangTextTest, HeaderOnTheLastLineCountsAsMissing) {
    Install("[bellwick]");
    EXPECT_EQ(GetLangText("bellwick"), "english bank");
}

TEST_F(LangTextTest, EmptyFileLacksEveryKeyAndTakesThemFromTheDefault) {
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("zulu.lng", "");
    ASSERT_TRUE(InitLanguages());
    ASSERT_EQ(CurrentName(), "zulu.lng"); // its inherited code matches the locale
    EXPECT_EQ(GetLangText("soundquest"), "english question");
    EXPECT_EQ(Ctx.LocalCaption, "english caption");
}

TEST_F(LangTextTest, KeyMissingFromBothFilesIsEmptyWithoutABox) {
    Install("");
    EXPECT_EQ(GetLangText("nosuchkey"), "");
    EXPECT_EQ(GetLangLongText("nosuchkey"), "");
    EXPECT_TRUE(os::sim::Boxes().empty());
}

TEST_F(LangTextTest, CrLfLineEndsAndStrayCarriageReturnsAreDropped) {
    Install("[soundquest]\r\nwith\r CR\r\n[noright]\r\none\r\ntwo\r\n\r\n");
    EXPECT_EQ(GetLangText("soundquest"), "with CR");
    EXPECT_EQ(GetLangLongText("noright"), "one\r\ntwo");
}

TEST_F(LangTextTest, ContinuationLinesSwallowAFollowingHeaderAndKeepTheirBlanks) {
    Install("[noright]\none\n  two \t\n[m]\nx\n\n[m]\nown\n");
    EXPECT_EQ(GetLangLongText("noright"), "one\r\n  two \t\r\n[m]\r\nx");
    EXPECT_EQ(GetLangText("noright"), "one");
    EXPECT_EQ(GetLangText("m"), "x");
}

TEST_F(LangTextTest, LineOfBlanksEndsAMultiLineValue) {
    Install("[noright]\none\n  \t \ntwo\n");
    EXPECT_EQ(GetLangLongText("noright"), "one");
}

TEST_F(LangTextTest, MultiLineValueEndsAtTheEndOfTheFile) {
    Install("[noright]\none\ntwo");
    EXPECT_EQ(GetLangLongText("noright"), "one\r\ntwo");
}

TEST_F(LangTextTest, DefaultFilesEmptyValueLineStillCollectsItsContinuation) {
    Install("", "[tail]\n\nfirst\nsecond\n\n");
    EXPECT_EQ(GetLangLongText("tail"), "\r\nfirst\r\nsecond");
    EXPECT_EQ(GetLangText("tail"), "");
}

TEST_F(LangTextTest, KeysAfterAReadBlockBoundaryAreFound) {
    std::string filler;
    while (filler.size() < 40000) {
        filler += "filler line " + std::to_string(filler.size()) + "\n";
    }
    Install(filler + "[noright]\nfar\naway\n\n");
    EXPECT_EQ(GetLangLongText("noright"), "far\r\naway");
}

TEST_F(LangTextTest, ChangeOnDiskIsSeenByTheNextLookup) {
    Install("[soundquest]\nbefore\n\n");
    EXPECT_EQ(GetLangText("soundquest"), "before");
    PutLang("german.lng", kGermanHead + "[soundquest]\nafter\n\n");
    EXPECT_EQ(GetLangText("soundquest"), "after");
}

TEST_F(LangTextTest, FilesAreClosedAfterEveryLookupAndSharedWithReadersOnly) {
    Install("[noright]\none\ntwo\n\n");
    const std::string german = kLangFolder + "german.lng";
    // Another program reading the file, sharing it with readers: the lookups go on.
    const int reader = os::sim::HoldFile(german, os::FILE_SHARE_READ);
    EXPECT_EQ(GetLangLongText("noright"), "one\r\ntwo");
    EXPECT_EQ(GetLangText("bellwick"), "english bank");
    EXPECT_EQ(os::sim::OpenHandles(), 0);
    EXPECT_TRUE(os::sim::Boxes().empty());
    os::sim::ReleaseFile(reader);

    // The host's own editor, say, keeps it open for writing: the file is unreadable.
    const os::ScopedFileHandle writer(os::CreateFileA(german.c_str(), os::GENERIC_WRITE,
                                                      os::FILE_SHARE_READ | os::FILE_SHARE_WRITE,
                                                      nullptr, os::OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_EQ(GetLangLongText("noright"), "");
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"Can't handle the language support file german.lng"});
    EXPECT_EQ(os::sim::OpenHandles(), 1);
}

TEST_F(LangTextTest, PlaceholdersAreFilledInOrderAndOnlyWhileTheyChain) {
    Install("[swap]\n%2 and %1\n\n[only2]\nonly %2\n\n[twice]\n%1 %1\n\n"
            "[digits]\n%12 %1%1\n\n[beyond]\n%1 %2 %3\n\n[long]\n%1 first\n%2 second\n\n"
            "[four]\n%4%3%2%1\n\n");
    EXPECT_EQ(FormatLangText("swap", {"A", "B"}), "B and A");
    EXPECT_EQ(FormatLangText("only2", {"A"}), "only %2");
    EXPECT_EQ(FormatLangText("twice", {"x%2", "y"}), "xy xy");
    EXPECT_EQ(FormatLangText("digits", {"A", "B", "C"}), "A2 AA");
    EXPECT_EQ(FormatLangText("beyond", {"A"}), "A  ");
    EXPECT_EQ(FormatLangText("four", {"A", "B", "C", "D"}), "DCBA");
    EXPECT_EQ(FormatLangLongText("four", {"A", "B", "C"}), "CBA");
    EXPECT_EQ(FormatLangText("swap", {"A", "B", "C", "D", "E"}), "B and A");
    EXPECT_EQ(FormatLangLongText("long", {"A", "B"}), "A first\r\nB second");
    EXPECT_EQ(FormatLangText("long", {"A", "B"}), "A first");
}

TEST_F(LangTextTest, ArgumentsAreNotRescannedForTheirOwnPlaceholder) {
    Install("[chain]\n%1|%3\n\n");
    EXPECT_EQ(FormatLangText("chain", {"%1%2", "%3", "z"}), "%1z|z");
}

TEST_F(LangTextTest, ErrorBoxCarriesCaptionAndTheLow16BitsOfTheCode) {
    SetLocale(1031);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("german.lng", "[langcode]\n$00010407\n1031\n\n[langver]\n1\n\n[progname]\nZelm DE\n");
    ASSERT_TRUE(InitLanguages());
    EXPECT_EQ(Ctx.LangCode, 0x00010407);
    ShowLangError("text");
    ASSERT_EQ(os::sim::Boxes().size(), 1u);
    const os::sim::Box& box = os::sim::Boxes()[0];
    EXPECT_TRUE(box.extended);
    EXPECT_FALSE(box.hasOwner);
    EXPECT_EQ(box.text, "text");
    EXPECT_EQ(box.caption, "Zelm DE");
    EXPECT_EQ(box.style, 0x00200010u);
    EXPECT_EQ(box.languageId, 0x0407);
}

TEST_F(LangTextTest, ReadFailureIsReportedOnceAndTheDefaultFileIsNotTried) {
    Install("[soundquest]\nown\n\n");
    const int opensBefore = os::sim::CallCount(os::sim::Call::CreateFile);
    os::sim::FailCall(os::sim::Call::ReadFile, os::sim::CallCount(os::sim::Call::ReadFile) + 1,
                      os::ERROR_READ_FAULT);
    EXPECT_EQ(GetLangText("bellwick"), "");
    EXPECT_EQ(os::sim::CallCount(os::sim::Call::CreateFile), opensBefore + 1);
    ASSERT_EQ(os::sim::Boxes().size(), 1u);
    EXPECT_EQ(os::sim::Boxes()[0].text, "Can't handle the language support file german.lng");
    EXPECT_EQ(os::sim::Boxes()[0].caption, "Zelm update");
    EXPECT_EQ(os::sim::OpenHandles(), 0);
    EXPECT_EQ(GetLangText("soundquest"), "own");
}

TEST_F(LangTextTest, ReadFailureAmidContinuationLinesGivesAnEmptyText) {
    std::string lines;
    while (lines.size() < 40000) {
        lines += "line " + std::to_string(lines.size()) + "\n";
    }
    Install("[noright]\n" + lines + "\n");
    os::sim::FailCall(os::sim::Call::ReadFile, os::sim::CallCount(os::sim::Call::ReadFile) + 2,
                      os::ERROR_READ_FAULT);
    EXPECT_EQ(GetLangLongText("noright"), "");
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"Can't handle the language support file german.lng"});
    EXPECT_EQ(os::sim::OpenHandles(), 0);
}

TEST_F(LangTextTest, DefaultFileThatCannotBeOpenedIsNamedInRussianOnACyrillicLocale) {
    SetLocale(1049);
    PutLang("english.lng", CompleteLangFile("english", "1033"));
    PutLang("russian.lng", CompleteLangFile("russian", "1049"));
    ASSERT_TRUE(InitLanguages());
    os::sim::FailCallsOn(os::sim::Call::CreateFile, "russian.lng", os::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(GetLangText("soundquest"), "");
    ASSERT_EQ(os::sim::Boxes().size(), 1u);
    const os::sim::Box& box = os::sim::Boxes()[0];
    EXPECT_EQ(box.text, Cp1251("Не удаётся работать с файлом языковой поддержки ") + "russian.lng");
    EXPECT_EQ(box.caption, "russian caption");
    EXPECT_EQ(box.languageId, 0x0019);
}

} // namespace
