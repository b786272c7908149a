#include "platform/TcpClient.h"
#include "platform/AbortSignal.h"
#include "platform/SocketError.h"
#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lumacast;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A client connected to a loopback peer whose end the test holds.
struct Pair {
    TcpClient client;
    int peer = -1;

    explicit Pair(std::size_t keep = SIZE_MAX) : client(keep)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listener, 1), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len), 0);
        client.Connect(Ipv4Address{ntohl(addr.sin_addr.s_addr)}, ntohs(addr.sin_port));
        peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
    }
    ~Pair() { ::close(peer); }

    void peerWrites(std::size_t count, char fill = 'x') const
    {
        const std::string bytes(count, fill);
        std::size_t sent = 0;
        while (sent < count) {
            const ssize_t n = ::send(peer, bytes.data() + sent, count - sent, MSG_NOSIGNAL);
            ASSERT_GT(n, 0);
            sent += static_cast<std::size_t>(n);
        }
    }
};

// Runs `body` on its own thread; false when it is still running after `limit`.
// A body that hangs is left to the process's end.
bool endsWithin(std::chrono::milliseconds limit, std::function<void()> body)
{
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(body));
    auto done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

TEST(TcpClient, SendToAPeerThatNeverReadsWaitsUntilTheStopRequest)
{
    Pair pair;
    AbortSignal stop;
    std::atomic<bool> failed{false};
    std::atomic<bool> returned{false};
    const auto sending = std::async(std::launch::async, [&] {
        try {
            pair.client.Send(std::string(64 << 20, 'f'), &stop);
        } catch (const SocketError &) {
            failed = true;
        }
        returned = true;
    });
    std::this_thread::sleep_for(300ms);
    ASSERT_FALSE(returned) << "the peer's buffers took 64 MB";
    stop.Signal();
    const bool ended = sending.wait_for(2s) == std::future_status::ready;
    if (!ended)
        ::shutdown(pair.peer, SHUT_RDWR); // lets a send that ignores the stop fail, so the test ends
    EXPECT_TRUE(ended);
    EXPECT_TRUE(failed);
}

TEST(TcpClient, ALookTakesWhatHasArrivedAndKeepsOnlyWhatWasAskedFor)
{
    struct Case {
        std::size_t keep;
        std::size_t written;
        std::size_t kept;
    };
    for (const Case c :
         {Case{13, 12, 12}, Case{13, 13, 13}, Case{13, 60000, 13}, Case{SIZE_MAX, 5000, 5000}}) {
        Pair pair(c.keep);
        pair.peerWrites(c.written);
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(pair.client.CheckForData(1).received);
        EXPECT_EQ(pair.client.TakeInput().size(), c.kept) << c.written;
        // What was discarded was read all the same: nothing is left over.
        EXPECT_FALSE(pair.client.CheckForData(1).received) << c.written;
    }
}

TEST(TcpClient, AReplyThatLandsBetweenTheCountAndTheReadIsTakenWhole)
{
    Pair pair(13);
    pair.client.SetAfterCount([&] {
        pair.peerWrites(12);
        std::this_thread::sleep_for(20ms); // in the client's buffer now
    });
    ASSERT_TRUE(pair.client.CheckForData(0).received);
    EXPECT_EQ(pair.client.TakeInput().size(), 12u);
}

TEST(TcpClient, TheSystemGivesUpAConnectThatIsNeverAnsweredAfterTheBound)
{
    // The listener's full queue drops every further SYN.
    const test::StalledListener stalled;
    // Shared with an attempt that may outlive the test.
    auto abort = std::make_shared<AbortSignal>();
    auto error = std::make_shared<std::atomic<int>>(0);
    const auto begin = Clock::now();
    const bool ended = endsWithin(6s, [abort, error, port = stalled.port()] {
        TcpClient client(SIZE_MAX, 1000ms);
        try {
            client.Connect(Ipv4Address{INADDR_LOOPBACK}, port, abort.get());
        } catch (const SocketError &e) {
            *error = e.ErrorNumber();
        }
    });
    const auto took = Clock::now() - begin;
    abort->Signal(); // ends an attempt that the system would go on with
    ASSERT_TRUE(ended);
    EXPECT_EQ(*error, ETIMEDOUT);
    EXPECT_GE(took, 900ms);
}

TEST(TcpClient, ALookEndsWhileThePeerStreamsWithoutPause)
{
    Pair pair(13);
    std::atomic<bool> streaming{true};
    std::thread writer([&] {
        const std::string chunk(65536, 's');
        while (streaming && ::send(pair.peer, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) { }
    });
    std::this_thread::sleep_for(50ms);
    int looks = 0;
    const bool ended = endsWithin(3s, [&] {
        for (; looks < 20; ++looks) {
            pair.client.CheckForData(1);
            EXPECT_LE(pair.client.TakeInput().size(), 13u);
        }
    });
    streaming = false;
    ::shutdown(pair.peer, SHUT_RDWR);
    writer.join();
    ASSERT_TRUE(ended) << "a look kept reading while data flowed; looks done: " << looks;
}

// The peer's view of the end: an orderly end of stream, and no reset after it.
bool peerSeesResetAfterEndOfStream(int peer)
{
    char buffer[64];
    ssize_t n;
    const auto deadline = Clock::now() + 2s;
    while ((n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) != 0 && Clock::now() < deadline) {
        if (n < 0 && errno != EAGAIN)
            return true;
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(n, 0) << "no end of stream";
    std::this_thread::sleep_for(200ms);
    // Reads still give end of stream after a reset; the state tells it.
    tcp_info info{};
    socklen_t len = sizeof info;
    EXPECT_EQ(::getsockopt(peer, IPPROTO_TCP, TCP_INFO, &info, &len), 0);
    return info.tcpi_state == TCP_CLOSE;
}

TEST(TcpClient, DisconnectReadsAwayUnreadInputSoThePeerSeesNoReset)
{
    struct Case {
        const char *what;
        std::chrono::milliseconds replyAfterEnd; // negative: the reply came before
    };
    for (const Case c : {Case{"reply unread", -1ms}, Case{"reply in flight", 30ms}}) {
        Pair pair;
        if (c.replyAfterEnd < 0ms) {
            pair.peerWrites(12);
            pollfd p{pair.peer, POLLOUT, 0};
            ::poll(&p, 1, 100);
            std::this_thread::sleep_for(20ms); // in the client's buffer now
        }
        std::thread late([&] {
            if (c.replyAfterEnd >= 0ms) {
                std::this_thread::sleep_for(c.replyAfterEnd);
                pair.peerWrites(12);
            }
        });
        pair.client.Disconnect();
        late.join();
        EXPECT_FALSE(peerSeesResetAfterEndOfStream(pair.peer)) << c.what;
    }
}

TEST(TcpClient, ALookupThatNeverReturnsIsGivenUpOnAbort)
{
    // In a private network namespace the name server cannot be reached and
    // the system's lookup takes many seconds; elsewhere it may fail at once.
    // Either way the wait must end soon after the abort.
    AbortSignal abort;
    std::atomic<bool> failed{false};
    std::thread aborter([&] {
        std::this_thread::sleep_for(200ms);
        abort.Signal();
    });
    const bool ended = endsWithin(3s, [&] {
        try {
            TcpClient::ResolveIPv4("x7f.1", &abort);
        } catch (const SocketError &) {
            failed = true;
        }
    });
    aborter.join();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(failed);
}

} // namespace
