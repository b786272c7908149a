#include "platform/InstanceGuard.h"
#include "app/GuardScope.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <string>

using namespace lumacast;

namespace {

const std::string Name = "LUMACAST 2 FOR RK-DX420";

TEST(InstanceGuardTest, OneGuardPerSessionOrElseDisplay)
{
    const std::string longName(300, 'w');
    const struct {
        std::map<std::string, std::string> env;
        std::string expected;
        std::optional<std::uint32_t> audit = std::nullopt;
    } cases[] = {
        // The kernel's audit session comes first, whatever the environment says.
        {{{"XDG_SESSION_ID", "3"}, {"DISPLAY", ":0"}}, Name + ".session-7.lock", 7},
        {{{"DISPLAY", ":0"}}, Name + ".session-4294967294.lock", 4294967294u},
        {{{"XDG_SESSION_ID", "3"}, {"DISPLAY", ":0"}}, Name + ".session-3.lock"},
        {{{"XDG_SESSION_ID", "c12"}, {"QT_QPA_PLATFORM", "offscreen"}}, Name + ".session-c12.lock"},
        // Not a session name: the display decides.
        {{{"XDG_SESSION_ID", "../3"}, {"DISPLAY", ":1"}}, Name + ".display-:1.lock"},
        {{{"XDG_SESSION_ID", ""}, {"DISPLAY", ":1"}}, Name + ".display-:1.lock"},
        {{{"XDG_SESSION_ID", std::string(65, '1')}, {"DISPLAY", ":1"}}, Name + ".display-:1.lock"},
        {{{"DISPLAY", ":0.0"}}, Name + ".display-:0.lock"},
        {{{"DISPLAY", "unix:0.1"}}, Name + ".display-:0.lock"},
        {{{"DISPLAY", "host:10.0"}}, Name + ".display-host:10.lock"},
        {{{"DISPLAY", "../../x/..:0"}}, Name + ".display-%2E%2E%2F%2E%2E%2Fx%2F%2E%2E:0.lock"},
        {{{"QT_QPA_PLATFORM", "xcb"}, {"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":2"}},
         Name + ".display-:2.lock"},
        {{{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}}, Name + ".display-wayland-0.lock"},
        {{{"QT_QPA_PLATFORM", "xcb;wayland"}, {"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":3"}},
         Name + ".display-:3.lock"},
        {{{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":0"}},
         Name + ".display-wayland-1.lock"},
        {{{"QT_QPA_PLATFORM", "wayland-egl"}, {"WAYLAND_DISPLAY", "/run/x/../w"}},
         Name + ".display-%2Frun%2Fx%2F%2E%2E%2Fw.lock"},
        // No display to tell sessions apart: one guard for the user.
        {{{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":0"}}, Name + ".lock"},
        {{{"DISPLAY", "nonsense"}}, Name + ".lock"},
        {{}, Name + ".lock"},
    };
    for (const auto &c : cases) {
        const auto lookup = [&](const char *name) -> const char * {
            const auto it = c.env.find(name);
            return it != c.env.end() ? it->second.c_str() : nullptr;
        };
        EXPECT_EQ(InstanceGuardFileName(c.audit, lookup), c.expected) << c.expected;
    }

    // Long display names still give distinct names that fit in a folder.
    const auto longDisplay = [&](char last) {
        std::string name = longName + last;
        return InstanceGuardFileName(std::nullopt, [&](const char *variable) -> const char * {
            return std::string_view(variable) == "WAYLAND_DISPLAY" ||
                    std::string_view(variable) == "QT_QPA_PLATFORM"
                ? (variable[0] == 'Q' ? "wayland" : name.c_str())
                : nullptr;
        });
    };
    EXPECT_LE(longDisplay('a').size(), 255u);
    EXPECT_NE(longDisplay('a'), longDisplay('b'));
}

// The descriptor of this process that has `path` open, or -1.
int OpenDescriptorOf(const std::string &path)
{
    DIR *dir = ::opendir("/proc/self/fd");
    int found = -1;
    while (dirent *entry = ::readdir(dir)) {
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && path == target)
            found = std::atoi(entry->d_name);
    }
    ::closedir(dir);
    return found;
}

TEST(InstanceGuardTest, TakenOnceThenHeldForEveryLaterTry)
{
    QTemporaryDir dir;
    const GuardFolders folders{dir.path().toStdString(), "", "", ""};
    EXPECT_EQ(TakeInstanceGuard("guard.lock", folders), GuardOutcome::Taken);
    EXPECT_EQ(TakeInstanceGuard("guard.lock", folders), GuardOutcome::HeldElsewhere);
    EXPECT_EQ(TakeInstanceGuard("guard.lock", folders), GuardOutcome::HeldElsewhere);
    // Another scope is another guard.
    EXPECT_EQ(TakeInstanceGuard("other.lock", folders), GuardOutcome::Taken);

    // Kept on one descriptor that no started program inherits.
    const std::string path = folders.runtime + "/guard.lock";
    const int fd = OpenDescriptorOf(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
}

// Where the guard may end up: the runtime folder, the folder of our own under
// the temporary folder or the next name in its row, the cache folder, or nowhere.
enum class Place { Runtime, Temp, TempNext, Cache, Nowhere };

constexpr uid_t Nobody = 65534;

// Tries made as `taker` beside objects of `other`. Folders: base/run (the
// runtime folder), base/tmp (open to all, like /tmp), base/cache.
struct Scene {
    std::string base;
    uid_t taker;
    uid_t other;
    GuardFolders folders;
    std::string watched; // an object that must be left as it is

    std::string Path(const std::string &name) const { return base + "/" + name; }
    std::string Temp() const { return "tmp/lumacast2-" + std::to_string(taker); }
    std::string GuardIn(Place place) const
    {
        const std::string folder[] = {"run", Temp(), Temp() + ".1", "cache/lumacast2"};
        return Path(folder[static_cast<int>(place)] + "/guard.lock");
    }
    // Makes a file (or folder) of `owner`, to be watched.
    void Make(const std::string &name, mode_t mode, uid_t owner, bool folder = false)
    {
        watched = Path(name);
        folder ? ::mkdir(watched.c_str(), mode) : ::close(::open(watched.c_str(), O_CREAT | O_WRONLY, mode));
        ::chmod(watched.c_str(), mode);
        Own(watched, owner);
    }
    void Fifo(uid_t owner)
    {
        watched = Path("run/guard.lock");
        ::mkfifo(watched.c_str(), 0600);
        Own(watched, owner);
    }
    void Symlink(const char *target, const std::string &name)
    {
        EXPECT_EQ(::symlink(target, Path(name).c_str()), 0);
        Own(Path(name), taker);
    }
    static void Own(const std::string &path, uid_t owner)
    {
        EXPECT_EQ(::lchown(path.c_str(), owner, owner), 0);
    }
};

// Runs `body` in a child process as `uid` and hands back its exit code.
int RunAs(uid_t uid, const std::function<int()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (uid != ::geteuid() &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
             ::setresuid(uid, uid, uid) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (!test::WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; }, std::chrono::seconds(10),
                         test::Serving::Nothing)) { // a try that blocks
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceGuardTest, OnlyAPrivateFolderAndAFileOfOurOwnKeepTheGuard)
{
    const struct {
        const char *what;
        std::function<void(Scene &)> setup;
        Place expected;
        bool needsOther = false;
        std::function<void(Scene &)> between = nullptr; // between the two tries, as root
    } cases[] = {
        {"a private runtime folder", [](Scene &) {}, Place::Runtime},
        {"the system's runtime folder where none is named",
         [](Scene &s) {
             s.folders.systemRuntime = s.folders.runtime;
             s.folders.runtime.clear();
         },
         Place::Runtime},
        {"our own file from an earlier run",
         [](Scene &s) {
             s.Make("run/guard.lock", 0600, s.taker);
             s.watched.clear(); // it becomes the guard
         },
         Place::Runtime},
        {"a runtime folder open to all", [](Scene &s) { ::chmod(s.folders.runtime.c_str(), 01777); },
         Place::Temp},
        {"a runtime folder with group access", [](Scene &s) { ::chmod(s.folders.runtime.c_str(), 0750); },
         Place::Temp},
        {"another user's runtime folder", [](Scene &s) { Scene::Own(s.folders.runtime, s.other); },
         Place::Temp, true},
        {"a runtime folder that is a link to a private one",
         [](Scene &s) {
             s.Symlink("run", "link");
             s.folders.runtime = s.Path("link");
         },
         Place::Temp},
        {"no runtime folder", [](Scene &s) { s.folders.runtime.clear(); }, Place::Temp},
        {"a relative runtime folder", [](Scene &s) { s.folders.runtime = "run"; }, Place::Temp},
        {"another user's file", [](Scene &s) { s.Make("run/guard.lock", 0644, s.other); }, Place::Temp, true},
        {"another user's leftover that only they can read",
         [](Scene &s) { s.Make("run/guard.lock", 0600, s.other); }, Place::Temp, true},
        {"another user's FIFO", [](Scene &s) { s.Fifo(s.other); }, Place::Temp, true},
        {"our own FIFO", [](Scene &s) { s.Fifo(s.taker); }, Place::Temp},
        {"a folder", [](Scene &s) { s.Make("run/guard.lock", 0700, s.taker, true); }, Place::Temp},
        {"a link to a file of ours",
         [](Scene &s) {
             s.Make("cache/notes", 0600, s.taker);
             s.Symlink("../cache/notes", "run/guard.lock");
         },
         Place::Temp},
        {"a hard link to a file of ours",
         [](Scene &s) {
             s.Make("cache/notes", 0600, s.taker);
             EXPECT_EQ(::link(s.watched.c_str(), s.Path("run/guard.lock").c_str()), 0);
         },
         Place::Temp},
        {"another user's folder in the temporary folder",
         [](Scene &s) {
             s.folders.runtime.clear();
             s.Make(s.Temp(), 0700, s.other, true);
         },
         Place::TempNext, true},
        {"our folder further down the row, once the one before it has gone",
         [](Scene &s) {
             s.folders.runtime.clear();
             s.Make(s.Temp(), 0700, s.other, true);
             s.watched.clear();
         },
         Place::TempNext, true, [](Scene &s) { ::rmdir(s.Path(s.Temp()).c_str()); }},
        {"a link in the temporary folder to a private folder",
         [](Scene &s) {
             s.folders.runtime.clear();
             s.Symlink("../cache", s.Temp());
         },
         Place::TempNext},
        {"our folder in the temporary folder open to others",
         [](Scene &s) {
             s.folders.runtime.clear();
             s.Make(s.Temp(), 0755, s.taker, true);
         },
         Place::TempNext},
        {"the whole row in the temporary folder taken by another user",
         [](Scene &s) {
             s.folders.runtime.clear();
             for (int i = 7; i >= 0; --i)
                 s.Make(s.Temp() + (i > 0 ? "." + std::to_string(i) : ""), 0700, s.other, true);
         },
         Place::Cache, true},
        {"no folder that can keep it",
         [](Scene &s) {
             s.folders.runtime.clear();
             s.folders.cache.clear();
             for (int i = 7; i >= 0; --i)
                 s.Make(s.Temp() + (i > 0 ? "." + std::to_string(i) : ""), 0700, s.other, true);
         },
         Place::Nowhere, true},
    };

    // As root, each side is played once by root and once by another user.
    std::vector<std::pair<uid_t, uid_t>> roles = {{::geteuid(), ::geteuid()}};
    if (::geteuid() == 0)
        roles = {{0, Nobody}, {Nobody, 0}};
    for (const auto &[taker, other] : roles) {
        for (const auto &c : cases) {
            if ((c.needsOther && taker == other) || (c.between && taker != 0))
                continue;
            QTemporaryDir dir;
            Scene s{dir.path().toStdString(), taker, other, {}, {}};
            ::chmod(s.base.c_str(), 0755);
            s.Make("run", 0700, taker, true);
            s.Make("tmp", 01777, 0, true);
            s.Make("cache", 0700, taker, true);
            s.folders = {s.Path("run"), "", s.Path("tmp"), s.Path("cache")};
            s.watched.clear();
            c.setup(s);
            struct stat before {
            }, after{};
            ::lstat(s.watched.c_str(), &before);

            // Two tries: the second must find the first's guard, wherever it is.
            const int code = RunAs(taker, [&] {
                const auto first = TakeInstanceGuard("guard.lock", s.folders);
                if (c.between)
                    c.between(s);
                const auto second = TakeInstanceGuard("guard.lock", s.folders);
                return static_cast<int>(first) * 3 + static_cast<int>(second);
            });
            const std::string row = std::string(c.what) + " (as uid " + std::to_string(taker) + ")";
            const int expected = c.expected == Place::Nowhere
                ? static_cast<int>(GuardOutcome::NoGuard) * 3 + static_cast<int>(GuardOutcome::NoGuard)
                : static_cast<int>(GuardOutcome::Taken) * 3 + static_cast<int>(GuardOutcome::HeldElsewhere);
            EXPECT_EQ(code, expected) << row;
            for (const Place place : {Place::Runtime, Place::Temp, Place::TempNext, Place::Cache}) {
                struct stat st { };
                const bool guard = ::lstat(s.GuardIn(place).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_uid == taker && st.st_nlink == 1 && (st.st_mode & 07777) == (01000 | 0600);
                EXPECT_EQ(guard, place == c.expected) << row << ": place " << static_cast<int>(place);
            }
            // What was there before is left as it was: no mode change, no new owner.
            ::lstat(s.watched.c_str(), &after);
            EXPECT_EQ(after.st_mode, before.st_mode) << row;
            EXPECT_EQ(after.st_uid, before.st_uid) << row;
        }
    }
}

} // namespace
