#include "service/Command.h"
#include "service/CommandLine.h"
#include "service/HomeAssistant.h"
#include "service/RefusalLog.h"
#include "service/StateJson.h"
#include "support/Rows.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace lumacast;

namespace {

struct CommandRow : test::Row {
    const char *topic;
    std::string payload;
    const char *field; // the frame's field it gives, or the start of the refusal
};

class CommandTopic : public testing::TestWithParam<CommandRow> { };

TEST_P(CommandTopic, GivesItsFieldOrItsReason)
{
    const CommandRow &r = GetParam();
    std::string_view id;
    std::string_view item;
    std::string got;
    if (!SplitCommandTopic("site/a", r.topic, id, item)) {
        got = "not a command topic";
    } else {
        std::string why;
        const std::vector<std::string> inputs{"HDMI 1", "2", "VGA", "4", "5"};
        if (const auto command = ReadCommand(item, r.payload, inputs, why)) {
            PendingCommands pending;
            pending.*command->slot = command->value;
            got = std::string(id) + " " + TakeCommandField(pending);
        } else {
            got = why;
        }
    }
    EXPECT_EQ(got.substr(0, std::string(r.field).size()), r.field) << got;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandTopic,
    testing::Values(
        CommandRow{{"PowerOn"}, "site/a/room-1/power/set", "ON", "room-1 1    "},
        CommandRow{{"LampOffAnyCase"}, "site/a/r/lamp/set", "oFf", "r  0   "},
        CommandRow{{"MuteOn"}, "site/a/r/mute/set", "on", "r   1  "},
        CommandRow{{"InputNumber"}, "site/a/r/input/set", "5", "r    5 "},
        CommandRow{{"InputName"}, "site/a/r/input/set", "VGA", "r    3 "},
        CommandRow{{"InputNameIsExact"}, "site/a/r/input/set", "vga", "payload 'vga' is neither"},
        CommandRow{{"InputZero"}, "site/a/r/input/set", "0", "payload '0' is neither"},
        CommandRow{{"InputSix"}, "site/a/r/input/set", "6", "payload '6' is neither"},
        CommandRow{{"Maybe"}, "site/a/r/power/set", "MAYBE", "payload 'MAYBE' is not ON or OFF"},
        CommandRow{{"OnWithSpace"}, "site/a/r/power/set", "ON ", "payload 'ON ' is not"},
        CommandRow{{"ControlShownEscaped"}, "site/a/r/power/set", "O\nN", "payload 'O\\x0aN' is not"},
        CommandRow{{"Empty"}, "site/a/r/power/set", "", "the payload is empty"},
        CommandRow{{"Oversize"}, "site/a/r/power/set", std::string(65, 'O'), "the payload of 65 bytes"},
        CommandRow{{"NotUtf8"}, "site/a/r/power/set", "O\xc0\x80N", "the payload is not UTF-8"},
        CommandRow{{"Surrogate"}, "site/a/r/power/set", "\xed\xa0\x80", "the payload is not UTF-8"},
        CommandRow{{"UnknownItem"}, "site/a/r/volume/set", "ON", "no such command"},
        CommandRow{{"NoSet"}, "site/a/r/power", "ON", "not a command topic"},
        CommandRow{{"OtherBase"}, "site/b/r/power/set", "ON", "not a command topic"},
        CommandRow{{"BaseOnlyPrefix"}, "site/ab/power/set", "ON", "not a command topic"},
        CommandRow{{"DeepTopic"}, "site/a/r/x/power/set", "ON", "not a command topic"}),
    test::RowName());

TEST(StateJson, CarriesTheStatusFieldsAndWhenTheyBegan)
{
    const DeviceState on = ReadDeviceState({'1', '0', '1', '3'});
    const auto at = std::chrono::sys_days(std::chrono::year(2026) / 12 / 9) + std::chrono::hours(23) +
        std::chrono::minutes(59) + std::chrono::milliseconds(59250);
    EXPECT_EQ(
        StateJson("192.0.2.10", on, true, at),
        R"({"address": "192.0.2.10", "power": "on", "lamp": "off", "mute": "on", "input": 3, "raw": "1013", )"
        R"("connected": true, "since": "2026-12-09T23:59:59.250Z"})");
    EXPECT_EQ(StateJson("h", std::nullopt, false, std::chrono::system_clock::time_point{}),
              R"({"address": "h", "power": null, "lamp": null, "mute": null, "input": null, "raw": null, )"
              R"("connected": false, "since": "1970-01-01T00:00:00.000Z"})");
}

TEST(HomeAssistant, ConfigurationsAreJsonThatNamesTheDeviceTopics)
{
    DeviceEntry d{"room-1", "192.0.2.10", "Room's 1", {"HDMI 1", "2", "3", "4", "5"}, 0};
    const auto configs = DiscoveryConfigs(d, "site/a", "ha");
    ASSERT_EQ(configs.size(), 5U);
    const std::vector<std::string> expected{
        "ha/switch/site_a/room-1_power/config", "ha/switch/site_a/room-1_lamp/config",
        "ha/switch/site_a/room-1_mute/config", "ha/select/site_a/room-1_input/config",
        "ha/binary_sensor/site_a/room-1_connected/config"};
    EXPECT_EQ(ConfigTopics("room-1", "site/a", "ha"), expected);
    for (std::size_t i = 0; i < configs.size(); ++i) {
        EXPECT_EQ(configs[i].topic, expected[i]);
        EXPECT_EQ(IdOfConfigTopic(configs[i].topic, "site/a", "ha"), "room-1");
        QJsonParseError error;
        const QJsonObject o =
            QJsonDocument::fromJson(QByteArray::fromStdString(configs[i].payload), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << configs[i].payload;
        EXPECT_EQ(o["state_topic"].toString(), "site/a/room-1/state");
        EXPECT_TRUE(o["unique_id"].toString().startsWith("site_a_room-1_"));
        EXPECT_EQ(o["device"]["name"].toString(), "Room's 1");
        EXPECT_EQ(o["device"]["model"].toString(), "RK-DX420");
        EXPECT_EQ(o["device"]["identifiers"][0].toString(), "site_a_room-1");
        EXPECT_EQ(o["origin"]["name"].toString(), "lumacast2d");
        EXPECT_EQ(o["availability"][0]["topic"].toString(), "site/a/bridge/availability");
        if (i < 4) {
            EXPECT_EQ(o["availability"][1]["topic"].toString(), "site/a/room-1/availability");
            EXPECT_EQ(o["availability_mode"].toString(), "all");
            EXPECT_TRUE(o["command_topic"].toString().endsWith("/set"));
        }
    }
    const QJsonObject select =
        QJsonDocument::fromJson(QByteArray::fromStdString(configs[3].payload)).object();
    EXPECT_EQ(select["options"][0].toString(), "HDMI 1");
    EXPECT_EQ(select["options"][4].toString(), "5");
    EXPECT_EQ(IdOfConfigTopic("ha/switch/other/room-1_power/config", "site/a", "ha"), "");
    EXPECT_EQ(IdOfConfigTopic("ha/switch/site_a/Room_power/config", "site/a", "ha"), "");
}

TEST(RefusalLog, TellsFiveASecondThenCountsTheRest)
{
    RefusalLog log(5);
    const auto t0 = RefusalLog::Clock::now();
    int told = 0;
    for (int i = 0; i < 1000; ++i)
        told += log.Take(t0 + std::chrono::microseconds(i)) ? 1 : 0;
    EXPECT_EQ(told, 5);
    EXPECT_EQ(log.Held(t0 + std::chrono::milliseconds(999)), 0);
    EXPECT_EQ(log.Held(t0 + std::chrono::milliseconds(1001)), 995);
    EXPECT_EQ(log.Held(t0 + std::chrono::milliseconds(1002)), 0);
    EXPECT_TRUE(log.Take(t0 + std::chrono::milliseconds(1003)));
}

struct OptionsRow : test::Row {
    std::vector<std::string> args;
    const char *read; // what the run gets, or the start of the error
};

class ServiceOptionsTable : public testing::TestWithParam<OptionsRow> { };

TEST_P(ServiceOptionsTable, ReadAsMeant)
{
    const ServiceParsed parsed = ParseServiceCommandLine(GetParam().args);
    std::string got = parsed.text;
    if (parsed.kind == ServiceParsed::Kind::Run) {
        ServiceConfig config;
        config.devices.push_back({"file", "192.0.2.1", "file", {}, 3});
        const auto error = ApplyOptions(parsed.options, config);
        got = error ? *error : config.broker.Text() + " " + config.base + (config.homeAssistant ? " ha" : "");
        for (const auto &d : config.devices)
            got += " " + d.id;
        got += parsed.options.checkOnly ? " check" : "";
    }
    EXPECT_EQ(got.substr(0, std::string(GetParam().read).size()), GetParam().read) << got;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServiceOptionsTable,
    testing::Values(OptionsRow{{"FileDevices"}, {}, "mqtt://127.0.0.1:1883 lumacast2 ha file"},
                    OptionsRow{{"DevicesReplaceFile"},
                               {"--device", "a=192.0.2.10", "--device=b=192.0.2.11", "--base", "x/y",
                                "--no-homeassistant", "--broker=mqtts://b", "--check-config"},
                               "mqtts://b:8883 x/y a b check"},
                    OptionsRow{{"BadBroker"}, {"--broker", "b:1"}, "--broker 'b:1' is not a broker URL"},
                    OptionsRow{{"BadBase"}, {"--base", "#"}, "--base '#' is not a topic"},
                    OptionsRow{{"BadDevice"}, {"--device", "R=1.2.3.4"}, "--device 'R=1.2.3.4': 'R' is not"},
                    OptionsRow{{"MissingValue"}, {"--config"}, "--config needs a value"},
                    OptionsRow{{"FlagWithValue"}, {"--verbose=yes"}, "--verbose takes no value"},
                    OptionsRow{{"Unknown"}, {"--password", "x"}, "unknown argument '--password'"}),
    test::RowName());

} // namespace
