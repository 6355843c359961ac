#include "install/Sha256.h"
#include "selfcheck/Sha256Engines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Sha256Digest HashOf(const std::string& text) {
    return Sha256::Of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

class Sha256OnEachEngine : public OnEachSha256Engine {};
ZELM_ON_EACH_SHA256_ENGINE(Sha256OnEachEngine);

// Published digests (FIPS 180 examples) and lengths around the padding boundary.
TEST_P(Sha256OnEachEngine, KnownDigests) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopq"
         "rlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToHex(HashOf(c.message)), c.digest) << "length " << c.message.size();
    }
}

TEST_P(Sha256OnEachEngine, MillionLetters) {
    EXPECT_EQ(ToHex(HashOf(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Pieces that start and end anywhere inside a block give the digest of the whole.
TEST_P(Sha256OnEachEngine, PiecesOfAnySizeGiveTheSameDigest) {
    std::string message;
    for (int i = 0; i < 1000; ++i) {
        message += static_cast<char>(i * 7 + i / 13);
    }
    const Sha256Digest whole = HashOf(message);
    for (std::size_t piece : {1U, 3U, 63U, 64U, 65U, 200U}) {
        Sha256 hash;
        for (std::size_t at = 0; at < message.size(); at += piece) {
            const std::string part = message.substr(at, piece);
            hash.Update(reinterpret_cast<const std::uint8_t*>(part.data()), part.size());
        }
        EXPECT_EQ(hash.Finish(), whole) << "pieces of " << piece;
    }
}

} // namespace
