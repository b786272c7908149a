// The built program as a process: one copy per login session, and a prompt end.
// Runs only inside a private network namespace (the program broadcasts).
#include "support/Rows.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef LC_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

extern char **environ;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

long ms(Clock::duration d)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// A started program; its output goes to `log`.
struct Process {
    pid_t pid = -1;
    std::string log;
};

std::vector<std::string> environment(const std::map<std::string, std::string> &set)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (set.count(entry.substr(0, entry.find('='))) == 0)
            env.push_back(entry);
    }
    for (const auto &[name, value] : set) {
        std::string entry = name;
        entry += '=';
        entry += value;
        env.push_back(std::move(entry));
    }
    return env;
}

// Starts `argv` with `env`; with `gate`, the child waits until the gate's
// write end is closed, so that many copies start in the same instant.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &log,
            int gate = -1, int gateWrite = -1)
{
    std::vector<char *> args, envp;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const auto &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (gate >= 0) {
            ::close(gateWrite);
            char c;
            while (::read(gate, &c, 1) < 0 && errno == EINTR) { }
        }
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    return pid;
}

// The exit status once the process has ended within `timeout`.
std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 || Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(1ms);
    }
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// True when some process holds a whole-file lock on `path`, seen without taking it.
bool lockHeld(const std::string &path)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return false;
    std::ifstream locks("/proc/locks");
    std::string line;
    const std::string inode = ":" + std::to_string(st.st_ino);
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string f[6];
        for (auto &x : f)
            fields >> x;
        if (f[1] == "FLOCK" && f[5].size() > inode.size() &&
            f[5].compare(f[5].size() - inode.size(), inode.size(), inode) == 0)
            return true;
    }
    return false;
}

template <typename F> bool waitUntil(F condition, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// True while a connect attempt to 127.0.0.1:50000 waits for its answer.
bool connectPending()
{
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, st;
        fields >> slot >> local >> remote >> st;
        if (remote == "0100007F:C350" && st == "02") // SYN_SENT
            return true;
    }
    return false;
}

bool exitedZero(const std::optional<int> &status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!lumacast::test::InPrivateNetwork())
            GTEST_SKIP() << "needs a private network namespace (run the suite through ctest in one)";
        ASSERT_TRUE(runtime.isValid());
        ::chmod(runtime.path().toLocal8Bit().constData(), 0700);
        guard = guardIn(runtime.path().toStdString(), session);
    }

    // A session of our own, so that no copy outside the test meets the guard.
    static std::string guardIn(const std::string &folder, const std::string &id)
    {
        return folder + "/LUMACAST 2 FOR RK-DX420.session-" + id + ".lock";
    }

    void TearDown() override
    {
        for (pid_t pid : started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::unlink(guardIn(fallback, session).c_str());
    }

    virtual std::map<std::string, std::string> variables() const
    {
        return {{"XDG_RUNTIME_DIR", runtime.path().toStdString()},
                {"XDG_SESSION_ID", session},
                {"QT_QPA_PLATFORM", "offscreen"}};
    }

    Process start(int gate = -1, int gateWrite = -1, const std::map<std::string, std::string> &change = {})
    {
        Process p;
        p.log = runtime.filePath(QStringLiteral("out-%1.log").arg(counter++)).toStdString();
        auto set = variables();
        for (const auto &[name, value] : change)
            set[name] = value;
        p.pid = spawn({LC_APP_BINARY}, environment(set), p.log, gate, gateWrite);
        started.push_back(p.pid);
        return p;
    }

    // The exit status, forgetting the process once it has ended.
    std::optional<int> reap(const Process &p, std::chrono::milliseconds timeout)
    {
        auto status = waitExit(p.pid, timeout);
        if (status)
            std::erase(started, p.pid);
        return status;
    }

    bool running(const Process &p) { return ::waitpid(p.pid, nullptr, WNOHANG) == 0; }

    QTemporaryDir runtime;
    const std::string session = "t" + std::to_string(::getpid());
    // The next private folder when the runtime folder cannot keep the guard.
    const std::string fallback = "/tmp/lumacast2-" + std::to_string(::geteuid());
    std::string guard;
    std::vector<pid_t> started;
    int counter = 0;
};

