// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/mapcontent.h"

#include <algorithm>
#include <cstddef>

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

constexpr bool isWhiteSpace(unsigned char c)
{
    return c == ' ' || (c < 0x20 && ((textControls >> c) & 1u));
}

} // namespace

void MapContentCheck::feed(std::string_view bytes)
{
    if (m_binary)
        return;
    // Blocks of 64 bytes without an early exit let the compiler test many
    // bytes at once; a real map has no offending byte, so the whole file is
    // scanned this way.
    constexpr std::size_t lane = 64;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t size = bytes.size();
    for (std::size_t start = 0; start < size; start += lane) {
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
