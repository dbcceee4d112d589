#include "report/Sha256.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define QUILLON_SHA_EXTENSIONS 1
#endif

namespace
{
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline std::uint32_t rotateRight(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

// One block, by the book.
void compressPortable(std::array<std::uint32_t, 8>& state, const std::uint8_t* block)
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (std::uint32_t(block[4 * i]) << 24) | (std::uint32_t(block[4 * i + 1]) << 16)
               | (std::uint32_t(block[4 * i + 2]) << 8) | std::uint32_t(block[4 * i + 3]);
    for (int i = 16; i < 64; ++i)
    {
        const std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i)
    {
        const std::uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choice + kRound[i] + w[i];
        const std::uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
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

#if QUILLON_SHA_EXTENSIONS
bool hasShaExtensions()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1))
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

// Four rounds per step on the SHA extensions; the state is kept as the
// instructions want it, ABEF and CDGH.
__attribute__((target("sha,sse4.1,ssse3"))) void compressWithExtensions(std::uint32_t* state,
                                                                          const std::uint8_t* blocks,
                                                                          std::size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i badc = _mm_shuffle_epi32(dcba, 0xB1);
    hgfe = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);

    for (; count != 0; --count, blocks += 64)
    {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[16];
        for (int i = 0; i < 16; ++i)
        {
            if (i < 4)
                w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
            else
                w[i] = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w[i - 4], w[i - 3]),
                                                          _mm_alignr_epi8(w[i - 1], w[i - 2], 4)),
                                            w[i - 1]);
            __m128i message = _mm_add_epi32(w[i], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif
} // namespace

Sha256::Sha256(bool portableOnly)
    : state { 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19 }
{
#if QUILLON_SHA_EXTENSIONS
    static const bool available = hasShaExtensions();
    hardware = available && !portableOnly;
#else
    (void)portableOnly;
#endif
}

void Sha256::compress(const std::uint8_t* blocks, std::size_t count)
{
#if QUILLON_SHA_EXTENSIONS
    if (hardware)
    {
        compressWithExtensions(state.data(), blocks, count);
        return;
    }
#endif
    for (; count != 0; --count, blocks += 64)
        compressPortable(state, blocks);
}

void Sha256::update(const void* bytes, std::size_t count)
{
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    totalBytes += count;
    if (pendingCount != 0)
    {
        const std::size_t take = std::min(count, pending.size() - pendingCount);
        std::memcpy(pending.data() + pendingCount, in, take);
        pendingCount += take;
        in += take;
        count -= take;
        if (pendingCount < pending.size())
            return;
        compress(pending.data(), 1);
        pendingCount = 0;
    }
    compress(in, count / 64);
    in += count / 64 * 64;
    count %= 64;
    if (count != 0)
        std::memcpy(pending.data(), in, count);
    pendingCount = count;
}

std::string Sha256::finishHex()
{
    const std::uint64_t bits = totalBytes * 8;
    const std::uint8_t one = 0x80;
    const std::uint8_t zero = 0;
    update(&one, 1);
    while (pendingCount != 56)
        update(&zero, 1);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(length, 8);

    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (std::uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += digits[(word >> shift) & 0xf];
    return hex;
}

std::string sha256Hex(const void* bytes, std::size_t count)
{
    Sha256 hash;
    hash.update(bytes, count);
    return hash.finishHex();
}

bool sha256OfFile(const std::string& path, std::string& hex, std::string& error)
{
    struct Closer
    {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file)
    {
        error = "can't open " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    Sha256 hash;
    std::vector<std::uint8_t> buffer(std::size_t(1) << 16);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) != 0)
        hash.update(buffer.data(), got);
    if (std::ferror(file.get()))
    {
        error = "error reading " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    hex = hash.finishHex();
    return true;
}
