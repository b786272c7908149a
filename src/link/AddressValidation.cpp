#include "link/AddressValidation.h"

#include "link/IntegerText.h"

#include <cstddef>
#include <cstdint>

namespace lumacast {
namespace {

constexpr std::size_t NotFound = std::u16string_view::npos;

bool IsDecimal(char16_t c) noexcept
{
    return c >= u'0' && c <= u'9';
}

bool AllHex(std::u16string_view s) noexcept
{
    for (char16_t c : s)
        if (HexDigitValue(c) < 0)
            return false;
    return true;
}

std::u16string_view SkipZeros(std::u16string_view s) noexcept
{
    const auto first = s.find_first_not_of(u'0');
    return first == NotFound ? std::u16string_view{} : s.substr(first);
}

// One or more hex digits whose value fits 64 bits: at most sixteen of them
// after the leading zeros.
bool IsHex64(std::u16string_view digits) noexcept
{
    return !digits.empty() && AllHex(digits) && SkipZeros(digits).size() <= 16;
}

// One or more decimal digits whose value is at most `limit`.
bool IsDecimalUpTo(std::u16string_view digits, std::uint64_t limit) noexcept
{
    if (digits.empty())
        return false;
    std::uint64_t value = 0;
    for (char16_t c : digits) {
        if (!IsDecimal(c))
            return false;
        const auto d = static_cast<std::uint64_t>(c - u'0');
        if (value > (limit - d) / 10)
            return false;
        value = value * 10 + d;
    }
    return true;
}

// The syntax of a signed 64-bit integer: leading spaces, one optional sign,
// then decimal digits in range, or a $, x or 0x prefix and hex digits.
bool IsInteger64(std::u16string_view s) noexcept
{
    const auto start = s.find_first_not_of(u' ');
    if (start == NotFound)
        return false;
    s.remove_prefix(start);
    const IntegerText text = SplitIntegerText(s);
    if (text.base == 16)
        return IsHex64(text.digits);
    constexpr std::uint64_t MaxPositive = INT64_MAX;
    return IsDecimalUpTo(text.digits, text.negative ? MaxPositive + 1 : MaxPositive);
}

bool IsDottedNumber(std::u16string_view part) noexcept
{
    // 0x with any number of hex digits, beyond what 64 bits hold.
    if (part.size() > 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X') && AllHex(part.substr(2)))
        return true;
    return IsInteger64(part);
}

// A decimal run of the IPv4 tail: one or more digits, value at most 255.
bool IsOctet(std::u16string_view run) noexcept
{
    return IsDecimalUpTo(run, 255);
}

bool IsGroup(std::u16string_view group) noexcept
{
    return AllHex(group) && SkipZeros(group).size() <= 4;
}

// One part of a connect address: optional sign, then decimal digits or a
// $, x, X, 0x, 0X prefix and hex digits. Values past 255 stop early.
std::optional<std::uint32_t> ReadPart(std::u16string_view part) noexcept
{
    while (!part.empty() && part.front() == u' ')
        part.remove_prefix(1);
    while (!part.empty() && part.back() == u' ')
        part.remove_suffix(1);
    const IntegerText text = SplitIntegerText(part);
    if (text.digits.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    for (char16_t c : text.digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= text.base)
            return std::nullopt;
        value = value * static_cast<std::uint32_t>(text.base) + static_cast<std::uint32_t>(digit);
        if (value > 255)
            return std::nullopt;
    }
    if (text.negative && value != 0)
        return std::nullopt;
    return value;
}

} // namespace

bool ReadDottedAddress(std::u16string_view text) noexcept
{
    for (;;) {
        const auto stop = text.find(u'.');
        const auto part = text.substr(0, stop);
        if (part.empty())
            return true;
        if (!IsDottedNumber(part))
            return false;
        if (stop == NotFound)
            return true; // the empty rest after the last part
        text.remove_prefix(stop + 1);
    }
}

bool ReadIPv6Address(std::u16string_view text) noexcept
{
    if (text.empty())
        return false;

    // A lone colon at either end stands for a group 0. Rather than build the
    // padded text, the padding is read as the group it would form.
    const bool padFront = text.front() == u':';
    const bool padBack = text.back() == u':';

    std::size_t colons = 0;
    std::size_t stops = 0;
    std::size_t firstStop = NotFound;
    std::size_t lastColon = NotFound;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u':') {
            if (++colons > 7)
                return false;
            lastColon = i;
        } else if (c == u'.') {
            if (++stops > 3)
                return false;
            if (firstStop == NotFound)
                firstStop = i;
        } else if (HexDigitValue(c) < 0 || (!IsDecimal(c) && firstStop != NotFound)) {
            // Not a hex digit, or a hex letter after the IPv4 tail began.
            return false;
        }
    }

