#include "link/DeviceExchange.h"

#include "platform/TcpClient.h"

#include <QString>

#include <algorithm>
#include <cerrno>

namespace lumacast {

void ConnectToDevice(TcpClient &client, std::u16string_view address, std::uint16_t port,
                     const AbortSignal *abort, std::optional<std::chrono::milliseconds> limit)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Ipv4Address target;
    if (const auto dotted = ReadConnectAddress(address)) {
        target.value = *dotted;
    } else {
        if (address.find(u'\0') != std::u16string_view::npos)
            throw ConnectError(ConnectStep::Address, SocketError("host name holds a zero character", EINVAL));
        // The system's resolution reads IPv4-mapped IPv6 text as an IPv4
        // address; an IPv6 text must never connect, and no host name holds a
        // colon.
        if (address.find(u':') != std::u16string_view::npos)
            throw ConnectError(ConnectStep::Address, SocketError("an IPv6 address text", EAFNOSUPPORT));
        const QString host = QString::fromUtf16(address.data(), static_cast<qsizetype>(address.size()));
        try {
            target = TcpClient::ResolveIPv4(host.toStdString(), abort, limit);
        } catch (const SocketError &e) {
            throw ConnectError(ConnectStep::Resolve, e);
        }
    }
    try {
        std::optional<std::chrono::milliseconds> left;
        if (limit)
            left = std::max(std::chrono::milliseconds(0),
                            *limit -
                                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start));
        client.Connect(target, port, abort, left);
    } catch (const SocketError &e) {
        throw ConnectError(ConnectStep::Connect, e);
    }
}

ReplyLook LookForReply(TcpClient &client)
{
    ReplyLook look;
    const auto check = client.CheckForData(DataWaitMs);
    if (check.received) {
        look.taken = true;
        look.reply = DecodeReceived(client.TakeInput());
        look.status = AcceptReply(look.reply);
    }
    look.closed = check.closed;
    look.reset = check.reset;
    return look;
}

} // namespace lumacast
