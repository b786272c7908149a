#pragma once

#include <string>

namespace lumacast {

// The panel reports socket failures with the error numbers and texts of
// Windows Sockets, which its users and documents know. The texts are the
// same on every system; each system's implementation maps its own error
// numbers onto the Windows Sockets numbers.

// What a datagram refused as too long reports.
inline constexpr const char *MessageTooLongText = "パッケージ サイズが大きすぎます。";
// What an endpoint that cannot bind reports, whatever the cause.
inline constexpr const char *CouldNotBindText =
    "ソケットをバインドできませんでした。アドレスとポートは既に使われています。";

// The Windows Sockets number for one of the system's error numbers; one
// without a counterpart keeps its own number.
int WinsockErrorNumber(int errnoValue);

// The text (UTF-8) for a Windows Sockets number; empty for an unknown number.
std::string WinsockErrorText(int winsockNumber);

// The message of a failed socket call: "Socket エラー # " + number + CR LF +
// text; a datagram refused as too long has a message of its own.
std::string SocketErrorMessage(int errnoValue);

} // namespace lumacast
