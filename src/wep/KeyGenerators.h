#pragma once
// WEP keys from a passphrase, by the two methods other equipment uses: four 40-bit keys
// from a linear congruential generator, or one 104-bit key from MD5. Each character of the
// passphrase counts by its low 8 bits only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr size_t kKeys64Bytes = 20;   // Key 1..Key 4, five bytes each
inline constexpr size_t kKey128Bytes = 13;   // Key 1, Key 2 and three bytes of Key 3

// Defined for every passphrase; the empty one gives seed 0.
std::array<uint8_t, kKeys64Bytes> GenerateKeys64(std::u16string_view passphrase);

// The first 13 bytes of the MD5 digest of the passphrase repeated to fill 64 bytes. An empty
// passphrase fills nothing, so the 64 bytes stay zero and their digest gives the key.
std::array<uint8_t, kKey128Bytes> GenerateKey128(std::u16string_view passphrase);
