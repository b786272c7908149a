#include "DeviceModel.h"
#include "discovery/DiscoveryRequest.h"
#include "link/Protocol.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <random>

using namespace lumacast::sim;
using namespace std::chrono_literals;

namespace {

// The first digit that names no input.
constexpr char PastTheLastInput = '1' + lumacast::InputCount;

// ---- frames applied to the device, read back at a moment of an injected clock

struct Step {
    std::string bytes;
    Millis at;
};

struct ModelCase : lumacast::test::Row {
    Millis warmUp;
    std::vector<Step> steps;
    Millis readAt;
    std::string status; // power, lamp, mute, input
};

class DeviceModelTest : public testing::TestWithParam<ModelCase> { };

TEST_P(DeviceModelTest, StatusAfterFrames)
{
    const auto &c = GetParam();
    DeviceModel device(c.warmUp);
    for (const auto &step : c.steps)
        device.Apply(step.bytes, step.at);
    EXPECT_EQ(device.Status(c.readAt), c.status);
    EXPECT_EQ(device.Reply(c.readAt), "@c1" + c.status + "00000");
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DeviceModelTest,
    testing::Values(
        ModelCase{"Fresh", 3000ms, {}, 0ms, "0001"},
        ModelCase{"PollOnlyChangesNothing", 3000ms, {{"@C1     \r", 0ms}}, 10ms, "0001"},
        ModelCase{"PowerOnWarmsUp", 3000ms, {{"@C11    \r", 100ms}}, 100ms, "2001"},
        ModelCase{"StillWarmingJustBeforeTheEnd", 3000ms, {{"@C11    \r", 100ms}}, 3099ms, "2001"},
        ModelCase{"OnOnceWarm", 3000ms, {{"@C11    \r", 100ms}}, 3100ms, "1001"},
        ModelCase{"NoWarmUpTime", 0ms, {{"@C11    \r", 5ms}}, 5ms, "1001"},
        ModelCase{"SecondPowerOnDoesNotRestartWarmUp",
                  3000ms,
                  {{"@C11    \r", 0ms}, {"@C11    \r", 2000ms}},
                  3000ms,
                  "1001"},
        ModelCase{
            "PowerOffWhileWarming", 3000ms, {{"@C11    \r", 0ms}, {"@C10    \r", 1000ms}}, 5000ms, "0001"},
        ModelCase{"PowerOnAgainWarmsAgain",
                  3000ms,
                  {{"@C11    \r", 0ms}, {"@C10    \r", 4000ms}, {"@C11    \r", 5000ms}},
                  7999ms,
                  "2001"},
        ModelCase{"LampMuteInputTogether", 3000ms, {{"@C1 113 \r", 0ms}}, 0ms, "0113"},
        ModelCase{"EverythingInOneFrame", 0ms, {{"@C11115 \r", 0ms}}, 0ms, "1115"},
        ModelCase{"OffAgain", 3000ms, {{"@C1 115 \r", 0ms}, {"@C1 00  \r", 10ms}}, 10ms, "0005"},
        ModelCase{"UnknownCharactersAreNoCommands",
                  3000ms,
                  {{"@C1 113 \r", 0ms},
                   {"@C12x9\x7f \r", 10ms},
                   {std::string("@C1  \0", 6) + PastTheLastInput + " \r", 20ms},
                   {std::string("@C1\xb1\xb1\xb1\xb1 \r"), 30ms}},
                  40ms,
                  "0113"},
        ModelCase{"InputZeroAndPastTheLastIgnored",
                  3000ms,
                  {{"@C1   4 \r", 0ms},
                   {"@C1   0 \r", 1ms},
                   {std::string("@C1   ") + PastTheLastInput + " \r", 2ms}},
                  3ms,
                  "0004"},
        ModelCase{"FifthCharacterIgnored", 3000ms, {{"@C1    1\r", 0ms}}, 0ms, "0001"},
        ModelCase{
            "MalformedFramesChangeNothing",
            0ms,
            {{"@c11115 \r", 0ms}, {"@C11115 \n", 0ms}, {"@C11115 ", 0ms}, {"@C11115 \r\r", 0ms}, {"", 0ms}},
            0ms,
            "0001"}),
    lumacast::test::RowName());

TEST(DeviceModel, ApplyTellsWhetherTheFrameWasWellFormed)
{
    DeviceModel device;
    EXPECT_TRUE(device.Apply("@C1     \r", 0ms));
    EXPECT_FALSE(device.Apply("@C1     \n", 0ms));
    EXPECT_FALSE(device.Apply(std::string_view("@C1\0    \r", 8), 0ms));
}

// ---- replies as the fault options distort them

struct FaultCase : lumacast::test::Row {
    ReplyFault fault;
    std::string expected;
};

class ReplyFaultTest : public testing::TestWithParam<FaultCase> { };

TEST_P(ReplyFaultTest, Distorts)
{
    EXPECT_EQ(DistortReply("@c11102"
                           "00000",
                           GetParam().fault),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyFaultTest,
    testing::Values(FaultCase{"None", {}, "@c1110200000"}, FaultCase{"BadHeader", {true, 0}, "@C1110200000"},
                    FaultCase{"Longer", {false, 13}, "@c11102000000"},
                    FaultCase{"Shorter", {false, 11}, "@c111020000"}, FaultCase{"OneByte", {false, 1}, "@"},
                    FaultCase{"Double", {false, 24}, "@c1110200000" + std::string(12, '0')},
                    FaultCase{"Both", {true, 7}, "@C11102"}),
    lumacast::test::RowName());

TEST(ReplySplit, PartsJoinToTheReplyAndNeitherIsAReply)
{
    for (const std::string reply : {"@c1110200000", "@c11102000000", "@"}) {
        const auto [first, second] = SplitReply(reply);
        EXPECT_EQ(first + second, reply);
        EXPECT_LT(first.size(), reply.size());
        if (reply.size() > 1) {
            EXPECT_FALSE(first.empty());
        }
    }
}

// ---- cutting a byte stream into frames

struct CutCase : lumacast::test::Row {
    std::vector<std::string> chunks;
    std::vector<FrameCutter::Piece> pieces; // all chunks' pieces in order
    std::string pending;
};

class FrameCutterTest : public testing::TestWithParam<CutCase> { };

TEST_P(FrameCutterTest, Cuts)
{
    const auto &c = GetParam();
    FrameCutter cutter;
    std::vector<FrameCutter::Piece> pieces;
    for (const auto &chunk : c.chunks)
        for (auto &piece : cutter.Feed(chunk))
            pieces.push_back(std::move(piece));
    EXPECT_EQ(pieces, c.pieces);
    EXPECT_EQ(cutter.Pending(), c.pending);
}

const std::string Poll = "@C1     \r";
FrameCutter::Piece F(const std::string &bytes)
{
    return {true, bytes};
}
FrameCutter::Piece G(const std::string &bytes)
{
    return {false, bytes};
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FrameCutterTest,
    testing::Values(CutCase{"OneFrame", {Poll}, {F(Poll)}, ""},
                    CutCase{"FrameInThreeChunks", {"@C", "1    ", " \r"}, {F(Poll)}, ""},
                    CutCase{"TwoFramesInOneChunk", {Poll + "@C11  3 \r"}, {F(Poll), F("@C11  3 \r")}, ""},
                    CutCase{"GarbageBefore", {"xy" + Poll}, {G("xy"), F(Poll)}, ""},
                    CutCase{"GarbageOnly", {"hello world"}, {G("hello world")}, ""},
                    CutCase{"BinaryGarbage",
                            {std::string("\0\xff\r\n", 4) + Poll},
                            {G(std::string("\0\xff\r\n", 4)), F(Poll)},
                            ""},
                    CutCase{"NoCarriageReturnResyncs", {"@C1xxxxxY" + Poll}, {G("@C1xxxxxY"), F(Poll)}, ""},
                    CutCase{"HeaderInsideABadFrame", {"@C1 " + Poll}, {G("@C1 "), F(Poll)}, ""},
                    CutCase{"DoubledAt", {"@" + Poll}, {G("@"), F(Poll)}, ""},
                    CutCase{"ReplyHeaderIsGarbage", {"@c1     \r" + Poll}, {G("@c1     \r"), F(Poll)}, ""},
                    CutCase{"LineFeedInsteadOfCr", {"@C1     \n@C1"}, {G("@C1     \n")}, "@C1"},
                    CutCase{"PartialHeaderKept", {"abc@"}, {G("abc")}, "@"},
                    CutCase{"PartialHeaderCompleted", {"abc@C", "1     \r"}, {G("abc"), F(Poll)}, ""},
                    CutCase{"PartialFrameKept", {"@C1  "}, {}, "@C1  "},
                    CutCase{"ShortFrameThenFrame", {"@C1 \r" + Poll}, {G("@C1 \r"), F(Poll)}, ""}),
    lumacast::test::RowName());

// Random streams of frames, near-frames and noise: nothing is lost or made up,
// every frame handed out is well formed, and the cutter holds less than a frame.
TEST(FrameCutter, RandomStreamsLoseNothing)
{
    std::mt19937 random(20240601);
    const std::vector<std::string> parts = {Poll, "@C11  3 \r",         "@C1",      "@",         "@C", "\r",
                                            "x",  std::string(1, '\0'), "\xff\xfe", "@c1     \r"};
    for (int round = 0; round < 200; ++round) {
        std::string stream;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            stream += parts[random() % parts.size()];
        FrameCutter cutter;
        std::string rebuilt;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t n = std::min<std::size_t>(1 + random() % 12, stream.size() - at);
            for (const auto &piece : cutter.Feed(std::string_view(stream).substr(at, n))) {
                if (piece.frame)
                    EXPECT_TRUE(IsWellFormedFrame(piece.bytes)) << Hex(piece.bytes);
                else
                    EXPECT_FALSE(piece.bytes.empty());
                rebuilt += piece.bytes;
            }
            EXPECT_LT(cutter.Pending().size(), FrameLength);
            at += n;
        }
        EXPECT_EQ(rebuilt + cutter.Pending(), stream);
    }
}

TEST(FrameCutter, AFrameAfterNoiseIsFoundWhateverTheNoise)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string noise;
        for (int i = static_cast<int>(random() % 30); i > 0; --i)
            noise += static_cast<char>(random() % 256);
        FrameCutter cutter;
        cutter.Feed(noise);
        // A frame may complete a header left in the noise; the next one is clean.
        cutter.Feed(Poll);
        const auto pieces = cutter.Feed(Poll);
        ASSERT_FALSE(pieces.empty());
        EXPECT_EQ(pieces.back(), F(Poll)) << Hex(noise);
    }
}

// ---- log formatting

TEST(LogText, HexAndSeconds)
{
    EXPECT_EQ(Hex(Poll), "40 43 31 20 20 20 20 20 0d");
    EXPECT_EQ(Hex(std::string("\0\xff", 2)), "00 ff");
    EXPECT_EQ(Hex(""), "");
    EXPECT_EQ(FormatSeconds(0ms), "0.000");
    EXPECT_EQ(FormatSeconds(12345ms), "12.345");
    EXPECT_EQ(FormatSeconds(1007ms), "1.007");
}

TEST(Discovery, RecognisesThePanelsRequestOnly)
{
    const std::string request = lumacast::DiscoveryRequest();
    EXPECT_TRUE(IsDiscoveryRequest(request));
    EXPECT_FALSE(IsDiscoveryRequest(request.substr(0, 63)));
    EXPECT_FALSE(IsDiscoveryRequest("RK-DX420"));
}

} // namespace
