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

// The block function behind every Sha256. Both give the same digests; the SHA extensions are the
// faster one and need a processor that has them (x86 from about 2016 on), so older machines,
// Windows 2000 and XP among them, run the portable one.
enum class Sha256Engine { Portable, ShaExtensions };

// The fastest engine this processor runs; the one in use unless UseSha256Engine chose another.
Sha256Engine FastestSha256Engine();
// For tests and benchmarks that compare the engines: makes `engine` the one in use and returns
// true, or returns false and changes nothing when the processor cannot run it.
bool UseSha256Engine(Sha256Engine engine);

// Lower-case hexadecimal, for messages and test expectations.
std::string ToHex(const Sha256Digest& digest);
