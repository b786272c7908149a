#include "ctl/Report.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

using namespace lumacast;
using namespace lumacast::ctl;
using namespace std::string_literals;

namespace {

TEST(ReportTest, TableAlignsColumnsAndDashesWhatNoReplyGave)
{
    const std::vector<TargetResult> results{
        {"192.0.2.10", "", DeviceStatusChars{'2', '1', '0', '3'}},
        {"projector-long-name", "connection refused", std::nullopt},
        {"10.0.0.1", "", DeviceStatusChars{'0', '0', '1', 'x'}},
    };
    EXPECT_EQ(FormatTable(results, false),
              "ADDRESS              POWER     LAMP  MUTE  INPUT\n"
              "192.0.2.10           changing  on    off   3\n"
              "projector-long-name  -         -     -     -\n"
              "10.0.0.1             off       off   on    none\n");
}

TEST(ReportTest, ColourLeavesTheAlignmentAlone)
{
    const std::vector<TargetResult> results{{"192.0.2.10", "", DeviceStatusChars{'1', '0', '0', '1'}},
                                            {"192.0.2.11", "no reply within 3 s", std::nullopt}};
    std::string coloured = FormatTable(results, true);
    EXPECT_NE(coloured.find("\x1b[32mon\x1b[0m"), std::string::npos);
    EXPECT_NE(coloured.find("\x1b[31m192.0.2.11\x1b[0m"), std::string::npos);
    for (std::size_t at; (at = coloured.find("\x1b[")) != std::string::npos;)
        coloured.erase(at, coloured.find('m', at) - at + 1);
    EXPECT_EQ(coloured, FormatTable(results, false));
}

struct JsonRow : test::Row {
    TargetResult result;
    std::string json;
};

// The last input's digit, and the one after it, which names none.
const char LastInput = static_cast<char>('0' + InputCount);
const char PastLastInput = static_cast<char>(LastInput + 1);

class ReportJson : public testing::TestWithParam<JsonRow> { };

TEST_P(ReportJson, OneObjectPerTarget)
{
    const JsonRow &row = GetParam();
    EXPECT_EQ(FormatJson({row.result}), std::string("[\n  ") + row.json + "\n]\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportJson,
    testing::Values(
        JsonRow{
            {"AllOn"},
            {"192.0.2.10", "", DeviceStatusChars{'1', '1', '1', LastInput}},
            R"({"address": "192.0.2.10", "ok": true, "error": null, "power": "on", "lamp": "on", "mute": "on", "input": )"s +
                LastInput + R"(, "raw": "111)" + LastInput + R"("})"},
        JsonRow{
            {"ChangingAndNoInput"},
            {"192.0.2.10", "", DeviceStatusChars{'2', '0', '0', PastLastInput}},
            R"({"address": "192.0.2.10", "ok": true, "error": null, "power": "changing", "lamp": "off", "mute": "off", "input": null, "raw": "200)"s +
                PastLastInput + R"("})"},
        JsonRow{
            {"FailedWithoutReply"},
            {"host\"x", "connection refused", std::nullopt},
            R"({"address": "host\"x", "ok": false, "error": "connection refused", "power": null, "lamp": null, "mute": null, "input": null, "raw": null})"},
        // A wait that ran out still tells what the device last said.
        JsonRow{
            {"FailedAfterAReply"},
            {"192.0.2.10", "did not reach the asked state within 2 s", DeviceStatusChars{'2', '0', '0', '1'}},
            R"({"address": "192.0.2.10", "ok": false, "error": "did not reach the asked state within 2 s", "power": "changing", "lamp": "off", "mute": "off", "input": 1, "raw": "2001"})"},
        JsonRow{
            {"RawControlAndQuoteEscaped"},
            {"192.0.2.10", "", DeviceStatusChars{'\x01', '"', '\\', '\x7f'}},
            R"({"address": "192.0.2.10", "ok": true, "error": null, "power": "off", "lamp": "off", "mute": "off", "input": null, "raw": "\u0001\"\\\u007f"})"}),
    test::RowName());

TEST(ReportTest, NothingFoundIsAnEmptyListInBothForms)
{
    EXPECT_EQ(FormatJson({}), "[]\n");
    EXPECT_EQ(FormatFound({}, true), "[]\n");
    EXPECT_EQ(FormatFound({}, false), "");
    EXPECT_EQ(FormatFound({"192.0.2.10", "FE80:0:0:0:0:0:0:1"}, false), "192.0.2.10\nFE80:0:0:0:0:0:0:1\n");
    EXPECT_EQ(FormatFound({"192.0.2.10", "192.0.2.11"}, true),
              "[\n  {\"address\": \"192.0.2.10\"},\n  {\"address\": \"192.0.2.11\"}\n]\n");
}

} // namespace
