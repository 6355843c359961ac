// The resources inside a built ZelmSoundUpdate.exe, read by walking its PE resource directory.
// Runs when the Windows build has produced the executable (or ZELM_EXE names one).
#include "BankTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

struct Leaf {
    std::string type; // a string type as written, or "#" + number
    std::string name;
    std::uint32_t language = 0;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// Bounds-checked little-endian reads: a malformed image throws std::out_of_range.
std::uint32_t U16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8);
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

class PeResources {
public:
    explicit PeResources(Bytes image) : image_(std::move(image)) {
        const std::size_t pe = U32(image_, 0x3C);
        const std::size_t sections = U16(image_, pe + 6);
        const std::size_t optional = pe + 24;
        const std::size_t table = optional + U16(image_, pe + 20);
        for (std::size_t s = 0; s < sections; ++s)
            sections_.push_back(table + 40 * s);
        rsrc_ = FileOffset(U32(image_, optional + 96 + 2 * 8)); // data directory 2: resources
        Walk(0, 0, {});
    }

    const std::vector<Leaf>& Leaves() const { return leaves_; }

    Bytes Data(const Leaf& leaf) const {
        const std::size_t at = FileOffset(leaf.rva);
        return Bytes(image_.begin() + static_cast<std::ptrdiff_t>(at),
                     image_.begin() + static_cast<std::ptrdiff_t>(at + leaf.size));
    }

private:
    std::size_t FileOffset(std::uint32_t rva) const {
        for (std::size_t s : sections_) {
            const std::uint32_t start = U32(image_, s + 12);
            if (rva >= start && rva < start + U32(image_, s + 8))
                return U32(image_, s + 20) + (rva - start);
        }
        throw std::out_of_range("RVA outside every section");
    }

    std::string EntryName(std::uint32_t field) const {
        if ((field & 0x80000000u) == 0)
            return "#" + std::to_string(field);
        const std::size_t at = rsrc_ + (field & 0x7FFFFFFFu);
        std::string name;
        for (std::size_t i = 0; i < U16(image_, at); ++i)
            name += static_cast<char>(U16(image_, at + 2 + 2 * i));
        return name;
    }

    // Levels: 0 type, 1 name, 2 language.
    void Walk(std::size_t directory, int level, Leaf path) {
        const std::size_t at = rsrc_ + directory;
        const std::size_t entries = U16(image_, at + 12) + U16(image_, at + 14);
        for (std::size_t e = 0; e < entries; ++e) {
            const std::uint32_t nameField = U32(image_, at + 16 + 8 * e);
            const std::uint32_t target = U32(image_, at + 16 + 8 * e + 4);
            Leaf next = path;
            if (level == 0)
                next.type = EntryName(nameField);
            else if (level == 1)
                next.name = EntryName(nameField);
            else
                next.language = nameField;
            if (target & 0x80000000u) {
                ASSERT_LT(level, 2);
                Walk(target & 0x7FFFFFFFu, level + 1, next);
            } else {
                next.rva = U32(image_, rsrc_ + target);
                next.size = U32(image_, rsrc_ + target + 4);
                leaves_.push_back(next);
            }
        }
    }

    Bytes image_;
    std::vector<std::size_t> sections_;
    std::size_t rsrc_ = 0;
    std::vector<Leaf> leaves_;
};

std::string ExePath() {
    const char* named = std::getenv("ZELM_EXE");
    return named ? named : ZELM_SOURCE_DIR "/build/windows/ZelmSoundUpdate.exe";
}

class ExeResources : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(ExePath()))
            GTEST_SKIP() << ExePath() << " has not been built";
        resources_ = std::make_unique<PeResources>(ReadBytes(ExePath()));
    }
    const Leaf* Find(const std::string& type, const std::string& name) const {
        for (const Leaf& leaf : resources_->Leaves())
            if (leaf.type == type && leaf.name == name)
                return &leaf;
        return nullptr;
    }
    std::unique_ptr<PeResources> resources_;
};

TEST_F(ExeResources, CarryTheSoundBankByteForByte) {
    const Leaf* bank = Find("3BS", "ZORV");
    ASSERT_NE(bank, nullptr);
    EXPECT_EQ(bank->language, 0x0419u);
    EXPECT_EQ(bank->size, 5458724u);
    EXPECT_TRUE(resources_->Data(*bank) == ReadBytes(kEmbeddedBankPath));
}

TEST_F(ExeResources, AreAllRussianAndIncludeManifestIconAndVersion) {
    EXPECT_NE(Find("#24", "#1"), nullptr); // manifest
    EXPECT_NE(Find("#14", "#1"), nullptr); // icon group
    EXPECT_NE(Find("#16", "#1"), nullptr); // version information
    for (const Leaf& leaf : resources_->Leaves())
        EXPECT_EQ(leaf.language, 0x0419u) << leaf.type << "/" << leaf.name;
}

TEST_F(ExeResources, IconHasEveryRequiredSize) {
    const Leaf* group = Find("#14", "#1");
    ASSERT_NE(group, nullptr);
    const Bytes dir = resources_->Data(*group);
    std::vector<unsigned> sizes;
    for (std::size_t i = 0; i < U16(dir, 4); ++i) {
        const unsigned width = dir.at(6 + 14 * i);
        sizes.push_back(width == 0 ? 256 : width);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 48, 64, 256}));
}

} // namespace
