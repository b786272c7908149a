#pragma once

#include "link/DeviceState.h"

#include <QString>

#include <optional>

namespace lumacast {

// The words a screen reader says of each item of the device's state, such as
// "Power: on" or "Input 3". Without a state (no accepted reply since the
// connection began, or no connection) every item says it is not known.
struct StateWords {
    QString power, lamp, mute, input;

    bool operator==(const StateWords &) const = default;
};

StateWords WordsFor(const std::optional<DeviceState> &state);

// The words of the items that differ between the two states, in the strips'
// order, joined into one sentence; empty when nothing differs.
QString ChangeWords(const std::optional<DeviceState> &before, const DeviceState &after);

} // namespace lumacast
