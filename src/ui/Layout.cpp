#include "ui/Layout.h"

#include "link/Protocol.h"

#include <array>
#include <cstdlib>

namespace lumacast {

namespace {

using enum ControlKind;
using enum Focus;

// clang-format off
constexpr ControlSpec Table[] = {
    {"Label1",           Label,        9,   19,  64,  13, "IP Address:", true,  Never,      "IP Address:"},
    {"PowerOnBtn",       Button,       6,   56,  79,  25, "POWER ON ",   true,  InTabOrder, "Power on"},
    {"LampOnBtn",        Button,       88,  56,  79,  25, "LAMP ON ",    true,  InTabOrder, "Lamp on"},
    {"MuteOnBtn",        Button,       170, 56,  79,  25, "MUTE ON ",    true,  InTabOrder, "Mute on"},
    {"InpSelBtn1",       Button,       6,   126, 79,  25, "1",           true,  InTabOrder, "Input 1"},
    {"InpSelBtn2",       Button,       88,  126, 79,  25, "2",           true,  InTabOrder, "Input 2"},
    {"InpSelBtn3",       Button,       170, 126, 79,  25, "3",           true,  InTabOrder, "Input 3"},
    {"InpSelBtn4",       Button,       252, 126, 79,  25, "4",           true,  InTabOrder, "Input 4"},
    {"ConnectBtn",       Button,       330, 14,  83,  25, "CONNECT",     true,  InTabOrder, "Connect"},
    {"ComboBox1",        AddressField, 86,  16,  163, 21, "ComboBox1",   true,  InTabOrder, "IP Address:"},
    {"StatusBar1",       StatusBar,    0,   163, WindowWidth, 19, "",    false, Never,      "Connection"},
    {"FindBtn",          Button,       259, 14,  63,  25, "FIND",        true,  InTabOrder, "Find devices"},
    {"PowerStatusPnl",   Strip,        6,   51,  79,  4,  "",            false, InTabOrder, "Power status"},
    {"InpSelBtn5",       Button,       334, 126, 79,  25, "5",           true,  InTabOrder, "Input 5"},
    {"LampStatusPnl",    Strip,        88,  51,  79,  4,  "",            false, InTabOrder, "Lamp status"},
    {"MuteStatusPnl",    Strip,        170, 51,  79,  4,  "",            false, InTabOrder, "Mute status"},
    {"InpSelStatusPnl1", Strip,        6,   121, 79,  4,  "",            false, InTabOrder, "Input 1 status"},
    {"InpSelStatusPnl2", Strip,        88,  121, 79,  4,  "",            false, InTabOrder, "Input 2 status"},
    {"InpSelStatusPnl3", Strip,        170, 121, 79,  4,  "",            false, InTabOrder, "Input 3 status"},
    {"InpSelStatusPnl4", Strip,        252, 121, 79,  4,  "",            false, InTabOrder, "Input 4 status"},
    {"InpSelStatusPnl5", Strip,        334, 121, 79,  4,  "",            false, InTabOrder, "Input 5 status"},
    {"PowerOffBtn",      Button,       6,   84,  79,  25, "POWER OFF",   true,  InTabOrder, "Power off"},
    {"LampOffBtn",       Button,       88,  84,  79,  25, "LAMP OFF",    true,  InTabOrder, "Lamp off"},
    {"MuteOffBtn",       Button,       170, 84,  79,  25, "MUTE OFF",    true,  InTabOrder, "Mute off"},
};
// clang-format on

// The input a row of that kind names after the prefix ("InpSelBtn3": 3); 0
// for any other row.
constexpr int InputOf(const ControlSpec &control, ControlKind kind, std::string_view prefix)
{
    const std::string_view name = control.name;
    if (control.kind != kind || !name.starts_with(prefix) || name.size() == prefix.size())
        return 0;
    int input = 0;
    for (const char c : name.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return 0;
        input = input * 10 + (c - '0');
    }
    return input;
}

// Inputs 1 to InputCount each have exactly one such row, and no other input has one.
constexpr bool OneRowPerInput(ControlKind kind, std::string_view prefix)
{
    std::array<int, InputCount + 1> rows{};
    for (const ControlSpec &control : Table) {
        const int input = InputOf(control, kind, prefix);
        if (input > InputCount)
            return false;
        if (input > 0)
            ++rows[input];
    }
    for (int input = 1; input <= InputCount; ++input)
        if (rows[input] != 1)
            return false;
    return true;
}

static_assert(OneRowPerInput(Button, InputButtonPrefix), "one button row per input");
static_assert(OneRowPerInput(Strip, InputStripPrefix), "one strip row per input");

} // namespace

const std::span<const ControlSpec> Controls(Table);

std::string InputControlName(std::string_view prefix, int input)
{
    return std::string(prefix) + std::to_string(input);
}

const ControlSpec &Control(std::string_view name)
{
    for (const ControlSpec &control : Controls)
        if (name == control.name)
            return control;
    std::abort();
}

} // namespace lumacast
