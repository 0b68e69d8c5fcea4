// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The 15-bit linear congruential generator of the classic C runtime
// (state = state * 214013 + 2531011, output bits 16..30). It is our own class
// rather than std::rand so that a seed yields the same maps on every platform
// and compiler, and so that no two users of it share hidden global state.
class Rand15 final {
public:
    static constexpr std::uint32_t multiplier = 214013u;
    static constexpr std::uint32_t increment = 2531011u;
    static constexpr int maxValue = 0x7FFF;

    constexpr Rand15() = default;
    constexpr explicit Rand15(std::uint32_t seed)
        : m_state(seed)
    {}

    // Seeding takes the seed's bits unchanged, as srand does; a negative int
    // seed therefore maps to its two's-complement pattern.
    constexpr void seed(std::uint32_t seed) { m_state = seed; }

    constexpr int next()
    {
        m_state = m_state * multiplier + increment;
        return static_cast<int>((m_state >> 16) & 0x7FFFu);
    }

    // Advances the state by n draws in O(log n) by composing the affine step
    // with itself; lets a consumer start at any known position of a sequence.
    constexpr void discard(std::uint64_t n) { m_state = jump(m_state, n); }

    constexpr std::uint32_t state() const { return m_state; }
    constexpr void setState(std::uint32_t state) { m_state = state; }

    // The state reached from `state` after n steps.
    static constexpr std::uint32_t jump(std::uint32_t state, std::uint64_t n)
    {
        std::uint32_t accMul = 1u;
        std::uint32_t accAdd = 0u;
        std::uint32_t curMul = multiplier;
        std::uint32_t curAdd = increment;
        while (n != 0) {
            if (n & 1u) {
                accMul = accMul * curMul;
                accAdd = accAdd * curMul + curAdd;
            }
            curAdd = curAdd * curMul + curAdd;
            curMul = curMul * curMul;
            n >>= 1;
        }
        return state * accMul + accAdd;
    }

private:
    std::uint32_t m_state = 1u;
};
