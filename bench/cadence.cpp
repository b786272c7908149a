// Cadence of the polling thread against a device that answers at once and one
// that never answers, on 127.0.0.1: how often frames go out and what each costs.
// Prints figures; never fails on time.

#include "link/PollingThread.h"
#include "platform/HandOff.h"
#include "platform/Ticks.h"
#include "support/Device.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace lumacast;
using namespace std::chrono;
using test::Device;

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Nanoseconds on the CPU of each thread of the process, by thread id.
std::map<long, double> ThreadCpuNs()
{
    std::map<long, double> threads;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(entry.path() / "schedstat");
        double ns = 0;
        if (stat >> ns)
            threads[std::stol(entry.path().filename().string())] = ns;
    }
    return threads;
}

struct Snapshot {
    steady_clock::time_point at;
    double processCpu = 0;
    std::map<long, double> threads;

    static Snapshot Take() { return {steady_clock::now(), CpuSeconds(), ThreadCpuNs()}; }
};

// The window side of the hand-off steps: nothing to show, no commands pending.
// The first BuildCommand marks the start of the steady cycle, so that its cost
// can be told from that of starting the thread and connecting.
struct BenchWindow : PollerWindow {
    PendingCommands pending;
    int shown = 0;
    int builds = 0;
    Snapshot firstBuild;
    void ShowConnectedTo(const QString &) override { }
    PendingCommands &Pending() override
    {
        if (builds++ == 0)
            firstBuild = Snapshot::Take();
        return pending;
    }
    void ShowDeviceStatus(const DeviceStatusChars &) override { ++shown; }
};

struct Result {
    const char *name;
    double idealMs;
    std::size_t frames = 0;
    double meanMs = 0, p50 = 0, p99 = 0, max = 0; // deviations: period - ideal
    double cpuMsPerFrame = 0; // the whole run, start and end included
    double steadyMsPerFrame = 0; // the steady cycle: CPU per second times the mean period
    double pollerMs = 0, uiMs = 0, deviceMs = 0; // the same, by thread
    int shown = 0;
};

double Percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Runs one polling thread against `device` for `duration`, serving its
// hand-offs from the event loop as the window does.
Result Run(QCoreApplication &app, const char *name, double idealMs, const Device &device,
           milliseconds duration)
{
    BenchWindow window;
    Result result{name, idealMs};
    const double cpuBefore = CpuSeconds();
    const auto threadsBefore = ThreadCpuNs(); // the UI thread and the device's
    Snapshot atStop;

    const auto handOffs = HandOffQueue::Make();
    handOffs->Watch();
    auto *poller = new TPollingThread(QStringLiteral("127.0.0.1"), device.Port(), window, handOffs);
    bool ended = false;
    poller->SetEndNotification([&](WorkerThread *) {
        ended = true;
        app.quit();
    });
    poller->SetReleaseOnEnd(true);
    poller->Start();
    QTimer::singleShot(duration, [&] {
        atStop = Snapshot::Take();
        if (!ended)
            poller->RequestStop();
    });
    app.exec();
    handOffs->WaitForAllEnded();
    const double cpu = CpuSeconds() - cpuBefore;

    const auto frames = device.Record().frames;
    result.frames = frames.size();
    result.shown = window.shown;
    if (!frames.empty())
        result.cpuMsPerFrame = cpu * 1000.0 / static_cast<double>(frames.size());
    std::vector<double> deviations;
    double sum = 0;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double period = duration_cast<microseconds>(frames[i].at - frames[i - 1].at).count() / 1000.0;
        sum += period;
        deviations.push_back(period - idealMs);
    }
    if (!deviations.empty()) {
        std::sort(deviations.begin(), deviations.end());
        result.meanMs = sum / static_cast<double>(deviations.size());
        result.p50 = Percentile(deviations, 0.50);
        result.p99 = Percentile(deviations, 0.99);
        result.max = deviations.back();
    }

    // CPU of the steady cycle, per second of it, scaled to one mean period.
    const double steadyS = duration_cast<microseconds>(atStop.at - window.firstBuild.at).count() / 1e6;
    if (window.builds > 1 && steadyS > 0 && result.meanMs > 0) {
        const double perFrame = result.meanMs / 1000.0 / steadyS; // share of the interval
        result.steadyMsPerFrame = (atStop.processCpu - window.firstBuild.processCpu) * 1000.0 * perFrame;
        for (const auto &[tid, ns] : atStop.threads) {
            const auto first = window.firstBuild.threads.find(tid);
            if (first == window.firstBuild.threads.end())
                continue;
            const double ms = (ns - first->second) / 1e6 * perFrame;
            if (tid == ::getpid())
                result.uiMs += ms;
            else if (threadsBefore.count(tid))
                result.deviceMs += ms;
            else
                result.pollerMs += ms;
        }
    }
    return result;
}

double ThreadCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// What the pieces of one cycle cost on this machine: a pause (its overshoot
// and its CPU time), a look that waits for data that does not come, and the
// round trip of one hand-off step.
void Calibrate(QCoreApplication &app)
{
    const int pauses = 10;
    double overshoot = 0;
    double cpu = ThreadCpuUs();
    for (int i = 0; i < pauses; ++i) {
        const auto start = steady_clock::now();
        SleepMs(IterationPauseMs);
        overshoot +=
            duration_cast<microseconds>(steady_clock::now() - start).count() / 1000.0 - IterationPauseMs;
    }
    const double pauseCpuUs = (ThreadCpuUs() - cpu) / pauses;

    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    const int looks = 100;
    cpu = ThreadCpuUs();
    for (int i = 0; i < looks; ++i) {
        char byte;
        [[maybe_unused]] auto n = ::recv(pair[0], &byte, 1, MSG_DONTWAIT);
        pollfd p{pair[0], POLLIN, 0};
        ::poll(&p, 1, DataWaitMs);
    }
    const double lookCpuUs = (ThreadCpuUs() - cpu) / looks;
    ::close(pair[0]);
    ::close(pair[1]);

    const int steps = 200;
    std::atomic<bool> done{false};
    double handOffUs = 0;
    const auto handOffs = HandOffQueue::Make();
    handOffs->Watch();
    std::thread worker([&] {
        const auto start = steady_clock::now();
        for (int i = 0; i < steps; ++i)
            handOffs->Synchronize([] {});
        handOffUs = duration_cast<nanoseconds>(steady_clock::now() - start).count() / 1000.0 / steps;
        done = true;
    });
    // Served from the event loop, as the window serves the polling thread.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (done)
            app.quit();
    });
    poll.start(5);
    app.exec();
    worker.join();

    std::printf("on this machine: a %u ms pause overshoots by %.3f ms and costs %.1f us of CPU;\n"
                "a look that waits %d ms for nothing costs %.1f us of CPU; a hand-off step takes %.1f us\n",
                IterationPauseMs, overshoot / pauses, pauseCpuUs, DataWaitMs, lookCpuUs, handOffUs);
}

void PrintTable(const std::vector<Result> &results)
{
    std::printf("\n%-11s %6s %10s %6s %8s %8s %8s | %9s %9s | %8s %8s %8s\n", "device", "frames", "mean (ms)",
                "ideal", "p50 dev", "p99 dev", "max dev", "CPU/frame", "steady", "poller", "UI", "device");
    for (const auto &r : results)
        std::printf("%-11s %6zu %10.2f %6.0f %+8.2f %+8.2f %+8.2f | %9.4f %9.4f | %8.4f %8.4f %8.4f\n",
                    r.name, r.frames, r.meanMs, r.idealMs, r.p50, r.p99, r.max, r.cpuMsPerFrame,
                    r.steadyMsPerFrame, r.pollerMs, r.uiMs, r.deviceMs);
    std::printf("\ndev: period between two frames minus the ideal, ms.\n"
                "CPU, ms per frame: user+system time of the whole process (the simulated device included);\n"
                "  CPU/frame over the whole run, thread start, connect and end included;\n"
                "  steady: the steady cycle only, then split by thread (poller, UI thread serving\n"
                "  the hand-offs, the simulated device).\n\n");
    for (const auto &r : results) {
        if (r.frames < 2) {
            std::printf("%s: too few frames to judge\n", r.name);
            continue;
        }
        const bool responsive = r.idealMs < 1000;
        // A silent device's frame waits out the reply window and one pause, and
        // at most one pause more for the look that notices the lapse.
        const double silentLow = SilentCycle.count(), silentHigh = silentLow + IterationPauseMs;
        const bool periodOk = responsive ? std::fabs(r.meanMs - r.idealMs) <= r.idealMs * 0.01
                                         : r.meanMs >= silentLow && r.meanMs <= silentHigh;
        std::printf("%s: mean period %s (%s); steady CPU %s (under 0.1 ms per frame)\n", r.name,
                    periodOk ? "on target" : "MISSES its target",
                    responsive ? "the ideal within 1%" : "the silent band",
                    r.steadyMsPerFrame < 0.1 ? "on target" : "MISSES its target");
        if (responsive && r.shown + 1 < static_cast<int>(r.frames))
            std::printf("%s: only %d of %zu replies were accepted\n", r.name, r.shown, r.frames);
    }
}

int Seconds(const char *text, const char *option)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 3600) {
        std::fprintf(stderr, "bench_cadence: %s needs seconds from 0 to 3600\n", option);
        std::exit(2);
    }
    return static_cast<int>(value);
}

} // namespace

int main(int argc, char **argv)
{
    int responsiveS = 30, silentS = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--responsive-s" || arg == "--silent-s") && i + 1 < argc) {
            (arg == "--responsive-s" ? responsiveS : silentS) = Seconds(argv[++i], arg.c_str());
        } else {
            std::printf("usage: bench_cadence [--responsive-s N] [--silent-s N]\n"
                        "  runs the polling thread against a device on 127.0.0.1 that answers every\n"
                        "  frame at once (default 30 s) and one that never answers (default 20 s);\n"
                        "  0 skips a run. Prints frames, periods and CPU time per frame.\n");
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
    }

    QCoreApplication app(argc, argv);
    Calibrate(app);

    std::vector<Result> results;
    if (responsiveS > 0) {
        std::printf("responsive device: %d s ...\n", responsiveS);
        std::fflush(stdout);
        const Device device;
        results.push_back(Run(app, "responsive", ResponsiveCycle.count(), device, seconds(responsiveS)));
    }
    if (silentS > 0) {
        std::printf("silent device: %d s ...\n", silentS);
        std::fflush(stdout);
        const Device device({.silent = true});
        results.push_back(Run(app, "silent", SilentCycle.count(), device, seconds(silentS)));
    }
    PrintTable(results);
    return 0;
}
