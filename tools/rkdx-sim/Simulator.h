#pragma once

#include "DeviceModel.h"
#include "SimOptions.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace lumacast::sim {

// The simulated device on sockets: the control port and the discovery
// responder, served by one thread that runs Run() until Stop().
class Simulator {
public:
    // Receives each log line, without its newline.
    using LogSink = std::function<void(const std::string &line)>;

    Simulator(SimOptions options, LogSink log);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the sockets; throws std::runtime_error saying what failed.
    void Open();
    // The ports actually bound (0 when that socket is not open).
    std::uint16_t ControlPort() const { return controlPort_; }
    std::uint16_t DiscoveryPort() const { return discoveryPort_; }

    // Serves until Stop() has been called.
    void Run();
    // Any thread: makes Run() return soon.
    void Stop();

private:
    enum class ActionKind { Send, Close, Reset };
    struct Action {
        ActionKind kind;
        std::string bytes;
    };

    Millis Now() const;
    void Log(const std::string &event);
    void Accept();
    void ReadConnection();
    void HandleFrame(const std::string &frame);
    void RunDueActions();
    void DropConnection(const std::string &why, bool reset = false);
    void AnswerDiscovery();

    SimOptions options_;
    LogSink log_;
    std::chrono::steady_clock::time_point start_;
    int wakeFd_ = -1;
    int listenFd_ = -1;
    int udpFd_ = -1;
    std::uint16_t controlPort_ = 0;
    std::uint16_t discoveryPort_ = 0;

    DeviceModel device_;
    // The current connection.
    int connFd_ = -1;
    std::string peer_;
    FrameCutter cutter_;
    int framesOnConnection_ = 0;
    bool closing_ = false;
    std::multimap<Millis, Action> actions_; // due time -> action, in order
};

} // namespace lumacast::sim
