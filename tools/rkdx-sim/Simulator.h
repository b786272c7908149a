#pragma once

#include "DeviceModel.h"
#include "SimOptions.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumacast::sim {

// What the device saw, for whoever runs it in the same process.
struct SimRecord {
    struct Frame {
        std::string bytes;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Frame> frames; // every well-formed frame, in arrival order
    int connections = 0; // accepted
    int endsOfStream = 0; // connections that the peer ended in order
    int resets = 0; // connections that the peer reset, after its end of stream or instead of it
    std::size_t streamed = 0; // bytes sent by --stream
};

// The simulated device on sockets: the control port and the discovery
// responder, served by one thread that runs Run() until Stop().
class Simulator {
public:
    // Receives each log line, without its newline.
    using LogSink = std::function<void(const std::string &line)>;

    explicit Simulator(SimOptions options, LogSink log = {});
    // Stops and joins the thread of Start().
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
    // Opens the sockets (throwing as Open does) and runs Run() on a thread of
    // its own until Stop() or the destructor.
    void Start();
    // Any thread: makes Run() return soon.
    void Stop();
    // The thread of Start() has ended; Failure() says why when it failed.
    bool Ended() const { return threadEnded_; }
    std::string Failure() const;

    // Any thread: a copy of what the device has seen so far.
    SimRecord Record() const;

private:
    enum class ActionKind { Send, Close, Reset, Release };
    struct Action {
        ActionKind kind;
        std::string bytes;
    };

    Millis Now() const;
    void Log(const std::string &event);
    void Accept();
    void Serve(short revents);
    void ReadConnection();
    void Stream();
    void EndOfStream();
    void HandleFrame(const std::string &frame);
    void RunDueActions();
    void Send(const std::string &bytes);
    void DropConnection(const std::string &why, bool reset = false);
    void Release();
    void AnswerDiscovery(int fd);
    short ConnectionEvents() const;

    SimOptions options_;
    LogSink log_;
    std::chrono::steady_clock::time_point start_;
    int wakeFd_ = -1;
    int listenFd_ = -1;
    int udpFd_ = -1;
    int broadcastFd_ = -1; // a device of a fleet: the wildcard address, for broadcasts
    std::vector<int> fillers_; // --stall: the connections that fill the accept queue
    std::uint16_t controlPort_ = 0;
    std::uint16_t discoveryPort_ = 0;

    DeviceModel device_;
    // The current connection.
    int connFd_ = -1;
    std::string peer_;
    FrameCutter cutter_;
    std::uint64_t connectionSerial_ = 0; // counts accepted connections, to tell them apart
    int framesOnConnection_ = 0;
    std::size_t streamed_ = 0; // by --stream on this connection
    bool closing_ = false;
    bool endOfStream_ = false; // the peer ended its side; held a while to see whether a reset follows
    std::multimap<Millis, Action> actions_; // due time -> action, in order

    mutable std::mutex recordMutex_;
    SimRecord record_;

    std::thread thread_;
    std::atomic<bool> threadEnded_{false};
    std::string failure_; // under recordMutex_
};

} // namespace lumacast::sim
