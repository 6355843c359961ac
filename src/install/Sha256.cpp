#include "install/Sha256.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t Rotr(std::uint32_t x, unsigned n) {
    return (x >> n) | (x << (32U - n));
}

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

inline void StoreBigEndian(std::uint32_t value, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

// One round with the working variables passed in rotated order, so that eight calls with
// shifted arguments make up eight rounds without moving any variable.
inline void Round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t constantPlusWord) {
    const std::uint32_t sum1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
    const std::uint32_t choose = g ^ (e & (f ^ g));
    const std::uint32_t t1 = h + sum1 + choose + constantPlusWord;
    const std::uint32_t sum0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
    const std::uint32_t majority = (a & b) | (c & (a | b));
    d += t1;
    h = t1 + sum0 + majority;
}

inline std::uint32_t ScheduleWord(const std::array<std::uint32_t, 64>& w, std::size_t i) {
    const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    return w[i - 16] + s0 + w[i - 7] + s1;
}

void CompressBlocks(std::array<std::uint32_t, 8>& state, const std::uint8_t* data,
                    std::size_t blockCount) {
    std::array<std::uint32_t, 64> w;
    for (; blockCount != 0; --blockCount, data += 64) {
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = LoadBigEndian(data + 4 * i);
        }
        for (std::size_t i = 16; i < 64; ++i) {
            w[i] = ScheduleWord(w, i);
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (std::size_t i = 0; i < 64; i += 8) {
            Round(a, b, c, d, e, f, g, h, kRoundConstants[i] + w[i]);
            Round(h, a, b, c, d, e, f, g, kRoundConstants[i + 1] + w[i + 1]);
            Round(g, h, a, b, c, d, e, f, kRoundConstants[i + 2] + w[i + 2]);
            Round(f, g, h, a, b, c, d, e, kRoundConstants[i + 3] + w[i + 3]);
            Round(e, f, g, h, a, b, c, d, kRoundConstants[i + 4] + w[i + 4]);
            Round(d, e, f, g, h, a, b, c, kRoundConstants[i + 5] + w[i + 5]);
            Round(c, d, e, f, g, h, a, b, kRoundConstants[i + 6] + w[i + 6]);
            Round(b, c, d, e, f, g, h, a, kRoundConstants[i + 7] + w[i + 7]);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

} // namespace

Sha256::Sha256() : state_(kInitialState) {}

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    totalSize_ += size;
    if (pendingSize_ != 0) {
        const std::size_t take = std::min(size, pending_.size() - pendingSize_);
        std::memcpy(pending_.data() + pendingSize_, data, take);
        pendingSize_ += take;
        data += take;
        size -= take;
        if (pendingSize_ < pending_.size()) {
            return;
        }
        CompressBlocks(state_, pending_.data(), 1);
        pendingSize_ = 0;
    }
    const std::size_t wholeBlocks = size / 64;
    CompressBlocks(state_, data, wholeBlocks);
    data += wholeBlocks * 64;
    size -= wholeBlocks * 64;
    std::memcpy(pending_.data(), data, size);
    pendingSize_ = size;
}

Sha256Digest Sha256::Finish() {
    const std::uint64_t bitLength = totalSize_ * 8;
    // Padding: one 1-bit, zeros, then the 64-bit length, ending on a block boundary.
    std::array<std::uint8_t, 72> padding{};
    padding[0] = 0x80;
    const std::size_t lengthAt = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (std::size_t i = 0; i < 8; ++i) {
        padding[lengthAt + i] = static_cast<std::uint8_t>(bitLength >> (56 - 8 * i));
    }
    Update(padding.data(), lengthAt + 8);
    Sha256Digest digest;
    for (std::size_t i = 0; i < state_.size(); ++i) {
        StoreBigEndian(state_[i], digest.data() + 4 * i);
    }
    return digest;
}

Sha256Digest Sha256::Of(const std::uint8_t* data, std::size_t size) {
    Sha256 hash;
    hash.Update(data, size);
    return hash.Finish();
}

std::string ToHex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}
