#include "link/DeviceState.h"

#include <cstdio>

namespace lumacast {

DeviceState ReadDeviceState(const DeviceStatusChars &status)
{
    DeviceState state;
    state.power = status.power == '1' ? PowerState::On
        : status.power == '2'         ? PowerState::Changing
                                      : PowerState::Off;
    state.lamp = status.lamp == '1';
    state.mute = status.mute == '1';
    if (status.input >= '1' && status.input < '1' + InputCount)
        state.input = status.input - '0';
    state.raw = status;
    return state;
}

const char *PowerWord(PowerState power)
{
    switch (power) {
    case PowerState::On:
        return "on";
    case PowerState::Changing:
        return "changing";
    case PowerState::Off:
        break;
    }
    return "off";
}

const char *OnOffWord(bool on)
{
    return on ? "on" : "off";
}

std::string InputWord(int input)
{
    return input == 0 ? "none" : std::to_string(input);
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string StateJsonFields(const DeviceState &state)
{
    const DeviceStatusChars &c = state.raw;
    return std::string("\"power\": \"") + PowerWord(state.power) + "\", \"lamp\": \"" +
        OnOffWord(state.lamp) + "\", \"mute\": \"" + OnOffWord(state.mute) +
        "\", \"input\": " + (state.input == 0 ? std::string("null") : std::to_string(state.input)) +
        ", \"raw\": " + JsonString(std::string{c.power, c.lamp, c.mute, c.input});
}

} // namespace lumacast
