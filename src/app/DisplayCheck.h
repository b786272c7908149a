#pragma once

#include "app/GuardScope.h"

#include <string>
#include <vector>

namespace lumacast {

// Why the toolkit could not open a display, in a few words, from the
// messages it gave while it tried: "DISPLAY is not set", "the X display :7
// cannot be reached", "no display platform \"x\" is installed".
std::string NoDisplayReason(const std::vector<std::string> &toolkitMessages,
                            const EnvironmentLookup &environment);

// While the application object is made: where the toolkit cannot open a
// display, the program ends with one line on stderr ("lumacast2: cannot open
// a display: ...") and status 1 instead of the toolkit's abort. Its other
// messages wait and go on as usual at Finish().
class DisplayCheck {
public:
    DisplayCheck();
    ~DisplayCheck();
    DisplayCheck(const DisplayCheck &) = delete;
    DisplayCheck &operator=(const DisplayCheck &) = delete;

    void Finish();
};

} // namespace lumacast
