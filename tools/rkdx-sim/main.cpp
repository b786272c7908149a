#include "SimOptions.h"
#include "Simulator.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <thread>

using namespace lumacast::sim;

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
    // serving thread is stopped from ordinary code.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Simulator simulator(*parsed.options, [](const std::string &line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    try {
        simulator.Open();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "rkdx-sim: %s\n", e.what());
        return 1;
    }

    std::atomic<bool> failed{false}, ended{false};
    std::thread server([&] {
        try {
            simulator.Run();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "rkdx-sim: %s\n", e.what());
            failed = true;
        }
        ended = true;
    });

    const timespec tick{0, 200'000'000};
    while (!ended) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            simulator.Stop();
            break;
        }
    }
    server.join();
    return failed ? 1 : 0;
}
