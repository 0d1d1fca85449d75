#include "wep/KeyGenerators.h"

#include "wep/Md5Digest.h"

#include <algorithm>

namespace {

constexpr uint32_t kLcgMultiplier = 0x343FD;   // 214013
constexpr uint32_t kLcgIncrement = 0x269EC3;   // 2531011
constexpr size_t kKey128Message = 64;

constexpr uint8_t LowByte(char16_t c) { return static_cast<uint8_t>(c & 0xFF); }

} // namespace

std::array<uint8_t, kKeys64Bytes> GenerateKeys64(std::u16string_view passphrase)
{
    // Characters 0, 4, 8, ... fold into the seed's lowest byte, 1, 5, 9, ... into the next.
    std::array<uint8_t, 4> seed{};
    for (size_t i = 0; i < passphrase.size(); ++i)
        seed[i % 4] ^= LowByte(passphrase[i]);
    uint32_t x = uint32_t{seed[0]} | (uint32_t{seed[1]} << 8) | (uint32_t{seed[2]} << 16) | (uint32_t{seed[3]} << 24);

    // The seed itself never becomes a key byte: each byte is bits 16..23 of the next state.
    std::array<uint8_t, kKeys64Bytes> keys;
    for (uint8_t& byte : keys) {
        x = x * kLcgMultiplier + kLcgIncrement;
        byte = static_cast<uint8_t>(x >> 16);
    }
    return keys;
}

std::array<uint8_t, kKey128Bytes> GenerateKey128(std::u16string_view passphrase)
{
    std::array<uint8_t, kKey128Message> message{};
    if (!passphrase.empty()) {
        for (size_t i = 0; i < message.size(); ++i)
            message[i] = LowByte(passphrase[i % passphrase.size()]);
    }

    Md5Digest digest;
    digest.Update(message);
    digest.Finalize();
    const std::vector<uint8_t> raw = digest.RawDigest();

    std::array<uint8_t, kKey128Bytes> key;
    std::copy_n(raw.begin(), key.size(), key.begin());
    return key;
}
