#pragma once

#include <QString>

namespace lumacast {

// The application title from the program file's name: no folder, cut at the
// first ".", the first character as it is and the rest in lower case
// ("CONTROL.EXE" gives "Control").
QString ApplicationTitle(const QString &programFile);

// The text of the error message box: the message, with a full stop added
// when the code of its last character is above that of the full stop.
QString ErrorBoxText(const QString &message);

} // namespace lumacast
