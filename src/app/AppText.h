#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace lumacast {

// The application title from the program file's name: no folder, cut at the
// first ".", the first character as it is and the rest in lower case
// ("CONTROL.EXE" gives "Control").
QString ApplicationTitle(const QString &programFile);

// The text of the error message box: the message, with a full stop added
// when the code of its last character is above that of the full stop.
QString ErrorBoxText(const QString &message);

// The error box's text for an error that carries no message, and its button.
inline constexpr const char *UnknownErrorText = "An error of an unknown kind occurred";
inline constexpr const char *ErrorBoxButton = "OK";

// The text of the box that says no style has the name.
QString StyleNotFoundText(const QString &name);

// The line on standard error when too few open files are allowed to start.
std::string TooFewOpenFilesText(std::uint64_t allowed, std::uint64_t needed);

} // namespace lumacast