TEST_F(ProgramTest, ASecondCopyGivesWayAtOnceSilentlyAndLeavesTheFirstRunning)
{
    const Process first = start();
    ASSERT_TRUE(waitUntil([&] { return lockHeld(guard); }, 10s));
    for (int i = 0; i < 3; ++i) {
        const auto begin = Clock::now();
        const Process second = start();
        const auto status = reap(second, 5s);
        const auto took = Clock::now() - begin;
        ASSERT_TRUE(exitedZero(status));
        EXPECT_LT(took, 2s);
        EXPECT_EQ(readAll(second.log), "");
        RecordProperty("give_way_ms_" + std::to_string(i), std::to_string(ms(took)));
        std::printf("second copy gave way after %ld ms\n", ms(took));
    }
    EXPECT_TRUE(running(first));
    EXPECT_TRUE(lockHeld(guard));

    // Another login session of the same user runs its own copy.
    const std::string other = session + "b";
    const Process beside = start(-1, -1, {{"XDG_SESSION_ID", other}});
    ASSERT_TRUE(waitUntil([&] { return lockHeld(guardIn(runtime.path().toStdString(), other)); }, 10s));
    EXPECT_TRUE(running(beside));
    EXPECT_TRUE(running(first));
}

TEST_F(ProgramTest, CopiesStartedInTheSameInstantLeaveExactlyOneRunning)
{
    constexpr int Copies = 6;
    for (int round = 0; round < 3; ++round) {
        ::unlink(guard.c_str());
        int gate[2];
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<Process> copies;
        copies.reserve(Copies);
        for (int i = 0; i < Copies; ++i)
            copies.push_back(start(gate[0], gate[1]));
        ::close(gate[0]);
        ::close(gate[1]); // all go

        int gaveWay = 0;
        std::vector<Process> left = copies;
        waitUntil(
            [&] {
                for (auto it = left.begin(); it != left.end();) {
                    if (const auto status = reap(*it, 0ms)) {
                        EXPECT_TRUE(exitedZero(status));
                        ++gaveWay;
                        it = left.erase(it);
                    } else {
                        ++it;
                    }
                }
                return gaveWay >= Copies - 1;
            },
            5s);
        EXPECT_EQ(gaveWay, Copies - 1) << "round " << round;
        ASSERT_EQ(left.size(), 1u) << "round " << round;
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(running(left[0]));
        ::kill(left[0].pid, SIGKILL);
        reap(left[0], 5s);
    }
}

