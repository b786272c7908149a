// The built program as a process: one copy per login session. (What it does
// on a screen is the end-to-end suite's.) Runs only inside a private network
// namespace, since the program broadcasts.
#include "support/UdpPeer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

using namespace std::chrono_literals;
using lumacast::test::InPrivateNetwork;
using lumacast::test::Serving;
using lumacast::test::UdpPeer;
using lumacast::test::WaitUntil;
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
    int status = 0;
    pid_t r = 0;
    WaitUntil([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, timeout, Serving::Nothing);
    return r == pid ? std::optional<int>(status) : std::nullopt;
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

bool exitedZero(const std::optional<int> &status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!InPrivateNetwork())
            GTEST_SKIP() << "needs a private network namespace (run the suite through ctest in one)";
        ASSERT_TRUE(runtime.isValid());
        ASSERT_TRUE(requests.ok()) << "the discovery port is taken";
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

    Process start(int gate = -1, int gateWrite = -1, const std::map<std::string, std::string> &change = {},
                  const std::vector<std::string> &argv = {LC_APP_BINARY})
    {
        Process p;
        p.log = runtime.filePath(QStringLiteral("out-%1.log").arg(counter++)).toStdString();
        auto set = variables();
        for (const auto &[name, value] : change)
            set[name] = value;
        p.pid = spawn(argv, environment(set), p.log, gate, gateWrite);
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

    // A copy has opened its window: its discovery request came. (Copies run
    // one at a time, so the port is the test's.)
    bool windowOpened()
    {
        const auto got = requests.receive(10s);
        return got && got->data.size() == 64;
    }

    UdpPeer requests{"0.0.0.0", 54321};
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
    ASSERT_TRUE(WaitUntil([&] { return lockHeld(guard); }, 10s));
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
    ASSERT_TRUE(WaitUntil([&] { return lockHeld(guardIn(runtime.path().toStdString(), other)); }, 10s));
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
        WaitUntil(
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
        EXPECT_TRUE(windowOpened()) << "round " << round;
        EXPECT_TRUE(running(left[0]));
        ::kill(left[0].pid, SIGKILL);
        reap(left[0], 5s);
    }
}

TEST_F(ProgramTest, TheGuardGoesWithACrashedCopy)
{
    const Process first = start();
    ASSERT_TRUE(WaitUntil([&] { return lockHeld(guard); }, 10s));
    ::kill(first.pid, SIGKILL);
    ASSERT_TRUE(reap(first, 5s));
    while (requests.receive(0ms)) { } // whatever the first copy sent
    const Process next = start();
    ASSERT_TRUE(WaitUntil([&] { return lockHeld(guard); }, 10s));
    EXPECT_TRUE(windowOpened());
    EXPECT_TRUE(running(next));
}

TEST_F(ProgramTest, WhatBlocksTheGuardFileSendsItToTheNextPrivateFolder)
{
    ASSERT_EQ(::mkdir(guard.c_str(), 0700), 0); // a folder where the file should be
    const Process first = start();
    ASSERT_TRUE(WaitUntil([&] { return lockHeld(guardIn(fallback, session)); }, 10s));
    const Process second = start();
    EXPECT_TRUE(exitedZero(reap(second, 5s)));
    EXPECT_TRUE(running(first));
}

} // namespace
