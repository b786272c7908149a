// A burst of discovery answers from one process on loopback, N at once: how
// many become entries, how many are lost, and how long until the last entry.
// Once against the bare endpoint, once against the window with its address
// list. Prints figures; never fails on time.

#include "discovery/UdpServer.h"
#include "platform/HandOff.h"
#include "support/UdpPeer.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/Main.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace lumacast;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Serves events until `count()` stops growing for 500 ms or reaches `n`.
void PumpUntilSettled(const std::function<int()> &count, int n)
{
    auto lastChange = Clock::now();
    int last = count();
    while (last < n && Clock::now() - lastChange < std::chrono::milliseconds(500)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        HandOffQueue::DrainOwnedByThisThread();
        if (count() != last) {
            last = count();
            lastChange = Clock::now();
        }
    }
}

void Burst(std::uint16_t port, int n)
{
    test::UdpPeer device("127.0.0.2");
    for (int i = 0; i < n; ++i)
        device.Send("127.0.0.1", port, "RK-DX420 answer " + std::to_string(i));
}

void Report(const char *what, int n, int received, double lastMs)
{
    std::printf("%-9s N=%5d  received %5d  lost %5d  first send to last entry %8.1f ms\n", what, n, received,
                n - received, lastMs);
}

void EndpointRun(int n)
{
    UdpServer endpoint(HandOffQueue::Make());
    endpoint.SetPort(test::FreeUdpPort());
    int received = 0;
    Clock::time_point last;
    endpoint.onRead = [&](UdpListenerThread *, const std::vector<std::uint8_t> &, SocketBinding &) {
        ++received;
        last = Clock::now();
    };
    endpoint.SetActive(true);
    const auto start = Clock::now();
    Burst(endpoint.Port(), n);
    PumpUntilSettled([&] { return received; }, n);
    Report("endpoint", n, received, received ? MsSince(start, last) : 0.0);

    const auto stopStart = Clock::now();
    endpoint.SetActive(false);
    std::printf("          receive buffer granted %d bytes; deactivation %.2f ms\n",
                endpoint.ReceiveBufferGranted(), MsSince(stopStart, Clock::now()));
}

// Ports of their own, so the bench never meets the program's.
PanelPorts BenchPorts()
{
    PanelPorts ports;
    ports.device = test::FreeUdpPort();
    ports.discoveryLocal = test::FreeUdpPort();
    ports.discoveryRemote = test::FreeUdpPort();
    return ports;
}

void WindowRun(int n)
{
    const PanelPorts ports = BenchPorts();
    TMainForm form(ports);
    MainForm = &form;
    form.FormCreate();
    form.show();
    Clock::time_point last;
    int seen = 0;
    const auto start = Clock::now();
    Burst(ports.discoveryLocal, n);
    PumpUntilSettled(
        [&] {
            const int count = form.ComboBox1->count();
            if (count != seen) {
                seen = count;
                last = Clock::now();
            }
            return count;
        },
        n);
    Report("window", n, seen, seen ? MsSince(start, last) : 0.0);
    const auto stopStart = Clock::now();
    form.FormDestroy();
    std::printf("          window closed its endpoint in %.2f ms\n", MsSince(stopStart, Clock::now()));
    MainForm = nullptr;
}

// 100k answers from 250 senders into an open discovery window while the
// event loop runs as in the program: the longest the UI thread went without
// serving a 1 ms timer, and how many answers became entries.
void FloodRun(int senders, int perSender)
{
    const PanelPorts ports = BenchPorts();
    TMainForm form(ports);
    MainForm = &form;
    form.FormCreate();
    form.show();
    const int n = senders * perSender;
    std::vector<std::unique_ptr<test::UdpPeer>> peers;
    peers.reserve(static_cast<std::size_t>(senders));
    for (int i = 0; i < senders; ++i)
        peers.push_back(std::make_unique<test::UdpPeer>("127.0.0." + std::to_string(2 + i)));
    const auto start = Clock::now();
    std::thread flood([&] {
        for (int k = 0; k < perSender; ++k)
            for (const auto &peer : peers)
                peer->Send("127.0.0.1", ports.discoveryLocal, "RK-DX420 answer");
    });
    double worstGap = 0;
    auto lastTick = Clock::now();
    auto lastChange = lastTick;
    int seen = 0;
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worstGap = std::max(worstGap, MsSince(lastTick, now));
        lastTick = now;
        if (form.ComboBox1->count() != seen) {
            seen = form.ComboBox1->count();
            lastChange = now;
        }
        if (seen >= n ||
            (now - lastChange > std::chrono::milliseconds(1000) && now - start > std::chrono::seconds(2)))
            loop.quit();
    });
    ticker.start(1);
    loop.exec();
    flood.join();
    std::printf(
        "flood     %d senders x %d = %d answers: %d entries (%d lost before the window's end or in the "
        "system), worst UI stall %.1f ms, last entry %.0f ms after the first send\n",
        senders, perSender, n, seen, n - seen, worstGap, MsSince(start, lastChange));
    form.FormDestroy();
    MainForm = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (!test::InPrivateNetwork()) {
        std::fprintf(stderr, "The window broadcasts: run this inside a private network namespace.\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int n : {100, 1000, 5000})
        EndpointRun(n);
    for (int n : {100, 1000})
        WindowRun(n);
    FloodRun(250, 400);
    return 0;
}
