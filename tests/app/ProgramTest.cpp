// The built program as a process: one copy per login session. (What it does
// on a screen is the end-to-end suite's.) Runs only inside a private network
// namespace, since the program broadcasts.
#include "support/UdpPeer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <set>
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

long Ms(Clock::duration d)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// A started program; its output goes to `log`.
struct Process {
    pid_t pid = -1;
    std::string log;
};

std::vector<std::string> Environment(const std::map<std::string, std::string> &set)
{
    // The desktop the tests run on is none of the program's business.
    const std::set<std::string> desktop = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"};
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (set.count(name) == 0 && desktop.count(name) == 0)
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

// Gives the calling process an audit session of its own, as a logon does;
// false where the system keeps none or we may not.
bool NewLogon()
{
    const int fd = ::open("/proc/self/loginuid", O_WRONLY | O_CLOEXEC);
    const std::string uid = std::to_string(::getuid());
    const bool written = fd >= 0 && ::write(fd, uid.data(), uid.size()) == static_cast<ssize_t>(uid.size());
    if (fd >= 0)
        ::close(fd);
    return written;
}

// The audit session of process `pid` ("self" for this one), if it has one.
std::optional<std::string> AuditSession(const std::string &pid = "self")
{
    std::ifstream in("/proc/" + pid + "/sessionid");
    std::string id;
    if (!(in >> id) || id == "4294967295")
        return std::nullopt;
    return id;
}

// How a copy is started besides its environment.
struct Launch {
    int gate = -1; // the child waits until the gate's write end is closed
    int gateWrite = -1;
    bool newLogon = false; // in an audit session of its own
    rlim_t softFiles = 0, hardFiles = 0; // the open files it may have; 0: as ours
};

// Starts `argv` with `env`; with a gate, many copies start in the same instant.
pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &log,
            const Launch &launch = {})
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
        if (launch.gate >= 0) {
            ::close(launch.gateWrite);
            char c;
            while (::read(launch.gate, &c, 1) < 0 && errno == EINTR) { }
        }
        if (launch.newLogon && !NewLogon())
            ::_exit(126);
        if (launch.softFiles != 0) {
            const rlimit files{launch.softFiles, launch.hardFiles};
            if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
                ::_exit(125);
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
std::optional<int> WaitExit(pid_t pid, std::chrono::milliseconds timeout)
{
    int status = 0;
    pid_t r = 0;
    WaitUntil([&] { return (r = ::waitpid(pid, &status, WNOHANG)) != 0; }, timeout, Serving::Nothing);
    return r == pid ? std::optional<int>(status) : std::nullopt;
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// True when some process holds a whole-file lock on `path`, seen without taking it.
bool LockHeld(const std::string &path)
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

bool ExitedZero(const std::optional<int> &status)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!InPrivateNetwork())
            GTEST_SKIP() << "needs a private network namespace (run the suite through ctest in one)";
        ASSERT_TRUE(runtime_.isValid());
        ASSERT_TRUE(requests_.Ok()) << "the discovery port is taken";
        ::chmod(runtime_.path().toLocal8Bit().constData(), 0700);
        // The kernel's audit session names the guard where there is one: a
        // fresh one per test where we may, like a logon of its own.
        logons_ = NewLogon();
        audit_ = AuditSession();
        guard_ = GuardIn(runtime_.path().toStdString(), audit_.value_or(session_));
        fallback_ =
            PrivateFolder(systemRuntime_) ? systemRuntime_ : "/tmp/lumacast2-" + std::to_string(::geteuid());
    }

    static bool PrivateFolder(const std::string &path)
    {
        struct stat st { };
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 077) == 0;
    }

    // A session of our own, so that no copy outside the test meets the guard.
    static std::string GuardIn(const std::string &folder, const std::string &id)
    {
        return folder + "/LUMACAST 2 FOR RK-DX420.session-" + id + ".lock";
    }

    void TearDown() override
    {
        for (pid_t pid : started_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::unlink(GuardIn(fallback_, audit_.value_or(session_)).c_str());
    }

    virtual std::map<std::string, std::string> Variables() const
    {
        return {{"XDG_RUNTIME_DIR", runtime_.path().toStdString()},
                {"XDG_SESSION_ID", session_},
                {"QT_QPA_PLATFORM", "offscreen"}};
    }

    Process Start(const Launch &launch = {}, const std::map<std::string, std::string> &change = {},
                  const std::vector<std::string> &argv = {LC_APP_BINARY})
    {
        Process p;
        p.log = runtime_.filePath(QStringLiteral("out-%1.log").arg(counter_++)).toStdString();
        auto set = Variables();
        for (const auto &[name, value] : change)
            set[name] = value;
        p.pid = Spawn(argv, Environment(set), p.log, launch);
        started_.push_back(p.pid);
        return p;
    }

    // The exit status, forgetting the process once it has ended.
    std::optional<int> Reap(const Process &p, std::chrono::milliseconds timeout)
    {
        auto status = WaitExit(p.pid, timeout);
        if (status)
            std::erase(started_, p.pid);
        return status;
    }

    bool Running(const Process &p) { return ::waitpid(p.pid, nullptr, WNOHANG) == 0; }

    // A copy has opened its window: its discovery request came. (Copies run
    // one at a time, so the port is the test's.)
    bool WindowOpened()
    {
        const auto got = requests_.Receive(10s);
        return got && got->data.size() == 64;
    }

    UdpPeer requests_{"0.0.0.0", 54321};
    QTemporaryDir runtime_;
    const std::string session_ = "t" + std::to_string(::getpid());
    const std::string systemRuntime_ = "/run/user/" + std::to_string(::geteuid());
    bool logons_ = false; // copies can be given logons of their own
    std::optional<std::string> audit_;
    // The next private folder when the runtime folder cannot keep the guard.
    std::string fallback_;
    std::string guard_;
    std::vector<pid_t> started_;
    int counter_ = 0;
};

