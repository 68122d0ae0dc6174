// The random source of the sample-store generator.
//
// The generator must make the same store for the same seed on every
// machine, so it draws only from std::mt19937, whose output sequence the
// language fixes, and shapes the draws with its own arithmetic instead of
// the standard distributions, whose algorithms differ between libraries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace mapi::tools {

class SampleRandom {
public:
    explicit SampleRandom(uint32_t seed) : engine_(seed) {}

    // Uniform in [0, n); n must be > 0. Rejection sampling keeps it unbiased.
    uint32_t Below(uint32_t n) {
        const uint32_t limit = UINT32_MAX - (UINT32_MAX % n);
        uint32_t draw;
        do draw = static_cast<uint32_t>(engine_());
        while (draw >= limit);
        return draw % n;
    }

    // Uniform in [0, n) for spans wider than 32 bits; n must be > 0.
    uint64_t Below64(uint64_t n) {
        const uint64_t limit = UINT64_MAX - (UINT64_MAX % n);
        uint64_t draw;
        do draw = (static_cast<uint64_t>(engine_()) << 32) | static_cast<uint32_t>(engine_());
        while (draw >= limit);
        return draw % n;
    }

    // Uniform in [lo, hi], both included; lo <= hi.
    int Between(int lo, int hi) {
        return lo + static_cast<int>(Below(static_cast<uint32_t>(hi - lo) + 1));
    }

    // True with the given probability in percent.
    bool Chance(uint32_t percent) { return Below(100) < percent; }

    // One element of a non-empty array.
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<uint32_t>(N))];
    }

    uint8_t Byte() { return static_cast<uint8_t>(engine_() >> 24); }

private:
    std::mt19937 engine_;
};

}  // namespace mapi::tools
