#include "link/DeviceState.h"

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
    return state;
}

} // namespace lumacast
