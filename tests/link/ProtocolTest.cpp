#include "link/Protocol.h"
#include "link/AddressValidation.h"
#include "link/DeviceState.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <QString>

using namespace lumacast;

namespace {

std::string Hex(const std::string &bytes)
{
    static const char *digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The last input's digit, and the first digit that names no input.
constexpr char LastInput = '0' + InputCount;
constexpr char PastTheLastInput = '1' + InputCount;

struct FrameCase : test::Row {
    PendingCommands pending;
    std::string expectedHex;
};

class FrameTest : public testing::TestWithParam<FrameCase> { };

TEST_P(FrameTest, FieldAndFrameBytes)
{
    PendingCommands pending = GetParam().pending;
    EXPECT_EQ(Hex(ComposeFrame(TakeCommandField(pending))), GetParam().expectedHex);
    // Every slot is cleared, so the next frame carries nothing.
    EXPECT_EQ(Hex(ComposeFrame(TakeCommandField(pending))), "40 43 31 20 20 20 20 20 0D");
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameTest,
    testing::Values(FrameCase{"NothingPendingFromZeroBytes", {0, 0, 0, 0}, "40 43 31 20 20 20 20 20 0D"},
                    FrameCase{"ResetSpaces", {' ', ' ', ' ', ' '}, "40 43 31 20 20 20 20 20 0D"},
                    FrameCase{"PowerOnAndInput3", {'1', 0, 0, '3'}, "40 43 31 31 20 20 33 20 0D"},
                    FrameCase{"AllOff", {'0', '0', '0', 0}, "40 43 31 30 30 30 20 20 0D"},
                    FrameCase{"LastInput",
                              {0, 0, 0, LastInput},
                              "40 43 31 20 20 20 " + Hex(std::string(1, LastInput)) + " 20 0D"},
                    FrameCase{"OutOfRangeSlotsGiveSpaces",
                              {'2', 'x', '\x7f', PastTheLastInput},
                              "40 43 31 20 20 20 20 20 0D"},
                    FrameCase{"InputZeroIsNoCommand", {0, '1', 0, '0'}, "40 43 31 20 31 20 20 20 0D"}),
    test::RowName());

TEST(Frame, LastWriteBeforeTheFrameWins)
{
    PendingCommands pending;
    pending.LampCmd = '1';
    pending.LampCmd = '0';
    EXPECT_EQ(TakeCommandField(pending), " 0   ");
    EXPECT_EQ(pending.PowerCmd, ' ');
    EXPECT_EQ(pending.LampCmd, ' ');
    EXPECT_EQ(pending.MuteCmd, ' ');
    EXPECT_EQ(pending.InpSelCmd, ' ');
}

struct ReplyCase : test::Row {
    std::string bytes;
    std::optional<DeviceStatusChars> status;
};

class ReplyTest : public testing::TestWithParam<ReplyCase> { };

TEST_P(ReplyTest, Acceptance)
{
    const auto got = AcceptReply(DecodeReceived(GetParam().bytes));
    ASSERT_EQ(got.has_value(), GetParam().status.has_value());
    if (got) {
        EXPECT_EQ(*got, *GetParam().status);
    }
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyTest,
    testing::Values(ReplyCase{"Accepted", "@c11102ABCDE", DeviceStatusChars{'1', '1', '0', '2'}},
                    ReplyCase{"AnyTailBytes", "@c12000\r\n\0\0\xff"s, DeviceStatusChars{'2', '0', '0', '0'}},
                    ReplyCase{"HighByteReadsAsQuestionMark",
                              "@c1\xb1"
                              "10300000",
                              DeviceStatusChars{'?', '1', '0', '3'}},
                    ReplyCase{"UpperCaseHeader", "@C11102ABCDE", std::nullopt},
                    ReplyCase{"ElevenBytes", "@c11102ABCD", std::nullopt},
                    ReplyCase{"ThirteenBytes", "@c11102ABCDEF", std::nullopt},
                    ReplyCase{"TwoRepliesTogether", "@c11102ABCDE@c11102ABCDE", std::nullopt},
                    ReplyCase{"HighByteInHeader",
                              "\xc0"
                              "c11102ABCDE",
                              std::nullopt},
                    ReplyCase{"Empty", "", std::nullopt}),
    test::RowName());

struct MeaningCase : test::Row {
    DeviceStatusChars status;
    DeviceState state;
    const char *json; // the fields every front end reports; "" where they add nothing
};

class MeaningTest : public testing::TestWithParam<MeaningCase> { };

TEST_P(MeaningTest, StatusCharacters)
{
    DeviceState want = GetParam().state;
    want.raw = GetParam().status;
    const DeviceState state = ReadDeviceState(GetParam().status);
    EXPECT_EQ(state, want);
    if (*GetParam().json != '\0') {
        EXPECT_EQ(StateJsonFields(state), GetParam().json);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Meanings, MeaningTest,
    testing::Values(
        MeaningCase{"AllOn",
                    {'1', '1', '1', '1'},
                    {PowerState::On, true, true, 1, {}},
                    R"("power": "on", "lamp": "on", "mute": "on", "input": 1, "raw": "1111")"},
        MeaningCase{"PowerChangingLastInput",
                    {'2', '0', '0', LastInput},
                    {PowerState::Changing, false, false, InputCount, {}},
                    ""},
        // Only "1" is on and only the inputs' digits select; the rest means off or none.
        MeaningCase{
            "OtherBytes", {'?', '2', ' ', PastTheLastInput}, {PowerState::Off, false, false, 0, {}}, ""},
        MeaningCase{
            "BeforeAnyReply",
            {0, 0, 0, 0},
            {PowerState::Off, false, false, 0, {}},
            R"("power": "off", "lamp": "off", "mute": "off", "input": null, "raw": "\u0000\u0000\u0000\u0000")"},
        MeaningCase{"InputZero",
                    {'3', '1', '0', '0'},
                    {PowerState::Off, true, false, 0, {}},
                    R"("power": "off", "lamp": "on", "mute": "off", "input": null, "raw": "3100")"}),
    test::RowName());

struct AddressCase {
    const char16_t *text;
    std::optional<std::uint32_t> address;
};

void PrintTo(const AddressCase &c, std::ostream *os)
{
    *os << QString::fromUtf16(c.text).toStdString();
}

class ConnectAddressTest : public testing::TestWithParam<AddressCase> { };

TEST_P(ConnectAddressTest, Reading)
{
    EXPECT_EQ(ReadConnectAddress(GetParam().text), GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ConnectAddressTest,
    testing::Values(AddressCase{u"192.168.0.10", 0xC0A8000A}, AddressCase{u"010.001.002.003", 0x0A010203},
                    AddressCase{u"1.2.3.4.", 0x01020304}, AddressCase{u" 1 . 2 .3 . 4 ", 0x01020304},
                    AddressCase{u"0x7F.$0.x0.0X1", 0x7F000001}, AddressCase{u"+1.-0.3.4", 0x01000304},
                    AddressCase{u"255.255.255.255", 0xFFFFFFFF}, AddressCase{u"256.1.1.1", std::nullopt},
                    AddressCase{u"-1.1.1.1", std::nullopt}, AddressCase{u"1.2.3", std::nullopt},
                    AddressCase{u"1.2.3.4.5", std::nullopt}, AddressCase{u"1.2.3.4..", std::nullopt},
                    AddressCase{u"1..3.4", std::nullopt}, AddressCase{u"1.2.3.0x", std::nullopt},
                    AddressCase{u"1.2.3.+-4", std::nullopt}, AddressCase{u"1.2.3.4a", std::nullopt},
                    AddressCase{u"", std::nullopt}, AddressCase{u"::1", std::nullopt},
                    AddressCase{u"localhost", std::nullopt}));

} // namespace
