#include "app/InstanceGuard.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

using namespace lumacast;

namespace {

// The descriptor of this process that has `path` open, or -1.
int openDescriptorOf(const std::string &path)
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

TEST(InstanceGuardTest, FolderFollowsTheRuntimeFolderOrFallsBackToAPrivateOne)
{
    const std::string fallback = InstanceGuardFolder(nullptr);
    ASSERT_FALSE(fallback.empty());
    struct stat st { };
    ASSERT_EQ(::lstat(fallback.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(st.st_uid, ::geteuid());

    const struct {
        const char *runtimeDir;
        std::string expected;
    } cases[] = {
        {"/run/user/1000", "/run/user/1000"}, {"/", "/"},          {"", fallback},
        {"relative/dir", fallback},           {nullptr, fallback},
    };
    for (const auto &c : cases)
        EXPECT_EQ(InstanceGuardFolder(c.runtimeDir), c.expected) << (c.runtimeDir ? c.runtimeDir : "(unset)");
}

TEST(InstanceGuardTest, TheGuardFileIsNamedAfterTheGuard)
{
    QTemporaryDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.path().toStdString().c_str(), 1);
    EXPECT_EQ(InstanceGuardPath(), dir.path().toStdString() + "/LUMACAST 2 FOR RK-DX420.lock");
    ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(InstanceGuardTest, TakenOnceThenHeldForEveryLaterTry)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("guard.lock").toStdString();
    EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::Taken);
    EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::HeldElsewhere);
    EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::HeldElsewhere);

    // Kept on one descriptor that no started program inherits.
    const int fd = openDescriptorOf(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    // Sticky, so the runtime folder's clean-up leaves it alone while in use.
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_ISVTX);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(InstanceGuardTest, AGuardFileThatCannotBeOpenedMeansNoGuard)
{
    QTemporaryDir dir;
    const std::string folderInTheWay = dir.filePath("folder.lock").toStdString();
    ASSERT_EQ(::mkdir(folderInTheWay.c_str(), 0700), 0);
    const std::string link = dir.filePath("link.lock").toStdString();
    ASSERT_EQ(::symlink(dir.filePath("elsewhere").toStdString().c_str(), link.c_str()), 0);

    const std::string paths[] = {
        "", dir.filePath("missing/guard.lock").toStdString(), folderInTheWay,
        link, // never followed: it could point anywhere
    };
    for (const auto &path : paths)
        EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::NoGuard) << path;
    EXPECT_FALSE(QFile::exists(dir.filePath("elsewhere")));
}

TEST(InstanceGuardTest, AReadOnlyGuardFileStillGuards)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("readonly.lock").toStdString();
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0400);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::Taken);
    EXPECT_EQ(TakeInstanceGuard(path), GuardOutcome::HeldElsewhere);
}

} // namespace
