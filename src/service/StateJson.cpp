#include "service/StateJson.h"

#include <cstdio>

namespace lumacast {

std::string IsoUtc(std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date(day);
    const hh_mm_ss time(ms - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::string StateJson(std::string_view address, const std::optional<DeviceState> &state, bool connected,
                      std::chrono::system_clock::time_point since)
{
    const std::string fields = state
        ? StateJsonFields(*state)
        : std::string(R"("power": null, "lamp": null, "mute": null, "input": null, "raw": null)");
    return "{\"address\": " + JsonString(address) + ", " + fields +
        ", \"connected\": " + (connected ? "true" : "false") + ", \"since\": \"" + IsoUtc(since) + "\"}";
}

} // namespace lumacast
