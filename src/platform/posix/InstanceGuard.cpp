#include "platform/InstanceGuard.h"

#include "platform/UserSession.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumacast {
namespace {

// A handle on `path` when only this user can use the folder there, else -1.
// The checks are made on the handle and the file is opened relative to it, so
// the folder cannot be swapped between the check and the use.
int OpenPrivateFolder(const std::string &path)
{
    if (path.empty() || path[0] != '/')
        return -1;
    const int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The outcome in the folder at `path`; none when the folder cannot keep the guard.
std::optional<GuardOutcome> TakeIn(const std::string &path, const std::string &fileName)
{
    const int folder = OpenPrivateFolder(path);
    if (folder < 0)
        return std::nullopt;
    // Never read-only: what we may not write to is not ours to lock. A FIFO
    // must not block and a terminal must not become ours.
    const int fd = ::openat(folder, fileName.c_str(),
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    ::close(folder);
    if (fd < 0)
        return std::nullopt;
    // Only our own regular file: a hard link could make the lock, and the
    // mode change below, reach a file that has nothing to do with the guard.
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        ::close(fd);
        return std::nullopt;
    }
    // Test and take in one call: of two copies started in the same instant, one gets it.
    int result;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return GuardOutcome::HeldElsewhere;
        return std::nullopt;
    }
    // The sticky bit keeps the runtime folder's periodic clean-up away from a
    // file in use; a deleted guard file would let a second copy in. Only ever
    // set on the file checked above. Where it cannot be set the lock still
    // holds; only the clean-up protection is lost.
    (void)::fchmod(fd, (st.st_mode & 07777) | S_ISVTX);
    // Deliberately never closed: the lock lives exactly as long as the process.
    return GuardOutcome::Taken;
}

// True when another process holds the guard in the folder at `path`. Makes
// nothing and takes nothing for longer than the look.
bool HeldIn(const std::string &path, const std::string &fileName)
{
    const int folder = OpenPrivateFolder(path);
    if (folder < 0)
        return false;
    const int fd =
        ::openat(folder, fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(folder);
    if (fd < 0)
        return false;
    struct stat st { };
    bool held = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        int result;
        while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
        held = result != 0 && errno == EWOULDBLOCK;
    }
    ::close(fd); // a lock taken by the look goes with it
    return held;
}

// Another user may have made our folder in the shared temporary folder
// first; then the next name of a short, fixed row is ours. Every copy walks
// the same row, so copies started together still meet in one folder.
constexpr int TempFolderNames = 8;

std::string TempFolder(const std::string &base, int index)
{
    std::string name = base + "/lumacast2-" + std::to_string(::geteuid());
    if (index > 0)
        name += "." + std::to_string(index);
    return name;
}

std::optional<GuardOutcome> TakeInTemp(const std::string &base, const std::string &fileName)
{
    for (int i = 0; i < TempFolderNames; ++i) {
        const std::string folder = TempFolder(base, i);
        // An existing folder fails here and is checked by takeIn like any other.
        (void)::mkdir(folder.c_str(), 0700);
        const int fd = OpenPrivateFolder(folder);
        if (fd < 0)
            continue;
        ::close(fd);
        // A folder before this one that its maker removed since a copy
        // settled further down the row must not let a second copy in.
        for (int later = i + 1; later < TempFolderNames; ++later)
            if (HeldIn(TempFolder(base, later), fileName))
                return GuardOutcome::HeldElsewhere;
        return TakeIn(folder, fileName);
    }
    return std::nullopt;
}

std::string CacheBase()
{
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/')
        return cache;
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd *pw = ::getpwuid(::geteuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/')
        return {};
    return std::string(home) + "/.cache";
}

} // namespace

GuardFolders GuardFoldersOfUser()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return {runtime != nullptr ? runtime : "", SystemRuntimeFolder(), "/tmp", CacheBase()};
}

GuardOutcome TakeInstanceGuard(const std::string &fileName, const GuardFolders &folders)
{
    if (const auto outcome = TakeIn(folders.runtime, fileName))
        return *outcome;
    if (folders.systemRuntime != folders.runtime)
        if (const auto outcome = TakeIn(folders.systemRuntime, fileName))
            return *outcome;
    // The fallbacks are made only when reached; one that someone else made
    // first is refused like any other folder that is not private.
    if (!folders.temp.empty())
        if (const auto outcome = TakeInTemp(folders.temp, fileName))
            return *outcome;
    if (!folders.cache.empty()) {
        const std::string cache = folders.cache + "/lumacast2";
        (void)::mkdir(folders.cache.c_str(), 0700);
        (void)::mkdir(cache.c_str(), 0700);
        if (const auto outcome = TakeIn(cache, fileName))
            return *outcome;
    }
    return GuardOutcome::NoGuard;
}

GuardOutcome TakeInstanceGuard(const std::string &fileName)
{
    return TakeInstanceGuard(fileName, GuardFoldersOfUser());
}

} // namespace lumacast
