#include "service/StateJson.h"

#include "link/TimeText.h"

namespace lumacast {

std::string StateJson(std::string_view address, const std::optional<DeviceState> &state, bool connected,
                      std::chrono::system_clock::time_point since)
{
    const std::string fields = state
        ? StateJsonFields(*state)
        : std::string(R"("power": null, "lamp": null, "mute": null, "input": null, "raw": null)");
    return "{\"address\": " + JsonString(address) + ", " + fields +
        ", \"connected\": " + (connected ? "true" : "false") + ", \"since\": \"" + IsoTimeUtc(since) + "\"}";
}

} // namespace lumacast
