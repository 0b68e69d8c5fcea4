// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

// The 15-bit linear congruential generator of the classic C runtime
// (state = state * 214013 + 2531011, output bits 16..30). It is our own class
// rather than std::rand so that a seed yields the same maps on every platform
// and compiler, and so that no two users of it share hidden global state.
class Rand15 final {
    static constexpr std::uint32_t multiplierValue = 214013u;
    static constexpr std::uint32_t incrementValue = 2531011u;

    // n steps of the generator as one affine map of the state.
    struct Step {
        std::uint32_t mul = 1u;
        std::uint32_t add = 0u;

        constexpr std::uint32_t apply(std::uint32_t state) const { return state * mul + add; }
        static constexpr Step of(std::uint64_t n)
        {
            Step acc;
            Step cur{multiplierValue, incrementValue};
            while (n != 0) {
                if (n & 1u) {
                    acc.mul = acc.mul * cur.mul;
                    acc.add = acc.add * cur.mul + cur.add;
                }
                cur.add = cur.add * cur.mul + cur.add;
                cur.mul = cur.mul * cur.mul;
                n >>= 1;
            }
            return acc;
        }
    };

public:
    static constexpr std::uint32_t multiplier = multiplierValue;
    static constexpr std::uint32_t increment = incrementValue;
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

    // Draws n values in sequence and keeps whether each is at most `limit`
    // (1) or not (0), exactly as n calls of next() would, and leaves the
    // state where they would. Eight draws are made at once from the state
    // before them, each by its own jump, so that no draw waits for the one
    // before it.
    void fillAtMost(std::uint8_t *out, int n, int limit);

    // The state reached from `state` after n steps.
    static constexpr std::uint32_t jump(std::uint32_t state, std::uint64_t n)
    {
        return Step::of(n).apply(state);
    }

private:
    std::uint32_t m_state = 1u;
};
