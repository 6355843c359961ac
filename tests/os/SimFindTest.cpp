#include "SimFixture.h"

#include <fstream>
#include <string>
#include <vector>

using namespace os;

namespace {

struct Found {
    std::string name;
    DWORD attributes;
    std::uint64_t size;
};

// Every entry a search yields, or nothing with the error of FindFirstFileA.
std::vector<Found> Search(const char* pattern, DWORD* firstError = nullptr) {
    std::vector<Found> found;
    WIN32_FIND_DATAA data{};
    ScopedFindHandle find(FindFirstFileA(pattern, &data));
    if (!find) {
        if (firstError != nullptr) {
            *firstError = GetLastError();
        }
        return found;
    }
    do {
        found.push_back(Found{data.cFileName, data.dwFileAttributes,
                              (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (FindNextFileA(find.get(), &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    return found;
}

std::vector<std::string> Names(const std::vector<Found>& found) {
    std::vector<std::string> names;
    for (const auto& entry : found) {
        names.push_back(entry.name);
    }
    return names;
}

class FindTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::PutFile("C:\\Zelm\\language\\russian.lng", "ru");
        sim::PutFile("C:\\Zelm\\language\\English.LNG", "en");
        sim::PutFile("C:\\Zelm\\language\\readme", "no dot");
        sim::PutFile("C:\\Zelm\\language\\a_b.lngx", "longer extension");
        sim::MakeFolder("C:\\Zelm\\language\\Old");
    }
};

TEST_F(FindTest, StarDotStarMatchesEveryNameAfterDotAndDotDot) {
    EXPECT_EQ(Names(Search("C:\\Zelm\\language\\*.*")),
              (std::vector<std::string>{".", "..", "a_b.lngx", "English.LNG", "Old", "readme",
                                        "russian.lng"}));
}

TEST_F(FindTest, ExtensionPatternIgnoresCase) {
    EXPECT_EQ(Names(Search("c:\\zelm\\LANGUAGE\\*.lng")),
              (std::vector<std::string>{"English.LNG", "russian.lng"}));
    EXPECT_EQ(Names(Search("C:\\Zelm\\language\\?USSIAN.*")),
              (std::vector<std::string>{"russian.lng"}));
}

TEST_F(FindTest, RelativePatternsStartAtTheCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Zelm"));
    EXPECT_EQ(Names(Search("language\\r*")), (std::vector<std::string>{"readme", "russian.lng"}));
}

TEST_F(FindTest, OrderIsUpperCaseOrderAsOnNtfs) {
    sim::PutFile("C:\\Sort\\ab", "");
    sim::PutFile("C:\\Sort\\a_b", "");
    sim::PutFile("C:\\Sort\\B", "");
    // '_' sorts after the letters once they are upper case.
    EXPECT_EQ(Names(Search("C:\\Sort\\*")),
              (std::vector<std::string>{".", "..", "ab", "a_b", "B"}));
}

TEST_F(FindTest, AttributesAndSizes) {
    const auto found = Search("C:\\Zelm\\language\\*");
    ASSERT_EQ(found.size(), 7U);
    EXPECT_EQ(found[0].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[4].name, "Old");
    EXPECT_EQ(found[4].attributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[6].attributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(found[6].size, 2U);
}

TEST_F(FindTest, SizesOfFourGibibytesAndMore) {
    sim::MakeFolder("C:\\Big");
    {
        std::ofstream big(sim::HostPath("C:\\Big\\huge.bin"), std::ios::binary);
        big.seekp(0x100000005LL);
        big.put('x');
    }
    const auto found = Search("C:\\Big\\huge.bin");
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].size, 0x100000006ULL);
}

TEST_F(FindTest, DriveRootHasNoDotEntries) {
    const auto names = Names(Search("C:\\*"));
    ASSERT_FALSE(names.empty());
    EXPECT_NE(names.front(), ".");
}

TEST_F(FindTest, JunctionsShowAsReparsePointsAndLeadToTheirTarget) {
    sim::MakeJunction("C:\\Zelm\\Link", "C:\\Zelm\\language");
    const auto found = Search("C:\\Zelm\\Link*");
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].attributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_EQ(Names(Search("C:\\Zelm\\link\\*.lng")),
              (std::vector<std::string>{"English.LNG", "russian.lng"}));
}

TEST_F(FindTest, FailuresTellNoMatchFromNoFolder) {
    DWORD error = 0;
    EXPECT_TRUE(Search("C:\\Zelm\\language\\*.txt", &error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Search("C:\\Zelm\\missing\\*.lng", &error).empty());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

TEST_F(FindTest, FindHandlesCountAndCloseOnlyWithFindClose) {
    WIN32_FIND_DATAA data{};
    const HANDLE find = FindFirstFileA("C:\\Zelm\\language\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::OpenHandles(), 1);
    EXPECT_FALSE(CloseHandle(find));
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(sim::OpenHandles(), 0);
}

} // namespace
