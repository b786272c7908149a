#include "ctl/Report.h"

#include "link/DeviceState.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace lumacast::ctl {
namespace {

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
                        StateCell(OnOffWord(s.lamp)), StateCell(OnOffWord(s.mute)),
                        Cell{InputWord(s.input)}});
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
            out += ", " + StateJsonFields(ReadDeviceState(*r.status));
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