TEST_F(ProgramTest, TheGuardGoesWithACrashedCopy)
{
    const Process first = start();
    ASSERT_TRUE(waitUntil([&] { return lockHeld(guard); }, 10s));
    ::kill(first.pid, SIGKILL);
    ASSERT_TRUE(reap(first, 5s));
    const Process next = start();
    ASSERT_TRUE(waitUntil([&] { return lockHeld(guard); }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(running(next));
}

TEST_F(ProgramTest, WhatBlocksTheGuardFileSendsItToTheNextPrivateFolder)
{
    ASSERT_EQ(::mkdir(guard.c_str(), 0700), 0); // a folder where the file should be
    const Process first = start();
    ASSERT_TRUE(waitUntil([&] { return lockHeld(guardIn(fallback, session)); }, 10s));
    const Process second = start();
    EXPECT_TRUE(exitedZero(reap(second, 5s)));
    EXPECT_TRUE(running(first));
}

#ifdef LC_HAVE_X11

const char *const WindowCaption = "Lumacast2 For RK-DX420 Ver.1.00";

// A device on 127.0.0.1:50000 (the program's own port, ours inside the
// namespace): answers each frame, keeps silent, or never accepts at all.
class LoopbackDevice {
public:
    enum class Mode { Answering, Silent, NeverAnswers };

    explicit LoopbackDevice(Mode mode) : mode_(mode)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(50000);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = ::bind(listen_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
            ::listen(listen_, 0) == 0;
        if (!ok_)
            return;
        if (mode_ == Mode::NeverAnswers) {
            // A full queue: the kernel drops every further handshake.
            for (int i = 0; i < 4; ++i) {
                const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                // Non-blocking: "in progress" is the expected result.
                (void)::connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
                fillers_.push_back(c);
            }
            std::this_thread::sleep_for(100ms);
            return;
        }
        thread_ = std::thread([this] { serve(); });
    }

    ~LoopbackDevice()
    {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        for (int c : fillers_)
            ::close(c);
        ::close(listen_);
    }

    bool ok() const { return ok_; }
    int frames() const { return frames_; }
    bool endOfStream() const { return endOfStream_; }
    int framesAfterEnd() const { return framesAfterEnd_; }

private:
    void serve()
    {
        const int conn = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            return;
        timeval tv{0, 50000};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string pending;
        while (!stop_) {
            char buf[256];
            const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
            if (n == 0) {
                endOfStream_ = true;
                break;
            }
            if (n < 0)
                continue;
            pending.append(buf, static_cast<size_t>(n));
            while (pending.size() >= 9) {
                pending.erase(0, 9);
                ++frames_;
                if (mode_ == Mode::Answering) {
                    const char reply[] = "@c110010000";
                    ::send(conn, reply, 12, MSG_NOSIGNAL);
                }
            }
        }
        if (endOfStream_) {
            char buf[64];
            std::this_thread::sleep_for(400ms);
            while (::recv(conn, buf, sizeof buf, MSG_DONTWAIT) > 0)
                ++framesAfterEnd_;
        }
        ::close(conn);
    }

    Mode mode_;
    int listen_ = -1;
    bool ok_ = false;
    std::vector<int> fillers_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> frames_{0};
    std::atomic<bool> endOfStream_{false};
    std::atomic<int> framesAfterEnd_{0};
};

// The program on a virtual X server, closed the way a window manager closes it.
class ProgramEndTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        if (IsSkipped())
            return;
        if (::access("/usr/bin/Xvfb", X_OK) != 0)
            GTEST_SKIP() << "Xvfb is not installed";
        int fd[2];
        ASSERT_EQ(::pipe(fd), 0);
        const std::string log = runtime.filePath("xvfb.log").toStdString();
        xvfb = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fd[1]), "-nolisten", "tcp", "-screen",
                      "0", "1024x768x24"},
                     environment({}), log);
        ::close(fd[1]);
        char buf[16] = {};
        ssize_t n = 0;
        for (ssize_t r; n < 15 && (r = ::read(fd[0], buf + n, 15 - n)) > 0;) {
            n += r;
            if (std::memchr(buf, '\n', n))
                break;
        }
        ::close(fd[0]);
        ASSERT_GT(n, 0) << readAll(log);
        display = ":" + std::string(buf, std::strcspn(buf, "\n"));
        x = XOpenDisplay(display.c_str());
        ASSERT_NE(x, nullptr);
    }

    void TearDown() override
    {
        ProgramTest::TearDown();
        if (x != nullptr)
            XCloseDisplay(x);
        if (xvfb > 0) {
            ::kill(xvfb, SIGTERM);
            ::waitpid(xvfb, nullptr, 0);
        }
    }

    std::map<std::string, std::string> variables() const override
    {
        return {{"XDG_RUNTIME_DIR", runtime.path().toStdString()},
                {"QT_QPA_PLATFORM", "xcb"},
                {"DISPLAY", display}};
    }

    Window findWindow(Window parent)
    {
        Window root, up, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(x, parent, &root, &up, &children, &count))
            return 0;
        for (unsigned i = 0; i < count && found == 0; ++i) {
            char *name = nullptr;
            XWindowAttributes attrs{};
            if (XFetchName(x, children[i], &name) && name != nullptr &&
                std::strcmp(name, WindowCaption) == 0 && XGetWindowAttributes(x, children[i], &attrs) &&
                attrs.map_state == IsViewable)
                found = children[i];
            if (name)
                XFree(name);
            if (found == 0)
                found = findWindow(children[i]);
        }
        if (children)
            XFree(children);
        return found;
    }

    Window waitForWindow()
    {
        Window w = 0;
        waitUntil([&] { return (w = findWindow(DefaultRootWindow(x))) != 0; }, 15s);
        return w;
    }

    // The square sizes of the icons the window offers to a taskbar, in order.
    std::vector<int> iconSizes(Window w)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        std::vector<int> sizes;
        if (XGetWindowProperty(x, w, XInternAtom(x, "_NET_WM_ICON", False), 0, 1 << 20, False, XA_CARDINAL,
                               &type, &format, &count, &after, &data) != Success)
            return sizes;
        const auto *values = reinterpret_cast<const unsigned long *>(data);
        for (unsigned long i = 0; i + 2 <= count;) {
            const unsigned long width = values[i], height = values[i + 1];
            sizes.push_back(width == height ? static_cast<int>(width) : -1);
            i += 2 + width * height;
        }
        if (data)
            XFree(data);
        return sizes;
    }

    // The window manager's close: WM_DELETE_WINDOW.
    void closeWindow(Window w)
    {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(x, w, False, NoEventMask, &ev);
        XFlush(x);
    }

    bool xdotool(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{"/usr/bin/xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid =
            spawn(argv, environment({{"DISPLAY", display}}), runtime.filePath("xdotool.log").toStdString());
        return exitedZero(waitExit(pid, 10s));
    }

    // Types the address into the address field and presses CONNECT.
    bool connectTo(Window w, const std::string &address)
    {
        if (::access("/usr/bin/xdotool", X_OK) != 0)
            return false;
        int left = 0, top = 0;
        Window child;
        XTranslateCoordinates(x, w, DefaultRootWindow(x), 0, 0, &left, &top, &child);
        XSetInputFocus(x, w, RevertToParent, CurrentTime);
        XFlush(x);
        auto at = [&](int dx, int dy) {
            return std::vector<std::string>{
                "mousemove", "--sync", std::to_string(left + dx), std::to_string(top + dy), "click", "1"};
        };
        return xdotool(at(150, 26)) && xdotool({"key", "ctrl+a", "BackSpace"}) &&
            xdotool({"type", "--delay", "10", address}) && xdotool(at(371, 26));
    }

    // Closes the window and returns how long the process took to be gone.
    std::optional<std::chrono::milliseconds> closeAndTime(const Process &p, Window w)
    {
        const auto begin = Clock::now();
        closeWindow(w);
        const auto status = reap(p, 10s);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
        EXPECT_TRUE(exitedZero(status)) << readAll(p.log);
        if (!status)
            return std::nullopt;
        return took;
    }

    pid_t xvfb = -1;
    std::string display;
    Display *x = nullptr;
};

