#include "platform/SocketErrorText.h"
#include "platform/AbortSignal.h"
#include "platform/EndSignals.h"
#include "platform/WorkerThread.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

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

// Runs `body` in a child process, so that the limits it sets go with it;
// hands back its wait status and what it wrote to `out`.
std::pair<int, std::string> InChild(const std::function<int(int out)> &body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1, {}};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::_exit(body(pipeFds[1]));
    }
    ::close(pipeFds[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {status, said};
}

// Leaves no descriptor to open: the lowest free one is the limit.
bool NoDescriptorLeft(int any)
{
    const auto lowestFree = static_cast<rlim_t>(::dup(any));
    const rlimit none{lowestFree, lowestFree};
    return ::setrlimit(RLIMIT_NOFILE, &none) == 0;
}

// What the program's own descriptors and threads say when the system runs
// short: the socket layer's words, as every other such failure in the box.
TEST(OwnResourceFailure, ReadsLikeASocketError)
{
    struct Idle : WorkerThread {
        Idle() : WorkerThread(HandOffQueue::Make()) { }
        void Execute() override { }
    };
    const struct {
        const char *what;
        bool threads;
        std::function<void()> make;
        std::string message;
    } cases[] = {
        {"an abort signal without a descriptor", false, [] { AbortSignal signal; },
         "Socket エラー # 10024\r\n開いているファイルが多すぎます。"},
        {"a thread the system refuses", true,
         [] {
             Idle thread;
             thread.Start();
         },
         "Socket エラー # 10035\r\n操作はブロックされます。"},
    };
    for (const auto &c : cases) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers' own checks of the error's object need descriptors too.
        if (!c.threads) {
            std::printf("not under a sanitizer: %s\n", c.what);
            continue;
        }
#endif
        const auto [status, said] = InChild([&](int out) {
            // Threads are counted per user, and the system's administrator has none.
            if (c.threads) {
                const rlimit none{0, 0};
                if ((::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) ||
                    ::setrlimit(RLIMIT_NPROC, &none) != 0)
                    return 2;
            } else if (!NoDescriptorLeft(out)) {
                return 2;
            }
            std::string text = "nothing failed";
            try {
                c.make();
            } catch (const std::exception &e) {
                text = e.what();
            }
            return ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3;
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what << ": status " << status;
        EXPECT_EQ(said, c.message) << c.what;
    }
}

TEST(OwnResourceFailure, EndSignalsThatCannotBeWatchedStillEndTheProgram)
{
    const auto [status, said] = InChild([](int out) {
        BlockEndSignals();
        if (!NoDescriptorLeft(out))
            return 2;
        try {
            const EndSignalWatcher watcher([] {});
            ::kill(::getpid(), SIGTERM);
            ::sleep(5);
        } catch (...) {
            return 3;
        }
        return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
}

} // namespace
