// The host language files kept with the tests: they pass the start-up on every locale they serve,
// and each one holds every key the updater reads, with the placeholders its callers fill.
#include "LangFixture.h"

#include <fstream>
#include <sstream>
#include <tuple>

namespace {

const std::vector<std::string> kHostFiles = {"english.lng", "russian.lng", "ukrainian.lng"};

std::string ReadHostFile(const std::string& name) {
    std::ifstream in(std::string(ZELM_SOURCE_DIR) + "/tests/data/host/language/" + name,
                     std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct KeyUse {
    const char* key;
    bool multiLine;
    std::vector<const char*> placeholders;
};

const std::vector<KeyUse> kKeys = {
    {"progname", false, {}},
    {"langcode", false, {}},
    {"langver", false, {}},
    {"noright", true, {}},
    {"filecantopen", true, {"%1"}},
    {"verificationfail", true, {}},
    {"badinstaller", true, {}},
    {"soundquest", false, {}},
    {"olderfilever", true, {"%1"}},
    {"liveupdatecaption", false, {}},
    {"installask", true, {"%1", "%2"}},
    {"installdone", false, {"%1"}},
    {"asktorun", false, {}},
    {"bellwick", false, {}},
};

class LangHostFilesTest : public LangFixture {
protected:
    void InstallHostFiles() {
        for (const std::string& name : kHostFiles) {
            const std::string bytes = ReadHostFile(name);
            ASSERT_FALSE(bytes.empty()) << name;
            PutLang(name, bytes);
        }
    }
};

TEST_F(LangHostFilesTest, EachLocaleGetsItsLanguage) {
    InstallHostFiles();
    const std::vector<std::tuple<os::LCID, std::string, std::int32_t>> cases = {
        {1033, "english.lng", 1033},
        {1049, "russian.lng", 1049},
        {1058, "ukrainian.lng", 1058},
        {1031, "english.lng", 1033},
        {0x0423, "russian.lng", 1049}};
    for (const auto& [locale, chosen, code] : cases) {
        SetLocale(locale);
        ASSERT_TRUE(InitLanguages()) << locale;
        EXPECT_EQ(CurrentName(), chosen) << locale;
        EXPECT_EQ(Ctx.LangCode, code) << locale;
    }
    EXPECT_TRUE(os::sim::Boxes().empty());
    EXPECT_EQ(Ctx.LocalCaption, Cp1251("Зелм"));
}

// Each file alone, as the only (and so default) file: nothing can come from another one.
TEST_F(LangHostFilesTest, EveryFileHoldsEveryKeyItself) {
    for (const std::string& name : kHostFiles) {
        os::sim::Reset();
        PutLang("english.lng", ReadHostFile(name));
        ASSERT_TRUE(InitLanguages()) << name;
        for (const KeyUse& use : kKeys) {
            const std::string text =
                use.multiLine ? GetLangLongText(use.key) : GetLangText(use.key);
            EXPECT_NE(text.find_first_not_of(" \t\r\n"), std::string::npos)
                << name << " " << use.key;
            EXPECT_EQ(text.find("\r\n["), std::string::npos) << name << " " << use.key;
            for (const char* placeholder : use.placeholders) {
                EXPECT_NE(text.find(placeholder), std::string::npos) << name << " " << use.key;
            }
        }
        EXPECT_TRUE(os::sim::Boxes().empty()) << name;
    }
}

} // namespace
