#pragma once

#include <string_view>

namespace lumacast {

// A digit's value in base 16, or -1 for any other character.
constexpr int HexDigitValue(char16_t c) noexcept
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// An integer's text after its optional sign and base prefix.
struct IntegerText {
    bool negative = false;
    int base = 10;
    std::u16string_view digits;
};

// Splits off one optional sign, then a $, x, X, 0x or 0X prefix that makes
// the digits hexadecimal. The text starts at the sign; the digits are not
// checked.
constexpr IntegerText SplitIntegerText(std::u16string_view s) noexcept
{
    IntegerText text;
    if (!s.empty() && (s.front() == u'+' || s.front() == u'-')) {
        text.negative = s.front() == u'-';
        s.remove_prefix(1);
    }
    if (!s.empty() && (s.front() == u'$' || s.front() == u'x' || s.front() == u'X')) {
        text.base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) {
        text.base = 16;
        s.remove_prefix(2);
    }
    text.digits = s;
    return text;
}

} // namespace lumacast
