#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace lumacast {

// The address test is lenient on purpose: it only turns away what neither a
// dotted reading nor an IPv6 reading can take. It judges and never rewrites;
// every function here is pure, linear in the text and never throws.

// Dotted reading: parts separated by full stops, each a number, up to the
// first empty part (which ends the reading with success).
bool ReadDottedAddress(std::u16string_view text) noexcept;

// IPv6 reading: hex groups separated by colons, one empty group at most,
// optionally ending in a four-part dotted tail.
bool ReadIPv6Address(std::u16string_view text) noexcept;

// True when either reading succeeds.
bool IsValidAddress(std::u16string_view text) noexcept;

// At connect, the text is read once more, and only so: the IPv4 address of
// a text of four dot-separated parts (one trailing dot allowed), each an
// integer 0..255 in the signed decimal or hexadecimal syntax with
// surrounding spaces ignored; nothing for any other text. Host order, first
// part in the top byte.
std::optional<std::uint32_t> ReadConnectAddress(std::u16string_view text) noexcept;

// What a connect makes of a text: that address, or a host name for the
// system's IPv4 lookup, or nothing ever (an IPv6 text, a zero character).
struct ConnectTarget {
    enum class Kind { Dotted, HostName, IPv6Text, ZeroCharacter };
    Kind kind = Kind::HostName;
    std::uint32_t address = 0; // Dotted
};
ConnectTarget ReadConnectTarget(std::u16string_view text) noexcept;

// Letters, digits, hyphens and underscores in dot-separated labels: a host
// name as a script or a configuration gives one.
bool LooksLikeHostName(std::string_view text) noexcept;

} // namespace lumacast

// Builds without Qt (the fuzz harnesses) leave the QString overload out.
#ifdef QT_CORE_LIB
#include <QString>

namespace lumacast {

inline bool IsValidAddress(const QString &text) noexcept
{
    return IsValidAddress(std::u16string_view(reinterpret_cast<const char16_t *>(text.constData()),
                                              static_cast<std::size_t>(text.size())));
}

// A device's address as a script or a configuration names it: what the
// panel's field takes, or a host name.
inline bool IsTargetText(std::string_view utf8)
{
    return !utf8.empty() &&
        (IsValidAddress(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))) ||
         LooksLikeHostName(utf8));
}

} // namespace lumacast
#endif
