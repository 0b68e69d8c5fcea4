// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>

// Tells a file opened by mistake (a picture, an archive, a document) from
// the hand-made text the lenient plain reader accepts, so that it can be
// refused instead of drawn as a map of zeros. The rules look only at the
// bytes:
//
// - A NUL byte, or any other C0 control byte than tab, line feed, vertical
//   tab, form feed, carriage return and the DOS end-of-file mark (0x1A),
//   makes the content binary. No text editor writes them, and every common
//   binary format (PNG, ZIP, PDF streams, executables) has them in its first
//   few bytes.
// - Text that holds anything but white space must hold at least one whole
//   number: an optional sign and decimal digits between white space. A file
//   of prose or of names has none.
//
// Bytes above 0x7F are allowed, so that a map with a comment in any
// encoding still loads, and so is a file of nothing but white space, which
// loads as an empty map or a row of zeros as it always has.
class MapContentCheck final {
public:
    void feed(std::string_view bytes);

    // Known as soon as the first offending byte is fed, so that reading can
    // stop there.
    bool isBinary() const { return m_binary; }
    // Whether everything fed so far, taken as a whole file, can be a map.
    bool isMap() const;

private:
    enum class Token : std::uint8_t { Between, Sign, Digits, Other };

    void scanTokens(std::string_view bytes);

    bool m_binary = false;
    bool m_sawText = false;
    bool m_sawWholeNumber = false;
    Token m_token = Token::Between;
};
