// What a device sends, taken by the connection's looks: bytes in chunks of
// any size, with an orderly close or a reset at any point. Each look holds at
// most what a verdict needs, its verdict is the verdict on everything the
// device sent since the last look, and a closed connection is noticed, after
// which no frame can be sent.
//
// The input is a program for the device: per step one byte chooses
//   0: send the next N bytes (N from the byte after it),  1: a look,
//   2: close the connection,  3: reset it.
#include "link/PollingThread.h"
#include "link/Protocol.h"
#include "platform/SocketError.h"
#include "platform/TcpClient.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lumacast;

namespace {

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "fuzz_tcp_reply: %s\n", what);
    std::abort();
}

// A listener on 127.0.0.1 and a port of the system's choice.
struct Listener {
    int fd = -1;
    std::uint16_t port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(fd, 8) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            Fail("cannot listen on loopback");
        port = ntohs(address.sin_port);
    }
};

// Waits until the client has acknowledged everything the device sent, so a
// look sees all of it.
void Delivered(int device)
{
    for (int spins = 0; spins < 100000; ++spins) {
        int unacknowledged = 0;
        if (::ioctl(device, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0)
            return;
        ::usleep(10);
    }
    Fail("bytes never reached the client");
}

// What the polling thread keeps of a look: one byte more than a reply.
constexpr std::size_t Keep = StatusReplyLength + 1;

bool Accepted(const std::string &bytes)
{
    return AcceptReply(DecodeReceived(bytes)).has_value();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const Listener listener;
    TcpClient client(Keep);
    client.Connect(Ipv4Address{INADDR_LOOPBACK}, listener.port);
    int device = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (device < 0)
        Fail("accept");

    std::string sent; // what the device sent since the last look
    bool ended = false, reset = false;
    for (std::size_t at = 0; at < size;) {
        const int op = data[at++] % 4;
        if (op == 0 && !ended) {
            const std::size_t n = at < size ? data[at++] : 0;
            const std::size_t take = std::min(n, size - at);
            if (take > 0 && ::send(device, data + at, take, MSG_NOSIGNAL) != static_cast<ssize_t>(take))
                Fail("device send");
            sent.append(reinterpret_cast<const char *>(data + at), take);
            at += take;
            Delivered(device);
        } else if (op == 1) {
            const auto look = client.CheckForData(DataWaitMs);
            const std::string taken = look.received ? client.TakeInput() : std::string();
            if (taken.size() > Keep)
                Fail("a look holds more than a verdict needs");
            if (reset) {
                // A reset may drop what was still unread; what is taken came first.
                if (sent.compare(0, taken.size(), taken) != 0)
                    Fail("bytes taken after a reset were never sent");
            } else {
                if (taken != sent.substr(0, Keep))
                    Fail("a look did not take what had arrived");
                if (Accepted(taken) != Accepted(sent))
                    Fail("the verdict differs from the verdict on what was sent");
            }
            sent.clear();
            if (ended && !look.closed) {
                // The end may still be on its way; a few more looks must see it.
                bool seen = false;
                for (int i = 0; i < 200 && !seen; ++i)
                    seen = client.CheckForData(DataWaitMs).closed;
                if (!seen)
                    Fail("a closed connection went unnoticed");
            }
            if (ended) {
                try {
                    client.Send(ComposeFrame("     "));
                    Fail("a frame went out on a closed connection");
                } catch (const SocketError &) {
                }
                break;
            }
        } else if ((op == 2 || op == 3) && !ended) {
            if (op == 3) {
                const linger abortive{1, 0};
                ::setsockopt(device, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                reset = true;
            }
            ::close(device);
            device = -1;
            ended = true;
        }
    }
    if (device >= 0)
        ::close(device);
    client.Disconnect();
    return 0;
}
