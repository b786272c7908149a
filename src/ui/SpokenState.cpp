#include "ui/SpokenState.h"

#include "ui/WindowText.h"

#include <QStringList>

namespace lumacast {

namespace {

// The state's word is the one every front end uses.
QString Words(const char *item, const char *what)
{
    return QString::fromUtf8(item) + QString::fromUtf8(StateJoin) + QString::fromUtf8(what);
}

} // namespace

StateWords WordsFor(const std::optional<DeviceState> &state)
{
    if (!state)
        return {Words(PowerName, NotKnownWords), Words(LampName, NotKnownWords),
                Words(MuteName, NotKnownWords), QString::fromUtf8(InputNotKnownWords)};
    // The second power state claims no more than that the power is changing:
    // the reply does not say which way.
    const QString power = Words(PowerName, PowerWord(state->power));
    const QString input = state->input != 0 ? InputWords(state->input) : QString::fromUtf8(NoInputWords);
    return {power, Words(LampName, OnOffWord(state->lamp)), Words(MuteName, OnOffWord(state->mute)), input};
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