TEST_F(ProgramTest, ASecondCopyGivesWayAtOnceSilentlyAndLeavesTheFirstRunning)
{
    const Process first = Start();
    ASSERT_TRUE(WaitUntil([&] { return LockHeld(guard_); }, 10s));
    for (int i = 0; i < 3; ++i) {
        const auto begin = Clock::now();
        const Process second = Start();
        const auto status = Reap(second, 5s);
        const auto took = Clock::now() - begin;
        ASSERT_TRUE(ExitedZero(status));
        EXPECT_LT(took, 2s);
        EXPECT_EQ(ReadAll(second.log), "");
        RecordProperty("give_way_ms_" + std::to_string(i), std::to_string(Ms(took)));
        std::printf("second copy gave way after %ld ms\n", Ms(took));
    }
    EXPECT_TRUE(Running(first));
    EXPECT_TRUE(LockHeld(guard_));

    // Another login session of the same user runs its own copy.
    if (audit_ && !logons_)
        GTEST_SKIP() << "no logon of its own for another copy here";
    const std::string other = session_ + "b";
    const Process beside = Start({.newLogon = logons_}, {{"XDG_SESSION_ID", other}});
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto id =
                logons_ ? AuditSession(std::to_string(beside.pid)) : std::optional<std::string>(other);
            return id && *id != audit_ && LockHeld(GuardIn(runtime_.path().toStdString(), *id));
        },
        10s));
    EXPECT_TRUE(Running(beside));
    EXPECT_TRUE(Running(first));
}

