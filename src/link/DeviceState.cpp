#include "link/DeviceState.h"

namespace lumacast {

DeviceState ReadDeviceState(const DeviceStatusChars &status)
{
    DeviceState state;
    state.power = status.Power == '1' ? PowerState::On
        : status.Power == '2'         ? PowerState::Changing
                                      : PowerState::Off;
    state.lamp = status.Lamp == '1';
    state.mute = status.Mute == '1';
    if (status.Input >= '1' && status.Input < '1' + InputCount)
        state.input = status.Input - '0';
    return state;
}

} // namespace lumacast
