// SHA-256 (FIPS 180-4), incremental: the digest of the updater's own image and of test data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<std::uint8_t, 32>;

// One running hash. Feed it with Update in pieces of any size, then Finish once.
class Sha256 {
public:
    Sha256();
    void Update(const std::uint8_t* data, std::size_t size);
    // The digest of everything fed; the object must not be fed again afterwards.
    Sha256Digest Finish();

    static Sha256Digest Of(const std::uint8_t* data, std::size_t size);

private:
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{}; // the unfinished block
    std::size_t pendingSize_ = 0;
    std::uint64_t totalSize_ = 0;
};

// Lower-case hexadecimal, for messages and test expectations.
std::string ToHex(const Sha256Digest& digest);
