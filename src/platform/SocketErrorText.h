#pragma once

#include <string>

namespace lumacast {

// The panel reports socket failures with the error numbers and texts of
// Windows Sockets, which its users and documents know. These map the Linux
// errno values onto them.

// The Windows Sockets number for an errno value; an errno without a
// counterpart keeps its own number.
int WinsockErrorNumber(int errnoValue);

// The text (UTF-8) for a Windows Sockets number; empty for an unknown number.
std::string WinsockErrorText(int winsockNumber);

// The message of a failed socket call: "Socket エラー # " + number + CR LF +
// text; a datagram refused as too long has a message of its own.
std::string SocketErrorMessage(int errnoValue);

} // namespace lumacast