    const bool withTail = stops != 0;
    if (withTail) {
        if (stops != 3 || colons < 2 || colons > 6 || lastColon > firstStop)
            return false;
    } else if (colons < 2) {
        return false;
    }

    // Groups: before the first colon, between colons, and after the last
    // colon unless the dotted tail stands there.
    const std::size_t groupsEnd = withTail ? lastColon : text.size();
    std::size_t emptyGroups = 0;
    std::size_t begin = 0;
    for (;;) {
        const auto colon = text.find(u':', begin);
        const std::size_t end = colon == NotFound ? groupsEnd : colon;
        const auto group = text.substr(begin, end - begin);
        const bool padded = (begin == 0 && padFront) || (end == text.size() && padBack);
        if (group.empty() && !padded) {
            if (++emptyGroups > 1)
                return false;
        } else if (!IsGroup(group)) {
            return false;
        }
        if (end == groupsEnd)
            break;
        begin = end + 1;
    }
    if (!withTail)
        return true;

    // The tail's last run is read for its first three characters only.
    auto tail = text.substr(lastColon + 1);
    for (int run = 0; run < 3; ++run) {
        const auto stop = tail.find(u'.');
        if (!IsOctet(tail.substr(0, stop)))
            return false;
        tail.remove_prefix(stop + 1);
    }
    return IsOctet(tail.substr(0, 3));
}

bool IsValidAddress(std::u16string_view text) noexcept
{
    return ReadDottedAddress(text) || ReadIPv6Address(text);
}

std::optional<std::uint32_t> ReadConnectAddress(std::u16string_view text) noexcept
{
    std::uint32_t address = 0;
    for (int i = 0; i < 4; ++i) {
        const auto dot = text.find(u'.');
        const bool last = i == 3;
        if (!last && dot == std::u16string_view::npos)
            return std::nullopt;
        std::u16string_view part = text.substr(0, dot);
        if (last && dot != std::u16string_view::npos && dot + 1 != text.size())
            return std::nullopt; // only one trailing dot may follow the fourth part
        const auto value = ReadPart(part);
        if (!value)
            return std::nullopt;
        address = (address << 8) | *value;
        text = dot == std::u16string_view::npos ? std::u16string_view{} : text.substr(dot + 1);
    }
    return address;
}

ConnectTarget ReadConnectTarget(std::u16string_view text) noexcept
{
    if (const auto dotted = ReadConnectAddress(text))
        return {ConnectTarget::Kind::Dotted, *dotted};
    if (text.find(u'\0') != std::u16string_view::npos)
        return {ConnectTarget::Kind::ZeroCharacter};
    // The system's resolution reads IPv4-mapped IPv6 text as an IPv4
    // address; an IPv6 text must never connect, and no host name holds a colon.
    if (text.find(u':') != std::u16string_view::npos)
        return {ConnectTarget::Kind::IPv6Text};
    return {ConnectTarget::Kind::HostName};
}

bool LooksLikeHostName(std::string_view text) noexcept
{
    if (text.empty() || text.size() > 253)
        return false;
    if (text.back() == '.')
        text.remove_suffix(1);
    std::size_t label = 0;
    for (char c : text) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_';
        if (!allowed || ++label > 63)
            return false;
    }
    return label > 0;
}

} // namespace lumacast
