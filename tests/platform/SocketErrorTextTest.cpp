#include "platform/SocketErrorText.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace lumacast;

namespace {

struct MessageRow : test::Row {
    int errnoValue;
    int number;
    std::string message;
};

class SocketErrorMessageTest : public testing::TestWithParam<MessageRow> { };

TEST_P(SocketErrorMessageTest, NumberAndTextOfTheFailedCall)
{
    const MessageRow &row = GetParam();
    EXPECT_EQ(WinsockErrorNumber(row.errnoValue), row.number);
    EXPECT_EQ(SocketErrorMessage(row.errnoValue), row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketErrorMessageTest,
    testing::Values(
        MessageRow{"NoRoute", ENETUNREACH, 10051, "Socket エラー # 10051\r\nネットワークに到達できません。"},
        MessageRow{"BroadcastRefused", EACCES, 10013, "Socket エラー # 10013\r\nアクセスが拒否されました。"},
        MessageRow{"PortInUse", EADDRINUSE, 10048, "Socket エラー # 10048\r\nアドレスは既に使われています。"},
        MessageRow{"Interrupted", EINTR, 10004,
                   "Socket エラー # 10004\r\nシステム コールが割り込まれました。"},
        MessageRow{"WouldBlock", EWOULDBLOCK, 10035, "Socket エラー # 10035\r\n操作はブロックされます。"},
        MessageRow{"AgainIsWouldBlock", EAGAIN, 10035, "Socket エラー # 10035\r\n操作はブロックされます。"},
        MessageRow{"NotSupported", EOPNOTSUPP, 10045,
                   "Socket エラー # 10045\r\nソケットで操作がサポートされていません。"},
        MessageRow{"TooManyRefs", ETOOMANYREFS, 10059,
                   "Socket エラー # 10059\r\n参照が多すぎます。継ぎ合わせることができません。"},
        // The last row of the table is the one text without a closing full stop.
        MessageRow{"NotEmpty", ENOTEMPTY, 10066, "Socket エラー # 10066\r\nディレクトリが空ではありません"},
        MessageRow{"NoBuffers", ENOBUFS, 10055,
                   "Socket エラー # 10055\r\n使用できるバッファ領域がありません。"},
        // Too long has a message of its own, without the number.
        MessageRow{"TooLong", EMSGSIZE, 10040, "パッケージ サイズが大きすぎます。"},
        // Unknown errors keep their number and have no text.
        MessageRow{"NotPermitted", EPERM, EPERM, "Socket エラー # 1\r\n"},
        MessageRow{"NoSuchFile", ENOENT, ENOENT, "Socket エラー # 2\r\n"},
        MessageRow{"Pipe", EPIPE, EPIPE, "Socket エラー # 32\r\n"}),
    test::RowName());

} // namespace
