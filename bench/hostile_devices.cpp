// The link against devices that misbehave, on loopback: a device that
// streams without pause and one that accepts and never reads. Prints the
// peak memory while streaming and the time from the stop request
// (DISCONNECT) to the polling thread's end; never fails on time.
//   bench_hostile_devices [--stream-mb N] [--stream-s S]

#include "link/PollingThread.h"
#include "platform/AbortSignal.h"
#include "platform/HandOff.h"
#include "platform/TcpClient.h"
#include "support/Device.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lumacast;
using lumacast::test::Device;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long PeakRssKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct NullWindow : PollerWindow {
    PendingCommands pending;
    void ShowConnectedTo(const QString &) override { }
    PendingCommands &Pending() override { return pending; }
    void ShowDeviceStatus(const DeviceStatusChars &) override { }
};

// Runs a polling thread against `device` until `until` holds, then makes the
// stop request and returns the milliseconds until its end notification.
double DisconnectToIdle(const Device &device, const std::function<bool()> &until)
{
    NullWindow window;
    bool ended = false;
    Clock::time_point endedAt;
    const auto handOffs = HandOffQueue::Make();
    auto *poller = new TPollingThread(QStringLiteral("127.0.0.1"), device.Port(), window, handOffs);
    poller->SetEndNotification([&](WorkerThread *) {
        ended = true;
        endedAt = Clock::now();
    });
    poller->SetReleaseOnEnd(true);
    poller->Start();
    handOffs->WaitServing([&] { return ended || until(); });
    const auto requested = Clock::now();
    if (!ended)
        poller->RequestStop();
    handOffs->WaitServing([&] { return ended; });
    handOffs->WaitForAllEnded();
    return std::chrono::duration<double, std::milli>(endedAt - requested).count();
}

int Run(int argc, char **argv)
{
    std::size_t streamMb = 1024;
    int streamS = 120;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 < argc && std::strcmp(argv[i], "--stream-mb") == 0) {
            streamMb = std::stoul(argv[i + 1]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--stream-s") == 0) {
            streamS = std::stoi(argv[i + 1]);
        } else {
            std::printf("usage: bench_hostile_devices [--stream-mb N] [--stream-s S]\n"
                        "  the polling thread against a device on 127.0.0.1 that streams up to N MB\n"
                        "  (default 1024) for at most S s (default 120), one that never reads, and a\n"
                        "  send that waits for room; prints peak memory and stop-to-idle times.\n");
            return std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ? 0 : 2;
        }
    }
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);

    {
        const long before = PeakRssKb();
        const Device device({.stream = true, .streamLimit = streamMb << 20});
        const auto start = Clock::now();
        const double ms = DisconnectToIdle(device, [&] {
            return device.Record().streamed >= (streamMb << 20) ||
                Clock::now() - start > std::chrono::seconds(streamS);
        });
        std::printf("streaming device: %zu MB taken in %.1f s; peak RSS %ld kB before, %ld kB after; "
                    "DISCONNECT to idle %.1f ms\n",
                    device.Record().streamed >> 20, MsSince(start) / 1000.0 - ms / 1000.0, before,
                    PeakRssKb(), ms);
    }
    {
        const Device device({.neverRead = true});
        const auto start = Clock::now();
        const double ms = DisconnectToIdle(device, [&] { return Clock::now() - start > 1s; });
        std::printf("device that never reads: DISCONNECT to idle %.1f ms\n", ms);
    }
    {
        // A send that the device never makes room for, as the link's send
        // waits once the buffers are full: stop request to return.
        const Device device({.neverRead = true});
        TcpClient client;
        client.Connect(Ipv4Address{INADDR_LOOPBACK}, device.Port());
        AbortSignal stop;
        auto sending = std::async(std::launch::async, [&] {
            try {
                client.Send(std::string(256 << 20, 'f'), &stop);
            } catch (...) {
            }
        });
        std::this_thread::sleep_for(500ms);
        const auto requested = Clock::now();
        stop.Signal();
        sending.wait();
        std::printf("blocked send: stop request to return %.2f ms\n", MsSince(requested));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
