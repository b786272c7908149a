#pragma once

#include <span>
#include <string>
#include <string_view>

namespace lumacast {

// What kind of widget a control of the window is.
enum class ControlKind { Label, Button, AddressField, StatusBar, Strip };

// Whether a control takes the keyboard focus: in the tab order, which is the
// table's order, or never.
enum class Focus { InTabOrder, Never };

// One control of the window: everything about it that does not change while
// the program runs. Creation, the tab order, the groups and the tests read it.
struct ControlSpec {
    const char *name; // the member and the object name
    ControlKind kind;
    int left, top, width, height;
    const char *caption; // a button's or label's text; the field's first edit text
    bool bold;
    Focus focus;
    // A screen reader's name for it; a strip's description, as its name follows its state.
    const char *accessible;
};

inline constexpr int WindowWidth = 434;
inline constexpr int WindowHeight = 182;

// The window's controls in creation order, which is the tab order of those
// that take the focus; a new row goes where the focus should reach it. The end-to-end checks read this
// table from Layout.cpp, one control a line. Each input has a button row and a
// strip row, named by these prefixes and the input's number; the build fails
// when a row is missing, doubled or beyond the device's inputs.
extern const std::span<const ControlSpec> Controls;
inline constexpr std::string_view InputButtonPrefix = "InpSelBtn";
inline constexpr std::string_view InputStripPrefix = "InpSelStatusPnl";

// "InpSelBtn3" for input 3 under the button prefix.
std::string InputControlName(std::string_view prefix, int input);

// The control of that name; the program stops on an unknown name, which is a
// fault of the code, not of its input.
const ControlSpec &Control(std::string_view name);

} // namespace lumacast
