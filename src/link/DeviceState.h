#pragma once

#include "link/Protocol.h"

#include <string>

namespace lumacast {

// The device's power as its status character gives it: "1" on, "2" the
// second state, which the device reports while it changes, anything else off.
enum class PowerState { Off, Changing, On };

// What the four status characters of an accepted reply mean. Every front end
// reads them here, so they all say the same of one reply.
struct DeviceState {
    PowerState power = PowerState::Off;
    bool lamp = false;
    bool mute = false;
    int input = 0; // 1 up to InputCount; 0 when no input is selected
    DeviceStatusChars raw; // the characters as the reply carried them

    bool operator==(const DeviceState &) const = default;
};

// Lamp and mute are on for "1" only; the input is the digit "1" up to
// InputCount, none for any other character.
DeviceState ReadDeviceState(const DeviceStatusChars &status);

// The words for a state, the same in every front end: "on", "changing",
// "off"; "on" or "off"; the input's number, or "none".
const char *PowerWord(PowerState power);
const char *OnOffWord(bool on);
std::string InputWord(int input);

// A JSON string literal; every control character escaped.
std::string JsonString(std::string_view text);

// The state as the fields of a JSON object, without the braces:
// "power": "on", "lamp": "off", "mute": "off", "input": 3, "raw": "1003".
// No input is null.
std::string StateJsonFields(const DeviceState &state);

} // namespace lumacast
