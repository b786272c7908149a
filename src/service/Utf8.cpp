#include "service/Utf8.h"

namespace lumacast {

bool IsUtf8(std::string_view text) noexcept
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        const unsigned c = *p++;
        if (c < 0x80)
            continue;
        int more = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        for (int i = 0; i < more; ++i, ++p) {
            // Only the first continuation byte has the narrower range.
            if (p >= end || *p < (i == 0 ? low : 0x80) || *p > (i == 0 ? high : 0xBF))
                return false;
        }
    }
    return true;
}

} // namespace lumacast