TEST_F(ProgramTest, CopiesStartedInTheSameInstantLeaveExactlyOneRunning)
{
    constexpr int Copies = 6;
    for (int round = 0; round < 3; ++round) {
        ::unlink(guard_.c_str());
        int gate[2];
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<Process> copies;
        copies.reserve(Copies);
        for (int i = 0; i < Copies; ++i)
            copies.push_back(Start({.gate = gate[0], .gateWrite = gate[1]}));
        ::close(gate[0]);
        ::close(gate[1]); // all go

        int gaveWay = 0;
        std::vector<Process> left = copies;
        WaitUntil(
            [&] {
                for (auto it = left.begin(); it != left.end();) {
                    if (const auto status = Reap(*it, 0ms)) {
                        EXPECT_TRUE(ExitedZero(status));
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
        EXPECT_TRUE(WindowOpened()) << "round " << round;
        EXPECT_TRUE(Running(left[0]));
        ::kill(left[0].pid, SIGKILL);
        Reap(left[0], 5s);
    }
}

TEST_F(ProgramTest, TheGuardGoesWithACrashedCopy)
{
    const Process first = Start();
    ASSERT_TRUE(WaitUntil([&] { return LockHeld(guard_); }, 10s));
    ::kill(first.pid, SIGKILL);
    ASSERT_TRUE(Reap(first, 5s));
    while (requests_.Receive(0ms)) { } // whatever the first copy sent
    const Process next = Start();
    ASSERT_TRUE(WaitUntil([&] { return LockHeld(guard_); }, 10s));
    EXPECT_TRUE(WindowOpened());
    EXPECT_TRUE(Running(next));
}

TEST_F(ProgramTest, WhatBlocksTheGuardFileSendsItToTheNextPrivateFolder)
{
    ASSERT_EQ(::mkdir(guard_.c_str(), 0700), 0); // a folder where the file should be
    const Process first = Start();
    ASSERT_TRUE(WaitUntil([&] { return LockHeld(GuardIn(fallback_, audit_.value_or(session_))); }, 10s));
    const Process second = Start();
    EXPECT_TRUE(ExitedZero(Reap(second, 5s)));
    EXPECT_TRUE(Running(first));
}

TEST_F(ProgramTest, CopiesOfOneLogonMeetWhateverTheirEnvironmentSays)
{
    // The system's runtime folder of the user, made for the test where it is missing.
    const bool madeRuntime = ::geteuid() == 0 && ::mkdir(systemRuntime_.c_str(), 0700) == 0;
    const struct {
        const char *what;
        bool runs;
        std::map<std::string, std::string> first, second;
        std::string guardFolder;
    } cases[] = {
        {"without the session's name",
         audit_.has_value(),
         {},
         {{"XDG_SESSION_ID", ""}},
         runtime_.path().toStdString()},
        {"without the runtime folder's name",
         PrivateFolder(systemRuntime_),
         {{"XDG_RUNTIME_DIR", systemRuntime_}},
         {{"XDG_RUNTIME_DIR", ""}},
         systemRuntime_},
    };
    for (const auto &c : cases) {
        if (!c.runs) {
            std::printf("skipped here: %s\n", c.what);
            continue;
        }
        const std::string held = GuardIn(c.guardFolder, audit_.value_or(session_));
        const Process first = Start({}, c.first);
        ASSERT_TRUE(WaitUntil([&] { return LockHeld(held); }, 10s)) << c.what;
        const Process second = Start({}, c.second);
        EXPECT_TRUE(ExitedZero(Reap(second, 5s))) << c.what;
        ::kill(first.pid, SIGKILL);
        Reap(first, 5s);
        if (c.guardFolder == systemRuntime_)
            ::unlink(held.c_str());
    }
    if (madeRuntime)
        ::rmdir(systemRuntime_.c_str());
}

TEST_F(ProgramTest, WithoutADisplayOneLineSaysWhatIsMissingAndTheStatusIsOne)
{
    const struct {
        std::map<std::string, std::string> change;
        std::string reason;
    } cases[] = {
        {{{"QT_QPA_PLATFORM", ""}}, "DISPLAY is not set"},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":7777"}}, "the X display :7777 cannot be reached"},
        {{{"QT_QPA_PLATFORM", "bogus"}}, "no display platform \"bogus\" is installed (QT_QPA_PLATFORM)"},
    };
    for (const auto &c : cases) {
        const Process p = Start({}, c.change);
        const auto status = Reap(p, 10s);
        ASSERT_TRUE(status) << c.reason;
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << c.reason << ": status " << *status;
        EXPECT_EQ(ReadAll(p.log), "lumacast2: cannot open a display: " + c.reason + "\n");
    }
}

TEST_F(ProgramTest, ALowLimitOnOpenFilesIsRaisedAndOneTooLowToRaiseEndsTheStart)
{
    rlimit ours{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &ours), 0);
    ASSERT_GE(ours.rlim_max, 1024u);

    // Room for the guard and little else: raised, the program runs on.
    const Process raised = Start({.softFiles = 12, .hardFiles = ours.rlim_max});
    ASSERT_TRUE(WaitUntil([&] { return LockHeld(guard_); }, 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(Running(raised));
    const std::string limits = ReadAll("/proc/" + std::to_string(raised.pid) + "/limits");
    EXPECT_NE(limits.find("Max open files            1024"), std::string::npos) << limits;
    ::kill(raised.pid, SIGKILL);
    Reap(raised, 5s);

    // Not allowed any more: one line, status 1, before any window.
    const Process low = Start({.softFiles = 12, .hardFiles = 12});
    const auto status = Reap(low, 10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << "status " << *status;
    const std::string line = ReadAll(low.log);
    EXPECT_TRUE(line.starts_with("lumacast2: cannot start: 12 open files are allowed, the panel needs "))
        << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
}

} // namespace
