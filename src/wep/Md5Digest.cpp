#include "wep/Md5Digest.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::array<uint32_t, 4> kInitialState{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// Message words and the digest are little-endian whatever the host's order.
inline uint32_t LoadLittleEndian(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    return v;
}

inline void StoreLittleEndian(uint8_t* p, uint32_t v)
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    std::memcpy(p, &v, sizeof v);
}

// The four auxiliary functions, each folded into one step: a := b + ((a + f(b,c,d) + x + t) <<< s).
// F and G are written in forms with fewer operations that give the same bits.
template <int S>
[[gnu::always_inline]] inline void StepF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t)
{
    a = b + std::rotl(a + (d ^ (b & (c ^ d))) + x + t, S);
}

template <int S>
[[gnu::always_inline]] inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t)
{
    // (b AND d) OR (c AND NOT d): the two terms share no bit, so they may be added.
    a = b + std::rotl(a + x + t + (c & ~d) + (b & d), S);
}

template <int S>
[[gnu::always_inline]] inline void StepH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t)
{
    a = b + std::rotl(a + (b ^ c ^ d) + x + t, S);
}

template <int S>
[[gnu::always_inline]] inline void StepI(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t)
{
    a = b + std::rotl(a + (c ^ (b | ~d)) + x + t, S);
}

// Processes `blocks` consecutive 64-byte blocks: the four passes of sixteen steps each.
void Transform(std::array<uint32_t, 4>& state, const uint8_t* data, size_t blocks)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, data += Md5Digest::kBlockBytes) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = LoadLittleEndian(data + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        StepF<7>(a, b, c, d, x[0], 0xd76aa478u);
        StepF<12>(d, a, b, c, x[1], 0xe8c7b756u);
        StepF<17>(c, d, a, b, x[2], 0x242070dbu);
        StepF<22>(b, c, d, a, x[3], 0xc1bdceeeu);
        StepF<7>(a, b, c, d, x[4], 0xf57c0fafu);
        StepF<12>(d, a, b, c, x[5], 0x4787c62au);
        StepF<17>(c, d, a, b, x[6], 0xa8304613u);
        StepF<22>(b, c, d, a, x[7], 0xfd469501u);
        StepF<7>(a, b, c, d, x[8], 0x698098d8u);
        StepF<12>(d, a, b, c, x[9], 0x8b44f7afu);
        StepF<17>(c, d, a, b, x[10], 0xffff5bb1u);
        StepF<22>(b, c, d, a, x[11], 0x895cd7beu);
        StepF<7>(a, b, c, d, x[12], 0x6b901122u);
        StepF<12>(d, a, b, c, x[13], 0xfd987193u);
        StepF<17>(c, d, a, b, x[14], 0xa679438eu);
        StepF<22>(b, c, d, a, x[15], 0x49b40821u);

        StepG<5>(a, b, c, d, x[1], 0xf61e2562u);
        StepG<9>(d, a, b, c, x[6], 0xc040b340u);
        StepG<14>(c, d, a, b, x[11], 0x265e5a51u);
        StepG<20>(b, c, d, a, x[0], 0xe9b6c7aau);
        StepG<5>(a, b, c, d, x[5], 0xd62f105du);
        StepG<9>(d, a, b, c, x[10], 0x02441453u);
        StepG<14>(c, d, a, b, x[15], 0xd8a1e681u);
        StepG<20>(b, c, d, a, x[4], 0xe7d3fbc8u);
        StepG<5>(a, b, c, d, x[9], 0x21e1cde6u);
        StepG<9>(d, a, b, c, x[14], 0xc33707d6u);
        StepG<14>(c, d, a, b, x[3], 0xf4d50d87u);
        StepG<20>(b, c, d, a, x[8], 0x455a14edu);
        StepG<5>(a, b, c, d, x[13], 0xa9e3e905u);
        StepG<9>(d, a, b, c, x[2], 0xfcefa3f8u);
        StepG<14>(c, d, a, b, x[7], 0x676f02d9u);
        StepG<20>(b, c, d, a, x[12], 0x8d2a4c8au);

        StepH<4>(a, b, c, d, x[5], 0xfffa3942u);
        StepH<11>(d, a, b, c, x[8], 0x8771f681u);
        StepH<16>(c, d, a, b, x[11], 0x6d9d6122u);
        StepH<23>(b, c, d, a, x[14], 0xfde5380cu);
        StepH<4>(a, b, c, d, x[1], 0xa4beea44u);
        StepH<11>(d, a, b, c, x[4], 0x4bdecfa9u);
        StepH<16>(c, d, a, b, x[7], 0xf6bb4b60u);
        StepH<23>(b, c, d, a, x[10], 0xbebfbc70u);
        StepH<4>(a, b, c, d, x[13], 0x289b7ec6u);
        StepH<11>(d, a, b, c, x[0], 0xeaa127fau);
        StepH<16>(c, d, a, b, x[3], 0xd4ef3085u);
        StepH<23>(b, c, d, a, x[6], 0x04881d05u);
        StepH<4>(a, b, c, d, x[9], 0xd9d4d039u);
        StepH<11>(d, a, b, c, x[12], 0xe6db99e5u);
        StepH<16>(c, d, a, b, x[15], 0x1fa27cf8u);
        StepH<23>(b, c, d, a, x[2], 0xc4ac5665u);

        StepI<6>(a, b, c, d, x[0], 0xf4292244u);
        StepI<10>(d, a, b, c, x[7], 0x432aff97u);
        StepI<15>(c, d, a, b, x[14], 0xab9423a7u);
        StepI<21>(b, c, d, a, x[5], 0xfc93a039u);
        StepI<6>(a, b, c, d, x[12], 0x655b59c3u);
        StepI<10>(d, a, b, c, x[3], 0x8f0ccc92u);
        StepI<15>(c, d, a, b, x[10], 0xffeff47du);
        StepI<21>(b, c, d, a, x[1], 0x85845dd1u);
        StepI<6>(a, b, c, d, x[8], 0x6fa87e4fu);
        StepI<10>(d, a, b, c, x[15], 0xfe2ce6e0u);
        StepI<15>(c, d, a, b, x[6], 0xa3014314u);
        StepI<21>(b, c, d, a, x[13], 0x4e0811a1u);
        StepI<6>(a, b, c, d, x[4], 0xf7537e82u);
        StepI<10>(d, a, b, c, x[11], 0xbd3af235u);
        StepI<15>(c, d, a, b, x[2], 0x2ad7d2bbu);
        StepI<21>(b, c, d, a, x[9], 0xeb86d391u);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state = {a, b, c, d};
}

} // namespace

