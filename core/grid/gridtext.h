// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <system_error>

// The text of an ESRI ASCII grid as every reader of one takes it: blanks
// as the C locale knows them, keywords in any case, numbers as the C
// locale writes them.
namespace gridtext {

constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

constexpr char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

inline std::string lowered(const std::string &text)
{
    std::string result = text;
    for (char &c : result)
        c = lower(c);
    return result;
}

// A number as the C locale writes it, NaN and infinities included, with an
// optional leading '+'; nothing for anything else.
inline std::optional<double> realNumber(const std::string &token)
{
    const char *begin = token.data();
    const char *end = begin + token.size();
    if (begin != end && *begin == '+')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace gridtext
