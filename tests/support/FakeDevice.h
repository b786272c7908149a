#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumacast::test {

// An in-process device on 127.0.0.1 and an ephemeral port: accepts one
// connection at a time, cuts the byte stream into 9-byte frames and answers
// each as `answer` says; or, as a hostile device, streams without pause or
// never reads at all.
class FakeDevice {
public:
    enum class Behaviour {
        Frames, // reads frames and answers them
        Streams, // never reads; sends status replies padded to 64 KiB, without pause
        NeverReads, // holds the connection and neither reads nor sends
    };

    struct Frame {
        std::string bytes;
        std::chrono::steady_clock::time_point at;
    };
    // What to send back for a frame (nothing: stay silent).
    using Answer = std::function<std::optional<std::string>(const std::string &frame, int index)>;

    explicit FakeDevice(Answer answer = {});
    // A hostile device; a streaming one stops after `streamLimit` bytes.
    explicit FakeDevice(Behaviour behaviour, std::size_t streamLimit = SIZE_MAX);
    ~FakeDevice();

    std::uint16_t port() const { return port_; }

    std::vector<Frame> frames() const;
    int connections() const;
    bool sawEndOfStream() const;
    // Bytes a streaming device has sent.
    std::size_t sent() const { return sent_; }

    // Waits up to `timeout` for `count` frames; true when they came.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    bool waitForEndOfStream(std::chrono::milliseconds timeout) const;

    // Ends the current connection: an orderly close or a reset.
    void closeConnection(bool reset = false);

    // A well-formed reply carrying the four status characters.
    static std::string reply(const std::string &status4);

private:
    void serve();
    void send(const std::string &bytes);

    FakeDevice(Answer answer, Behaviour behaviour, std::size_t streamLimit);
    void stream();

    const Answer answer_;
    const Behaviour behaviour_;
    const std::size_t streamLimit_;
    std::atomic<std::size_t> sent_{0};
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int connFd_ = -1;
    bool closeRequested_ = false;
    bool resetRequested_ = false;
    bool stopping_ = false;
    std::vector<Frame> frames_;
    int connections_ = 0;
    bool endOfStream_ = false;
    std::thread thread_;
};

} // namespace lumacast::test
