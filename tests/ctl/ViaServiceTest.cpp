#include "ctl/ViaService.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

using namespace lumacast;
using namespace lumacast::ctl;

namespace {

struct StateCase : test::Row {
    const char *topic;
    const char *payload;
    bool read; // whether it reads as a device's state
    const char *id;
    std::string raw; // "" for none
    bool connected;
};

class ServiceState : public testing::TestWithParam<StateCase> { };

TEST_P(ServiceState, IsReadOnlyFromItsOwnTopic)
{
    const StateCase &c = GetParam();
    const auto device = ReadServiceState("lumacast2", c.topic, c.payload);
    ASSERT_EQ(device.has_value(), c.read);
    if (!device)
        return;
    EXPECT_EQ(device->id, c.id);
    EXPECT_EQ(device->address, "192.0.2.10");
    std::string raw;
    if (const auto &s = device->status)
        raw = {s->power, s->lamp, s->mute, s->input};
    EXPECT_EQ(raw, c.raw);
    EXPECT_EQ(device->connected, c.connected);
}

constexpr const char *Up = R"({"address": "192.0.2.10", "raw": "1013", "connected": true})";

INSTANTIATE_TEST_SUITE_P(
    Table, ServiceState,
    testing::Values(StateCase{{"Connected"}, "lumacast2/room-1/state", Up, true, "room-1", "1013", true},
                    StateCase{{"BeforeAnyReply"},
                              "lumacast2/a/state",
                              R"({"address": "192.0.2.10", "raw": null, "connected": false})",
                              true,
                              "a",
                              "",
                              false},
                    StateCase{{"AnotherBase"}, "lumacast2x/a/state", Up, false, "", "", false},
                    StateCase{{"NotAnId"}, "lumacast2/A+B/state", Up, false, "", "", false},
                    StateCase{{"AnotherTopic"}, "lumacast2/a/availability", Up, false, "", "", false},
                    StateCase{{"RemovedDevice"}, "lumacast2/a/state", "", false, "", "", false},
                    StateCase{
                        {"NoAddress"}, "lumacast2/a/state", R"({"connected": true})", false, "", "", false}),
    test::RowName());

TEST(ServiceCommand, GoesToTheTopicTheServiceTakes)
{
    const struct {
        PendingCommands pending;
        const char *topic;
        const char *payload;
    } cases[] = {
        {{'1', 0, 0, 0}, "b/r/power/set", "ON"},
        {{0, '0', 0, 0}, "b/r/lamp/set", "OFF"},
        {{0, 0, '1', 0}, "b/r/mute/set", "ON"},
        {{0, 0, 0, '3'}, "b/r/input/set", "3"},
    };
    for (const auto &c : cases) {
        const ServiceCommand command = CommandFor("b", "r", c.pending);
        EXPECT_EQ(command.topic, c.topic);
        EXPECT_EQ(command.payload, c.payload);
    }
}

} // namespace
