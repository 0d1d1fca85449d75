#pragma once
// The MD5 message digest of RFC 1321, taken in pieces. Every digest uses a fresh object:
// construct, Update any number of times, Finalize once, then read the digest.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class Md5Digest {
public:
    static constexpr size_t kBlockBytes = 64;
    static constexpr size_t kDigestBytes = 16;

    Md5Digest();

    // Appends bytes to the message. Does nothing once the object is finalised.
    void Update(std::span<const uint8_t> bytes);
    void Update(const void* bytes, size_t length);
    // Pads the message, takes the bit count and stores the digest. Runs once only.
    void Finalize();

    bool IsFinalized() const { return finalized != 0; }
    // The 16 digest bytes, or an empty value before Finalize.
    std::vector<uint8_t> RawDigest() const;
    // The digest as 32 lower-case hexadecimal digits, or the empty string before Finalize.
    std::string HexDigest() const;

private:
    void AddBitCount(size_t length);

    std::array<uint32_t, 4> state;      // chaining values A, B, C, D
    std::array<uint32_t, 2> bitCount;   // message bits modulo 2^64, low word first
    std::array<uint8_t, kBlockBytes> buffer;  // the incomplete block
    std::array<uint8_t, kDigestBytes> digestBytes;
    uint8_t finalized;
};
