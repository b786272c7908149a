#pragma once

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

} // namespace lumacast
#endif