Md5Digest::Md5Digest() : state(kInitialState), bitCount{0, 0}, buffer{}, digestBytes{}, finalized(0) {}

void Md5Digest::AddBitCount(size_t length)
{
    // The count is kept modulo 2^64, as the padding carries it.
    uint64_t bits = (uint64_t{bitCount[1]} << 32) | bitCount[0];
    bits += static_cast<uint64_t>(length) << 3;
    bitCount = {static_cast<uint32_t>(bits), static_cast<uint32_t>(bits >> 32)};
}

void Md5Digest::Update(const void* bytes, size_t length)
{
    if (finalized || length == 0)
        return;
    const auto* in = static_cast<const uint8_t*>(bytes);
    size_t used = (bitCount[0] >> 3) & (kBlockBytes - 1);
    AddBitCount(length);

    if (used > 0) {
        const size_t take = std::min(length, kBlockBytes - used);
        std::memcpy(buffer.data() + used, in, take);
        in += take;
        length -= take;
        used += take;
        if (used < kBlockBytes)
            return;
        Transform(state, buffer.data(), 1);
    }
    // Whole blocks are taken straight from the caller's bytes; only the tail waits.
    const size_t blocks = length / kBlockBytes;
    Transform(state, in, blocks);
    in += blocks * kBlockBytes;
    length -= blocks * kBlockBytes;
    if (length > 0)
        std::memcpy(buffer.data(), in, length);
}

void Md5Digest::Update(std::span<const uint8_t> bytes) { Update(bytes.data(), bytes.size()); }

void Md5Digest::Finalize()
{
    if (finalized)
        return;
    // The count is taken before padding: the padding itself is not part of the message.
    std::array<uint8_t, 8> length;
    StoreLittleEndian(length.data(), bitCount[0]);
    StoreLittleEndian(length.data() + 4, bitCount[1]);

    // One 0x80 byte, then zeros until 56 bytes of the last block are used.
    std::array<uint8_t, kBlockBytes> padding{};
    padding[0] = 0x80;
    const size_t used = (bitCount[0] >> 3) & (kBlockBytes - 1);
    const size_t padLength = used < 56 ? 56 - used : 120 - used;
    Update(padding.data(), padLength);
    Update(length.data(), length.size());

    for (size_t i = 0; i < state.size(); ++i)
        StoreLittleEndian(digestBytes.data() + 4 * i, state[i]);
    finalized = 1;
}

std::vector<uint8_t> Md5Digest::RawDigest() const
{
    if (!finalized)
        return {};
    return {digestBytes.begin(), digestBytes.end()};
}

std::string Md5Digest::HexDigest() const
{
    if (!finalized)
        return {};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * kDigestBytes);
    for (uint8_t byte : digestBytes) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}
