// What arrives from the network: received bytes decoded and judged as a
// status reply, and the same bytes read as a connect address.
#include "link/AddressValidation.h"
#include "link/Protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace lumacast;
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);

    const std::string decoded = DecodeReceived(bytes);
    if (decoded.size() != size)
        std::abort();
    for (std::size_t i = 0; i < size; ++i) {
        const bool high = data[i] > 0x7F;
        if (high ? decoded[i] != '?' : decoded[i] != bytes[i])
            std::abort();
    }

    const auto status = AcceptReply(decoded);
    const bool expected = size == StatusReplyLength && decoded.compare(0, 3, "@c1") == 0;
    if (status.has_value() != expected)
        std::abort();
    if (status &&
        !(status->power == decoded[3] && status->lamp == decoded[4] && status->mute == decoded[5] &&
          status->input == decoded[6]))
        std::abort();

    const std::u16string text(data, data + size);
    if (ReadConnectAddress(text)) {
        const auto stops = std::count(text.begin(), text.end(), u'.');
        if (stops != 3 && stops != 4)
            std::abort();
    }
    return 0;
}
