#include "SimOptions.h"
#include "Simulator.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>

using namespace lumacast::sim;

namespace {

std::mutex logMutex;

// Writes one log line whole, whichever device's thread it comes from; the
// devices of a fleet are named after the seconds.
Simulator::LogSink LineWriter(std::string device)
{
    return [device = std::move(device)](const std::string &line) {
        const std::lock_guard lock(logMutex);
        if (device.empty()) {
            std::fputs(line.c_str(), stdout);
        } else {
            const auto space = std::min(line.find(' '), line.size());
            std::fwrite(line.data(), 1, space, stdout);
            std::fprintf(stdout, " [%s]", device.c_str());
            std::fputs(line.c_str() + space, stdout);
        }
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto parsed = ParseOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "rkdx-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(HelpText("rkdx-sim").c_str(), stdout);
        return 0;
    }

    // The signals are taken by sigtimedwait below, never by a handler, so the
    // serving threads are stopped from ordinary code.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<Simulator>> devices;
    if (parsed.options->devices.empty()) {
        devices.push_back(std::make_unique<Simulator>(*parsed.options, LineWriter({})));
    } else {
        for (const auto &address : parsed.options->devices) {
            SimOptions options = *parsed.options;
            options.bind = address;
            options.answerBroadcasts = true;
            devices.push_back(std::make_unique<Simulator>(options, LineWriter(address)));
        }
    }
    try {
        for (auto &device : devices)
            device->Start();
    } catch (const std::exception &e) {
        // The devices started so far are stopped by their destructors.
        std::fprintf(stderr, "rkdx-sim: %s\n", e.what());
        return 1;
    }

    const timespec tick{0, 200'000'000};
    auto anyEnded = [&] {
        return std::any_of(devices.begin(), devices.end(), [](const auto &d) { return d->Ended(); });
    };
    while (!anyEnded()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM)
            break;
    }
    int code = 0;
    for (auto &device : devices)
        device->Stop();
    for (auto &device : devices) {
        if (const std::string failure = device->Failure(); !failure.empty()) {
            std::fprintf(stderr, "rkdx-sim: %s\n", failure.c_str());
            code = 1;
        }
    }
    return code;
}
