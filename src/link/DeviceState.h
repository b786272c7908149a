#pragma once

#include "link/Protocol.h"

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

    bool operator==(const DeviceState &) const = default;
};

// Lamp and mute are on for "1" only; the input is the digit "1" up to
// InputCount, none for any other character.
DeviceState ReadDeviceState(const DeviceStatusChars &status);

} // namespace lumacast
