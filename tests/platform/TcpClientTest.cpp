#include "platform/TcpClient.h"
#include "platform/AbortSignal.h"
#include "platform/SocketError.h"
#include "support/Device.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace lumacast;
using namespace std::chrono_literals;
using test::Serving;
using test::WaitUntil;
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

    // The client has taken delivery of everything the peer sent.
    bool PeerSentAll() const
    {
        int unacknowledged = -1;
        return ::ioctl(peer, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
    }

    void PeerWrites(std::size_t count, char fill = 'x') const
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
bool EndsWithin(std::chrono::milliseconds limit, std::function<void()> body)
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
    // Made and freed outside the time measured: under a sanitizer that takes long.
    const std::string bytes(64 << 20, 'f');
    const auto sending = std::async(std::launch::async, [&] {
        try {
            pair.client.Send(bytes, &stop);
        } catch (const SocketError &) {
            failed = true;
        }
        returned = true;
    });
    // A send that waits cannot be told from a slow one: only time tells.
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
        pair.PeerWrites(c.written);
        ASSERT_TRUE(WaitUntil([&] { return pair.PeerSentAll(); }, 5s, Serving::Nothing));
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
        pair.PeerWrites(12);
        std::this_thread::sleep_for(20ms); // in the client's buffer now
    });
    ASSERT_TRUE(pair.client.CheckForData(0).received);
    EXPECT_EQ(pair.client.TakeInput().size(), 12u);
}

TEST(TcpClient, TheSystemGivesUpAConnectThatIsNeverAnsweredAfterTheBound)
{
    // The device's full accept queue drops every further SYN.
    const test::Device stalled({.stall = true});
    // Shared with an attempt that may outlive the test.
    auto abort = std::make_shared<AbortSignal>();
    auto error = std::make_shared<std::atomic<int>>(0);
    const auto begin = Clock::now();
    const bool ended = EndsWithin(6s, [abort, error, port = stalled.Port()] {
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
    ASSERT_TRUE(WaitUntil([&] { return !pair.PeerSentAll(); }, 5s, Serving::Nothing));
    int looks = 0;
    const bool ended = EndsWithin(3s, [&] {
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
bool PeerSeesResetAfterEndOfStream(int peer)
{
    ssize_t n = -1;
    bool reset = false;
    EXPECT_TRUE(WaitUntil(
        [&] {
            char buffer[64];
            n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            reset = n < 0 && errno != EAGAIN;
            return n == 0 || reset;
        },
        2s, Serving::Nothing))
        << "no end of stream";
    if (reset)
        return true;
    // Nothing marks a reset that does not come: only time tells.
    std::this_thread::sleep_for(100ms);
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
            pair.PeerWrites(12);
            ASSERT_TRUE(WaitUntil([&] { return pair.PeerSentAll(); }, 5s, Serving::Nothing));
        }
        std::thread late([&] {
            if (c.replyAfterEnd >= 0ms) {
                std::this_thread::sleep_for(c.replyAfterEnd); // the reply comes while the end reads away
                pair.PeerWrites(12);
            }
        });
        pair.client.Disconnect();
        late.join();
        EXPECT_FALSE(PeerSeesResetAfterEndOfStream(pair.peer)) << c.what;
    }
}

// True while a thread of this process waits in an open of a FIFO that has no
// writer.
bool AThreadWaitsForAFifoWriter()
{
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream wchan(task.path() / "wchan");
        std::string where;
        if (wchan >> where && where == "wait_for_partner")
            return true;
    }
    return false;
}

TEST(TcpClient, ALookupThatNeverReturnsIsGivenUpOnAbort)
{
    // The system's lookup reads the file of host aliases for a name without
    // a dot; as a FIFO that nobody writes, it holds the lookup for ever.
    const QTemporaryDir dir;
    const std::string aliases = dir.filePath("aliases").toStdString();
    ASSERT_EQ(::mkfifo(aliases.c_str(), 0600), 0);
    ASSERT_EQ(::setenv("HOSTALIASES", aliases.c_str(), 1), 0);
    AbortSignal abort;
    std::atomic<bool> failed{false};
    std::thread aborter([&] {
        // Once the lookup hangs (or, where the kernel does not tell, after a while).
        WaitUntil(AThreadWaitsForAFifoWriter, 2s, Serving::Nothing);
        abort.Signal();
    });
    const bool ended = EndsWithin(5s, [&] {
        try {
            TcpClient::ResolveIPv4("lumacast-no-such-host", &abort);
        } catch (const SocketError &) {
            failed = true;
        }
    });
    aborter.join();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(failed);
    // The lookup is still held: the abort ended the wait, not the lookup. A
    // writer lets it go on its own thread.
    const int writer = ::open(aliases.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(writer, 0) << "the lookup ended by itself";
    if (writer >= 0)
        ::close(writer);
    ::unsetenv("HOSTALIASES");
}

} // namespace