// Generous for slow and instrumented builds; the figures are printed.
constexpr auto EndBound = 1500ms;

enum class State { Idle, Discovering, ConnectingForever, ConnectedSilent, ConnectedAnswering };

struct EndCase : lumacast::test::Row {
    State state;
};

class ProgramEndStateTest : public ProgramEndTest, public testing::WithParamInterface<EndCase> { };

TEST_P(ProgramEndStateTest, ClosingTheWindowEndsTheProcessPromptly)
{
    const State state = GetParam().state;
    std::optional<LoopbackDevice> device;
    if (state == State::ConnectingForever)
        device.emplace(LoopbackDevice::Mode::NeverAnswers);
    else if (state == State::ConnectedSilent)
        device.emplace(LoopbackDevice::Mode::Silent);
    else if (state == State::ConnectedAnswering)
        device.emplace(LoopbackDevice::Mode::Answering);
    if (device) {
        ASSERT_TRUE(device->ok()) << "port 50000 is taken in this namespace";
    }

    const Process p = start();
    const Window w = waitForWindow();
    ASSERT_NE(w, 0u) << readAll(p.log);

    switch (state) {
    case State::Idle:
        std::this_thread::sleep_for(2000ms); // past the first discovery window
        break;
    case State::Discovering:
        std::this_thread::sleep_for(200ms);
        break;
    case State::ConnectingForever:
        std::this_thread::sleep_for(1600ms);
        if (!connectTo(w, "127.0.0.1"))
            GTEST_SKIP() << "xdotool could not drive the window";
        ASSERT_TRUE(waitUntil(connectPending, 5s));
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(connectPending());
        break;
    case State::ConnectedSilent:
    case State::ConnectedAnswering:
        std::this_thread::sleep_for(1600ms);
        if (!connectTo(w, "127.0.0.1"))
            GTEST_SKIP() << "xdotool could not drive the window";
        ASSERT_TRUE(waitUntil([&] { return device->frames() >= 2; }, 10s)) << readAll(p.log);
        break;
    }

    const auto took = closeAndTime(p, w);
    ASSERT_TRUE(took);
    std::printf("%s: gone %ld ms after the close\n", GetParam().name, static_cast<long>(took->count()));
    RecordProperty("close_to_exit_ms", std::to_string(took->count()));
    EXPECT_LT(*took, EndBound);

    if (state == State::ConnectedSilent || state == State::ConnectedAnswering) {
        ASSERT_TRUE(waitUntil([&] { return device->endOfStream(); }, 2s));
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(device->framesAfterEnd(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(States, ProgramEndStateTest,
                         testing::Values(EndCase{"Idle", State::Idle},
                                         EndCase{"Discovering", State::Discovering},
                                         EndCase{"ConnectingForever", State::ConnectingForever},
                                         EndCase{"ConnectedSilent", State::ConnectedSilent},
                                         EndCase{"ConnectedAnswering", State::ConnectedAnswering}),
                         lumacast::test::RowName());

TEST_F(ProgramEndTest, ACopyStartedWhileTheFirstIsEndingGivesWay)
{
    const Process first = start();
    const Window w = waitForWindow();
    ASSERT_NE(w, 0u);
    closeWindow(w);
    // Hold the first copy somewhere in its end, then start another.
    ::kill(first.pid, SIGSTOP);
    const Process second = start();
    EXPECT_TRUE(exitedZero(reap(second, 5s)));
    ::kill(first.pid, SIGCONT);
    EXPECT_TRUE(exitedZero(reap(first, 5s)));
    // Now the guard is free again.
    const Process third = start();
    EXPECT_NE(waitForWindow(), 0u);
    EXPECT_TRUE(running(third));
}

TEST_F(ProgramEndTest, StartUpShowsTheWindowWithinMoments)
{
    const auto begin = Clock::now();
    const Process p = start();
    const Window w = waitForWindow();
    ASSERT_NE(w, 0u);
    const auto took = Clock::now() - begin;
    std::printf("window shown %ld ms after the start\n", ms(took));
    RecordProperty("start_to_window_ms", std::to_string(ms(took)));
    EXPECT_LT(took, 10s);
    XWindowAttributes attrs{};
    XGetWindowAttributes(x, w, &attrs);
    EXPECT_EQ(attrs.width, 434);
    EXPECT_EQ(attrs.height, 182);
    EXPECT_EQ(iconSizes(w), (std::vector<int>{128, 96, 64, 48, 32}));
    EXPECT_TRUE(closeAndTime(p, w));
}

#endif // LC_HAVE_X11

} // namespace
