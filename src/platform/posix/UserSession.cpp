#include "platform/UserSession.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace lumacast {
namespace {

// The kernel's mark of a process outside any audit session.
constexpr unsigned long long NoAuditSession = 4294967295ull;

// An address of no known kind: every look for a bus at it fails at once.
constexpr const char *NoBus = "disabled:";

bool OwnSocket(const std::string &path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

std::optional<std::uint32_t> AuditSession()
{
    std::ifstream in("/proc/self/sessionid");
    unsigned long long id = NoAuditSession;
    if (!(in >> id) || id >= NoAuditSession)
        return std::nullopt;
    return static_cast<std::uint32_t>(id);
}

std::string SystemRuntimeFolder()
{
    return "/run/user/" + std::to_string(::geteuid());
}

void KeepSessionBusFromAutolaunching()
{
    if (const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        address != nullptr && address[0] != '\0')
        return;
    // The bus library looks there itself.
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/' && OwnSocket(std::string(runtime) + "/bus"))
        return;
    const std::string systemBus = SystemRuntimeFolder() + "/bus";
    const std::string address = OwnSocket(systemBus) ? "unix:path=" + systemBus : NoBus;
    (void)::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

} // namespace lumacast
