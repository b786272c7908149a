#include "ui/SpokenState.h"

#include <QStringList>

namespace lumacast {

namespace {

QString OnOff(const char *item, bool on)
{
    return QLatin1String(item) + (on ? QLatin1String(": on") : QLatin1String(": off"));
}

} // namespace

StateWords WordsFor(const std::optional<DeviceState> &state)
{
    if (!state)
        return {QStringLiteral("Power: not known"), QStringLiteral("Lamp: not known"),
                QStringLiteral("Mute: not known"), QStringLiteral("Input: not known")};
    // The second power state claims no more than that the power is changing:
    // the reply does not say which way.
    const QString power = state->power == PowerState::On ? QStringLiteral("Power: on")
        : state->power == PowerState::Changing           ? QStringLiteral("Power: changing")
                                                         : QStringLiteral("Power: off");
    const QString input = state->input != 0 ? QStringLiteral("Input %1").arg(state->input)
                                            : QStringLiteral("No input selected");
    return {power, OnOff("Lamp", state->lamp), OnOff("Mute", state->mute), input};
}

QString ChangeWords(const std::optional<DeviceState> &before, const DeviceState &after)
{
    const StateWords was = WordsFor(before);
    const StateWords is = WordsFor(after);
    QStringList changed;
    if (is.power != was.power)
        changed << is.power;
    if (is.lamp != was.lamp)
        changed << is.lamp;
    if (is.mute != was.mute)
        changed << is.mute;
    if (is.input != was.input)
        changed << is.input;
    return changed.join(QLatin1String(", "));
}

} // namespace lumacast
