#include "service/Config.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

using namespace lumacast;

namespace {

// A good file read to a line of what matters; a bad one to its message.
struct FileRow : test::Row {
    const char *text;
    const char *read; // the summary, or the start of the error
};

std::string Summary(const ServiceConfig &c)
{
    std::string s = c.broker.Text() + " " + c.base + (c.homeAssistant ? " ha:" + c.homeAssistantPrefix : "") +
        (c.mqttVersion == MqttVersion::V5 ? " v5" : "") + " ka" + std::to_string(c.keepAliveS) +
        (c.discover ? " discover" + std::to_string(c.discoverIntervalS) : "") +
        (c.passwordFile.empty() ? "" : " pw:" + c.passwordFile);
    for (const auto &d : c.devices) {
        s += " [" + d.id + "@" + d.address + ":" + std::to_string(d.line) + " " + d.name;
        for (const auto &i : d.inputs)
            s += "|" + i;
        s += "]";
    }
    return s;
}

class ConfigFile : public testing::TestWithParam<FileRow> { };

TEST_P(ConfigFile, ReadsAsMeant)
{
    ServiceConfig config;
    const auto error = ReadConfigText(GetParam().text, "f.conf", config);
    const std::string got = error ? *error : Summary(config);
    if (error)
        EXPECT_EQ(got.substr(0, std::string(GetParam().read).size()), GetParam().read) << got;
    else
        EXPECT_EQ(got, GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigFile,
    testing::Values(
        FileRow{{"Empty"}, "", "mqtt://127.0.0.1:1883 lumacast2 ha:homeassistant ka60"},
        FileRow{{"Everything"},
                "# comment\n broker = mqtts://broker.example:8884 \nbase=site/a\nmqtt-version = 5\r\n"
                "keep-alive = 30\nhomeassistant-prefix = ha\npassword-file = /p\ndiscover = yes\n"
                "discover-interval = 60\n\n[device room-1]\naddress = 192.0.2.10\nname = Room #1\n"
                "inputs = HDMI 1, , VGA\n; other\n[ device b_2 ]\naddress=b.example\n",
                "mqtts://broker.example:8884 site/a ha:ha v5 ka30 discover60 pw:/p "
                "[room-1@192.0.2.10:11 Room #1|HDMI 1|2|VGA|4|5] [b_2@b.example:16 b_2|1|2|3|4|5]"},
        FileRow{{"HomeAssistantOff"}, "homeassistant = off\n", "mqtt://127.0.0.1:1883 lumacast2 ka60"},
        FileRow{{"UnknownSetting"}, "\nbrokr = x\n", "f.conf:2: brokr: unknown setting"},
        FileRow{
            {"GlobalInDevice"}, "[device a]\naddress=1.2.3.4\nbase = x\n", "f.conf:3: base: unknown device"},
        FileRow{{"BadUrl"}, "broker = http://x\n", "f.conf:1: broker: 'http://x' is not a broker URL"},
        FileRow{{"BadId"}, "[device Room]\n", "f.conf:1: 'Room' is not a device id"},
        FileRow{{"LongId"}, "[device abcdefghijklmnopqrstuvwxyz0123456]\n", "f.conf:1: 'abcdefghij"},
        FileRow{{"NoAddress"},
                "[device a]\nname = A\n[device b]\naddress = 1.2.3.4\n",
                "f.conf:1: device 'a' has no address"},
        FileRow{{"NoAddressAtEnd"}, "[device a]\n", "f.conf:1: device 'a' has no address"},
        FileRow{{"DuplicateId"},
                "[device a]\naddress=1.2.3.4\n[device a]\naddress=1.2.3.5\n",
                "f.conf:3: the device id 'a' is given twice (first at f.conf:1)"},
        FileRow{{"DuplicateAddressWritten"},
                "[device a]\naddress=1.2.3.4\n[device b]\naddress=1.2.3.04\n",
                "f.conf:3: the address '1.2.3.04' is given twice (first at f.conf:1)"},
        FileRow{{"Ipv6Address"},
                "[device a]\naddress = ::1\n",
                "f.conf:2: address: the address '::1' is an IPv6"},
        FileRow{{"TooManyInputs"}, "[device a]\ninputs = a,b,c,d,e,f\n", "f.conf:2: inputs: more than 5"},
        FileRow{
            {"InputTwice"}, "[device a]\ninputs = a,a\n", "f.conf:2: inputs: input name 'a' is given twice"},
        FileRow{
            {"InputReadsAsOther"}, "[device a]\ninputs = 2\n", "f.conf:2: inputs: input name '2' reads as"},
        FileRow{{"TemplateCharacter"}, "[device a]\nname = {{x}}\n", "f.conf:2: name: the name holds '{'"},
        FileRow{{"NotUtf8"}, "[device a]\nname = \xff\n", "f.conf:2: name: the name is not UTF-8"},
        FileRow{{"WildcardBase"}, "base = a/+/b\n", "f.conf:1: base: 'a/+/b' is not a topic"},
        FileRow{{"EmptyLevel"}, "base = a//b\n", "f.conf:1: base: 'a//b' is not a topic"},
        FileRow{{"BadVersion"}, "mqtt-version = 4\n", "f.conf:1: mqtt-version: '4' is neither"},
        FileRow{{"ShortInterval"}, "discover-interval = 5\n", "f.conf:1: discover-interval: '5' is not"},
        FileRow{{"NoEquals"}, "broker\n", "f.conf:1: 'broker' is neither"},
        FileRow{{"OtherSection"}, "[global]\n", "f.conf:1: unknown section"}),
    test::RowName());

struct UrlRow : test::Row {
    const char *text;
    const char *read; // the URL as read again, or empty when refused
};

class BrokerUrlText : public testing::TestWithParam<UrlRow> { };

TEST_P(BrokerUrlText, ReadsAsMeant)
{
    std::string why;
    const auto url = ReadBrokerUrl(GetParam().text, why);
    EXPECT_EQ(url ? url->Text() : "", GetParam().read) << why;
    EXPECT_EQ(why.empty(), url.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokerUrlText,
    testing::Values(UrlRow{{"Plain"}, "mqtt://h", "mqtt://h:1883"},
                    UrlRow{{"Tls"}, "mqtts://h.example/", "mqtts://h.example:8883"},
                    UrlRow{{"Port"}, "mqtt://127.0.0.1:1884", "mqtt://127.0.0.1:1884"},
                    UrlRow{{"Ipv6"}, "mqtt://[::1]:9", "mqtt://[::1]:9"},
                    UrlRow{{"OtherScheme"}, "tcp://h", ""}, UrlRow{{"NoHost"}, "mqtt://:1883", ""},
                    UrlRow{{"EmptyPort"}, "mqtt://h:", ""}, UrlRow{{"PortZero"}, "mqtt://h:0", ""},
                    UrlRow{{"PortTooBig"}, "mqtt://h:65536", ""}, UrlRow{{"UserInUrl"}, "mqtt://u:p@h", ""},
                    UrlRow{{"Path"}, "mqtt://h/x", ""}, UrlRow{{"OpenBracket"}, "mqtt://[::1", ""}),
    test::RowName());

struct DeviceRow : test::Row {
    std::vector<const char *> options;
    const char *error; // the start of it, or empty
};

class DeviceOptions : public testing::TestWithParam<DeviceRow> { };

TEST_P(DeviceOptions, ReadAsMeant)
{
    std::vector<DeviceEntry> devices;
    std::string why;
    for (const char *o : GetParam().options)
        if (auto d = ReadDeviceOption(o, why))
            devices.push_back(*d);
    if (why.empty())
        why = FindDuplicate(devices, "f").value_or("");
    EXPECT_EQ(why.substr(0, std::string(GetParam().error).size()), GetParam().error) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceOptions,
    testing::Values(
        DeviceRow{{"Good"}, {"a=192.0.2.10", "b-1=host.example"}, ""},
        DeviceRow{{"NoEquals"}, {"a"}, "--device 'a': give it as ID=ADDRESS"},
        DeviceRow{{"BadId"}, {"A/b=1.2.3.4"}, "--device 'A/b=1.2.3.4': 'A/b' is not a device id"},
        DeviceRow{{"EmptyAddress"}, {"a="}, "--device 'a=': the address is empty"},
        DeviceRow{{"SameAddress"},
                  {"a=192.0.2.10", "b=192.0.2.10"},
                  "--device b=192.0.2.10: the address '192.0.2.10' is given twice (first at --device a="}),
    test::RowName());

} // namespace
