// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapcontent.h"

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Tab, line feed, vertical tab, form feed, carriage return and 0x1A.
constexpr std::uint32_t textControls =
    (1u << '\t') | (1u << '\n') | (1u << '\v') | (1u << '\f') | (1u << '\r') | (1u << 0x1a);

// The same set as c < 0x20 outside textControls, written as byte ranges so
// that the compiler can test a whole vector of bytes at once.
constexpr bool isBinaryByte(unsigned char c)
{
    return (c < 0x09) | (static_cast<unsigned char>(c - 0x0e) < 0x0c) |
           (static_cast<unsigned char>(c - 0x1b) < 0x05);
}

#if defined(__SSE2__)
// Lanes of `v` whose byte lies in [low, low + count), as unsigned bytes:
// shifted down by `low`, then compared with the sign bit flipped, since SSE2
// only compares signed bytes.
inline __m128i inRange(__m128i v, char low, char count)
{
    const __m128i flip = _mm_set1_epi8(char(0x80));
    const __m128i shifted = _mm_xor_si128(_mm_sub_epi8(v, _mm_set1_epi8(low)), flip);
    return _mm_cmplt_epi8(shifted, _mm_xor_si128(_mm_set1_epi8(count), flip));
}

// The bytes isBinaryByte() finds, sixteen at a time, up to the last whole
// sixteen; what is left is for the byte-by-byte test.
std::size_t binaryScan(const unsigned char *p, std::size_t size, bool &found)
{
    __m128i any = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        any = _mm_or_si128(
            any, _mm_or_si128(inRange(v, 0x00, 0x09),
                              _mm_or_si128(inRange(v, 0x0e, 0x0c), inRange(v, 0x1b, 0x05))));
    }
    found = _mm_movemask_epi8(any) != 0;
    return i;
}
#endif

constexpr bool isWhiteSpace(unsigned char c)
{
    return c == ' ' || (c < 0x20 && ((textControls >> c) & 1u));
}

} // namespace

void MapContentCheck::feed(std::string_view bytes)
{
    if (m_binary)
        return;
    // No early exit: a real map has no offending byte, so the whole file is
    // scanned, sixteen bytes at a time where the processor can, then in
    // blocks of 64 that the compiler can test many bytes of at once.
    constexpr std::size_t lane = 64;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t scanned = 0;
#if defined(__SSE2__)
    bool found = false;
    scanned = binaryScan(p, size, found);
    if (found) {
        m_binary = true;
        return;
    }
#endif
    for (std::size_t start = scanned; start < size; start += lane) {
        const std::size_t end = std::min(size, start + lane);
        unsigned char any = 0;
        for (std::size_t i = start; i < end; ++i)
            any |= static_cast<unsigned char>(isBinaryByte(p[i]));
        if (any) {
            m_binary = true;
            return;
        }
    }
    if (!m_sawWholeNumber)
        scanTokens(bytes);
}

void MapContentCheck::scanTokens(std::string_view bytes)
{
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (isWhiteSpace(c)) {
            if (m_token == Token::Digits) {
                m_sawWholeNumber = true;
                return;
            }
            m_token = Token::Between;
            continue;
        }
        m_sawText = true;
        const bool digit = c >= '0' && c <= '9';
        switch (m_token) {
        case Token::Between:
            m_token = digit ? Token::Digits : (c == '-' || c == '+') ? Token::Sign : Token::Other;
            break;
        case Token::Sign:
        case Token::Digits:
            m_token = digit ? Token::Digits : Token::Other;
            break;
        case Token::Other:
            break;
        }
    }
}

bool MapContentCheck::isMap() const
{
    if (m_binary)
        return false;
    // A whole number may also end the file without white space after it.
    return m_sawWholeNumber || m_token == Token::Digits || !m_sawText;
}
