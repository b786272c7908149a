#include "app/InstanceGuard.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumacast {
namespace {

// A folder that only this user can use: ours, a real folder, no access for others.
bool privateFolder(const std::string &path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

std::string cacheFolder()
{
    std::string base;
    if (const char *cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
        base = cache;
    } else {
        const char *home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            const passwd *pw = ::getpwuid(::geteuid());
            home = pw != nullptr ? pw->pw_dir : nullptr;
        }
        if (home == nullptr || home[0] != '/')
            return {};
        base = std::string(home) + "/.cache";
    }
    ::mkdir(base.c_str(), 0700);
    const std::string folder = base + "/lumacast2";
    ::mkdir(folder.c_str(), 0700);
    return privateFolder(folder) ? folder : std::string();
}

} // namespace

std::string InstanceGuardFolder(const char *runtimeDir)
{
    if (runtimeDir != nullptr && runtimeDir[0] == '/')
        return runtimeDir;
    // Someone else may have made this folder first to lock us out; then it is not used.
    std::string tmp = "/tmp/lumacast2-" + std::to_string(::geteuid());
    ::mkdir(tmp.c_str(), 0700);
    if (privateFolder(tmp))
        return tmp;
    return cacheFolder();
}

std::string InstanceGuardPath()
{
    const std::string folder = InstanceGuardFolder(std::getenv("XDG_RUNTIME_DIR"));
    if (folder.empty())
        return {};
    return folder + "/" + InstanceGuardName + ".lock";
}

GuardOutcome TakeInstanceGuard(const std::string &path)
{
    if (path.empty())
        return GuardOutcome::NoGuard;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); // a lock needs no write access
    if (fd < 0)
        return GuardOutcome::NoGuard;
    // Test and take in one call: of two copies started in the same instant, one gets it.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? GuardOutcome::HeldElsewhere : GuardOutcome::NoGuard;
    }
    // The sticky bit keeps the runtime folder's periodic clean-up away from a
    // file in use; a deleted guard file would let a second copy in.
    struct stat st { };
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid())
        ::fchmod(fd, (st.st_mode & 07777) | S_ISVTX);
    // Deliberately never closed: the lock lives exactly as long as the process.
    return GuardOutcome::Taken;
}

} // namespace lumacast
