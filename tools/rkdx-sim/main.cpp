#include "SimOptions.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <exception>

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
        simulator.Start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "rkdx-sim: %s\n", e.what());
        return 1;
    }

    const timespec tick{0, 200'000'000};
    while (!simulator.Ended()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM)
            break;
    }
    simulator.Stop();
    if (const std::string failure = simulator.Failure(); !failure.empty()) {
        std::fprintf(stderr, "rkdx-sim: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
