// Datagrams of any size and content reaching the discovery endpoint through
// its real sockets, listener threads and batches: every datagram of 1 to 8192
// bytes is handed over once, whole, in the order sent, with its sender; none
// other is.
//
// The input is a list of datagrams: two bytes of length (up to 9000, beyond
// the largest taken), then that many bytes, repeating the input when it runs
// out.
#include "discovery/UdpServer.h"
#include "platform/HandOff.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace lumacast;

namespace {

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "fuzz_udp_answers: %s\n", what);
    std::abort();
}

struct Handed {
    std::string data;
    std::string sender;
};

// One endpoint for the whole run: starting listener threads per input would
// measure thread starts, not the path the bytes take.
struct Listening {
    UdpServer server{HandOffQueue::Make()};
    std::vector<Handed> handed;
    std::uint16_t port = 0;
    int device = -1;

    Listening()
    {
        server.SetPort(0);
        server.onRead = [this](UdpListenerThread *, const std::vector<std::uint8_t> &data,
                               SocketBinding &binding) {
            handed.push_back({std::string(data.begin(), data.end()), binding.peerIp});
        };
        server.SetActive(true);
        port = server.Sockets().front()->socket->LocalPort();
        device = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (device < 0)
            Fail("socket");
    }

    void Send(const std::string &datagram) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        if (::sendto(device, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to) != static_cast<ssize_t>(datagram.size()))
            Fail("sendto");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Listening endpoint;
    if (size == 0)
        return 0;

    endpoint.handed.clear();
    std::vector<std::string> expected;
    std::size_t at = 0, cycle = 0;
    auto next = [&] { return data[cycle++ % size]; };
    for (int count = 0; at + 2 <= size && count < 32; ++count) {
        const std::size_t length = ((std::size_t(data[at]) << 8) | data[at + 1]) % 9001;
        at += 2;
        std::string datagram(length, '\0');
        for (char &c : datagram)
            c = static_cast<char>(next());
        at += std::min(length, size - std::min(size, at));
        endpoint.Send(datagram);
        if (!datagram.empty() && datagram.size() <= 8192)
            expected.push_back(datagram);
    }

    // Serve the hand-offs as the UI thread does, until all have come, and a
    // moment longer so that a datagram handed over twice would show.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (endpoint.handed.size() < expected.size()) {
        endpoint.server.HandOffs()->Drain();
        if (std::chrono::steady_clock::now() > deadline)
            Fail("a datagram was lost");
        ::usleep(50);
    }
    ::usleep(500);
    endpoint.server.HandOffs()->Drain();

    if (endpoint.handed.size() != expected.size())
        Fail("a datagram was handed over that should not have been");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (endpoint.handed[i].data != expected[i])
            Fail("a datagram changed or came out of order");
        if (endpoint.handed[i].sender != "127.0.0.1")
            Fail("the sender's address text is wrong");
    }
    return 0;
}
