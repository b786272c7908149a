// The address test on arbitrary text: no crash, no sanitizer report, and the
// verdict agrees with its two readings.
#include "ui/AddressValidation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// One byte is one character, so texts and the dictionary stay readable; a
// byte 0xFF takes the next two bytes as one character, to reach the codes
// above 255.
std::u16string ToText(const std::uint8_t *data, std::size_t size)
{
    std::u16string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            text += char16_t((data[i + 1] << 8) | data[i + 2]);
            i += 2;
        } else {
            text += char16_t(data[i]);
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace lumacast;
    const std::u16string text = ToText(data, size);
    const bool dotted = ReadDottedAddress(text);
    const bool ipv6 = ReadIPv6Address(text);
    if (IsValidAddress(text) != (dotted || ipv6))
        std::abort();
    // The dotted reading stops at the first empty part and reads no further.
    if (dotted && !ReadDottedAddress(text + u".." + text))
        std::abort();
    // Same text, same verdict.
    if (ReadIPv6Address(text) != ipv6)
        std::abort();
    return 0;
}
