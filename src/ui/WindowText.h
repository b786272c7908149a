#pragma once

#include "ProgramInfo.h"

#include <QString>

namespace lumacast {

// Every text that the window and its boxes show or tell a screen reader,
// but the controls' own captions and names, which are the layout table's.

inline constexpr const char *WindowTitle = "Lumacast2 For RK-DX420 Ver." LC_CAPTION_VERSION;

// The connect button while a connection exists: its caption and its name.
inline constexpr const char *DisconnectCaption = "DISCONNECT";
inline constexpr const char *DisconnectName = "Disconnect";

// The status bar's texts.
inline QString ConnectingText(const QString &address)
{
    return QStringLiteral("CONNECTING... [") + address + QStringLiteral("]");
}
inline QString ConnectedText(const QString &address)
{
    return QStringLiteral("CONNECTED [") + address + QStringLiteral("]");
}
inline constexpr const char *DisconnectedText = "DISCONNECTED";

// The box for an address that is not valid.
inline constexpr const char *AddressRejectionText = "CHECK IP ADDRESS!!";
inline constexpr const char *AddressRejectionButton = "OK";

// The toolkit's own texts: Japanese, like everything the toolkit says.
inline constexpr const char *InformationTitle = "情報";
inline constexpr const char *ErrorTitle = "エラー";
inline constexpr const char *CloseCaption = "閉じる(&C)";
// What the error box says when the discovery timer cannot be started.
inline constexpr const char *TimerUnavailableText = "タイマーを取得できません";

// The words for the device's state: an item's name and what it is.
inline constexpr const char *PowerName = "Power";
inline constexpr const char *LampName = "Lamp";
inline constexpr const char *MuteName = "Mute";
// What joins an item's name and its state's word ("Power: on").
inline constexpr const char *StateJoin = ": ";
inline constexpr const char *NotKnownWords = "not known";
inline constexpr const char *InputNotKnownWords = "Input: not known";
inline constexpr const char *NoInputWords = "No input selected";
// "Input 3".
inline QString InputWords(int input)
{
    return QStringLiteral("Input %1").arg(input);
}
// What joins the words of several changed items.
inline constexpr const char *ChangeSeparator = ", ";

} // namespace lumacast
