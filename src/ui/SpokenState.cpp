#include "ui/SpokenState.h"

#include "ui/WindowText.h"

#include <QStringList>

namespace lumacast {

namespace {

QString Words(const char *item, const char *what)
{
    return QString::fromUtf8(item) + QString::fromUtf8(what);
}

QString OnOff(const char *item, bool on)
{
    return Words(item, on ? OnWords : OffWords);
}

} // namespace

StateWords WordsFor(const std::optional<DeviceState> &state)
{
    if (!state)
        return {Words(PowerWord, NotKnownWords), Words(LampWord, NotKnownWords),
                Words(MuteWord, NotKnownWords), QString::fromUtf8(InputNotKnownWords)};
    // The second power state claims no more than that the power is changing:
    // the reply does not say which way.
    const QString power = state->power == PowerState::Changing
        ? Words(PowerWord, ChangingWords)
        : OnOff(PowerWord, state->power == PowerState::On);
    const QString input = state->input != 0 ? InputWords(state->input) : QString::fromUtf8(NoInputWords);
    return {power, OnOff(LampWord, state->lamp), OnOff(MuteWord, state->mute), input};
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
    return changed.join(QString::fromUtf8(ChangeSeparator));
}

} // namespace lumacast
