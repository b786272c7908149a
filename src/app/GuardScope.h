#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lumacast {

// The guard that keeps a second copy of the program out of the same login session.
inline constexpr const char *InstanceGuardName = "LUMACAST 2 FOR RK-DX420";

// The value of an environment variable, or null when it is not set.
using EnvironmentLookup = std::function<const char *(const char *)>;

// The name of the guard file: one copy runs per login session. The session is
// the kernel's audit session of the logon, which no environment can change;
// without one, the one that XDG_SESSION_ID names; where none is named, the
// display that the window opens on stands for it, and without a display one
// scope serves the whole user. "LUMACAST 2 FOR RK-DX420.session-3.lock",
// "LUMACAST 2 FOR RK-DX420.display-:0.lock", "LUMACAST 2 FOR RK-DX420.lock".
// The scope is escaped so that it stays part of one file name.
std::string InstanceGuardFileName(std::optional<std::uint32_t> auditSession,
                                  const EnvironmentLookup &environment);

// The same for this process's audit session and environment.
std::string InstanceGuardFileName();

} // namespace lumacast
