#include "link/DeviceExchange.h"

#include "link/AddressValidation.h"
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
    const ConnectTarget reading = ReadConnectTarget(address);
    switch (reading.kind) {
    case ConnectTarget::Kind::Dotted:
        target.value = reading.address;
        break;
    case ConnectTarget::Kind::ZeroCharacter:
        throw ConnectError(ConnectStep::Address, SocketError("host name holds a zero character", EINVAL));
    case ConnectTarget::Kind::IPv6Text:
        throw ConnectError(ConnectStep::Address, SocketError("an IPv6 address text", EAFNOSUPPORT));
    case ConnectTarget::Kind::HostName: {
        const QString host = QString::fromUtf16(address.data(), static_cast<qsizetype>(address.size()));
        try {
            target = TcpClient::ResolveIPv4(host.toStdString(), abort, limit);
        } catch (const SocketError &e) {
            throw ConnectError(ConnectStep::Resolve, e);
        }
        break;
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
