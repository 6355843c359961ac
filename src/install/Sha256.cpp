#include "install/Sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define ZELM_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

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

#ifdef ZELM_SHA_EXTENSIONS

// Only these functions may use the SHA extensions: the rest of the program stays plain i686 and
// runs on processors without them. The target needs SSSE3 and SSE 4.1 for the byte shuffle and
// the blend; they use the XMM registers only, which every Windows since 2000 saves.
#define ZELM_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

ZELM_SHA_TARGET inline __m128i LoadWords(const std::uint8_t* p) {
    const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bigEndian);
}

// Four rounds on the state halves ABEF and CDGH with the schedule words first..first+3.
ZELM_SHA_TARGET inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i words,
                                       std::size_t first) {
    const __m128i sums = _mm_add_epi32(
        words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[first])));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sums, 0x0E));
}

// The next four schedule words from the sixteen before them, oldest first.
ZELM_SHA_TARGET inline __m128i NextWords(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
    return _mm_sha256msg2_epu32(partial, w3);
}

// The 32-bit Windows ABI keeps the stack 4-byte aligned only; spilled XMM values need 16.
ZELM_SHA_TARGET __attribute__((force_align_arg_pointer)) void
CompressBlocksWithShaExtensions(std::array<std::uint32_t, 8>& state, const std::uint8_t* data,
                                std::size_t blockCount) {
    // The instructions keep the state as ABEF and CDGH (A in the highest lane).
    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blockCount != 0; --blockCount, data += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w0 = LoadWords(data);
        __m128i w1 = LoadWords(data + 16);
        __m128i w2 = LoadWords(data + 32);
        __m128i w3 = LoadWords(data + 48);
        FourRounds(abef, cdgh, w0, 0);
        FourRounds(abef, cdgh, w1, 4);
        FourRounds(abef, cdgh, w2, 8);
        FourRounds(abef, cdgh, w3, 12);
        for (std::size_t first = 16; first < 64; first += 16) {
            w0 = NextWords(w0, w1, w2, w3);
            FourRounds(abef, cdgh, w0, first);
            w1 = NextWords(w1, w2, w3, w0);
            FourRounds(abef, cdgh, w1, first + 4);
            w2 = NextWords(w2, w3, w0, w1);
            FourRounds(abef, cdgh, w2, first + 8);
            w3 = NextWords(w3, w0, w1, w2);
            FourRounds(abef, cdgh, w3, first + 12);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaExtensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_SSSE3) == 0 ||
        (ecx & bit_SSE4_1) == 0) {
        return false;
    }
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_SHA) != 0;
}

#else

bool ProcessorHasShaExtensions() {
    return false;
}

#endif

// Chosen once, before main; zero (the portable engine) for anything hashed even earlier.
Sha256Engine engineInUse = FastestSha256Engine();

void Compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* data,
              std::size_t blockCount) {
#ifdef ZELM_SHA_EXTENSIONS
    if (engineInUse == Sha256Engine::ShaExtensions) {
        CompressBlocksWithShaExtensions(state, data, blockCount);
        return;
    }
#endif
    CompressBlocks(state, data, blockCount);
}

} // namespace

Sha256Engine FastestSha256Engine() {
    return ProcessorHasShaExtensions() ? Sha256Engine::ShaExtensions : Sha256Engine::Portable;
}

bool UseSha256Engine(Sha256Engine engine) {
    if (engine == Sha256Engine::ShaExtensions && !ProcessorHasShaExtensions()) {
        return false;
    }
    engineInUse = engine;
    return true;
}

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
        Compress(state_, pending_.data(), 1);
        pendingSize_ = 0;
    }
    const std::size_t wholeBlocks = size / 64;
    Compress(state_, data, wholeBlocks);
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
