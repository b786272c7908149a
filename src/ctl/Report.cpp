#include "ctl/Report.h"

#include "link/DeviceState.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace lumacast::ctl {
namespace {

const char *PowerWord(PowerState power)
{
    switch (power) {
    case PowerState::On:
        return "on";
    case PowerState::Changing:
        return "changing";
    case PowerState::Off:
        break;
    }
    return "off";
}

const char *OnOff(bool on)
{
    return on ? "on" : "off";
}

struct Cell {
    std::string text;
    const char *colour = nullptr; // an SGR code, when the cell has one
};

Cell StateCell(const char *word)
{
    const std::string_view w(word);
    return {word, w == "on" ? "32" : w == "changing" ? "34" : nullptr};
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string FormatTable(const std::vector<TargetResult> &results, bool colour)
{
    std::vector<std::array<Cell, 5>> rows;
    rows.push_back({Cell{"ADDRESS"}, Cell{"POWER"}, Cell{"LAMP"}, Cell{"MUTE"}, Cell{"INPUT"}});
    for (const auto &r : results) {
        if (!r.status) {
            rows.push_back({Cell{r.address, "31"}, Cell{"-"}, Cell{"-"}, Cell{"-"}, Cell{"-"}});
            continue;
        }
        const DeviceState s = ReadDeviceState(*r.status);
        rows.push_back({Cell{r.address, r.Ok() ? nullptr : "31"}, StateCell(PowerWord(s.power)),
                        StateCell(OnOff(s.lamp)), StateCell(OnOff(s.mute)),
                        Cell{s.input == 0 ? "none" : std::to_string(s.input)}});
    }
    std::array<std::size_t, 5> width{};
    for (const auto &row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], row[i].text.size());
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const Cell &cell = row[i];
            if (colour && cell.colour)
                line += std::string("\x1b[") + cell.colour + "m" + cell.text + "\x1b[0m";
            else
                line += cell.text;
            if (i + 1 < row.size())
                line += std::string(width[i] - cell.text.size() + 2, ' ');
        }
        out += line + '\n';
    }
    return out;
}

std::string FormatJson(const std::vector<TargetResult> &results)
{
    std::string out = "[";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TargetResult &r = results[i];
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"address\": " + JsonString(r.address);
        out += std::string(", \"ok\": ") + (r.Ok() ? "true" : "false");
        out += ", \"error\": " + (r.Ok() ? std::string("null") : JsonString(r.error));
        if (r.status) {
            const DeviceState s = ReadDeviceState(*r.status);
            out += std::string(", \"power\": \"") + PowerWord(s.power) + "\"";
            out += std::string(", \"lamp\": \"") + OnOff(s.lamp) + "\"";
            out += std::string(", \"mute\": \"") + OnOff(s.mute) + "\"";
            out += ", \"input\": " + (s.input == 0 ? std::string("null") : std::to_string(s.input));
            const DeviceStatusChars &c = *r.status;
            out += ", \"raw\": " + JsonString(std::string{c.power, c.lamp, c.mute, c.input});
        } else {
            out += ", \"power\": null, \"lamp\": null, \"mute\": null, \"input\": null, \"raw\": null";
        }
        out += "}";
    }
    out += results.empty() ? "]\n" : "\n]\n";
    return out;
}

std::string FormatFound(const std::vector<std::string> &senders, bool json)
{
    std::string out;
    if (!json) {
        for (const auto &sender : senders)
            out += sender + '\n';
        return out;
    }
    out = "[";
    for (std::size_t i = 0; i < senders.size(); ++i)
        out += (i == 0 ? "\n  {\"address\": " : ",\n  {\"address\": ") + JsonString(senders[i]) + "}";
    out += senders.empty() ? "]\n" : "\n]\n";
    return out;
}

} // namespace lumacast::ctl
