#pragma once
// The simulator's only source of chance. std::mt19937 is fully defined by the language, but
// the standard distributions are not: each library may turn the same engine output into
// different numbers. The few distributions we need are written out here, so a seed gives the
// same run with every compiler and library version.

#include <cstdint>
#include <random>

namespace cardsim {

class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}

    // Uniform in 0 .. bound - 1, without modulo bias; 0 when bound is 0.
    uint32_t Below(uint32_t bound);
    // Uniform in low .. high, both included (low <= high).
    int Between(int low, int high);
    uint8_t Byte() { return static_cast<uint8_t>(Below(256)); }

private:
    std::mt19937 engine_;
};

} // namespace cardsim
