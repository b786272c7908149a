#pragma once

#include <string>

namespace lumacast {

// The guard that keeps a second copy of the program out of the same logon.
inline constexpr const char *InstanceGuardName = "LUMACAST 2 FOR RK-DX420";

enum class GuardOutcome {
    Taken, // this copy holds the guard until the process ends
    HeldElsewhere, // another copy runs: give way
    NoGuard, // the guard file cannot be used: run without a guard
};

// The folder of the guard file: `runtimeDir` when it is an absolute path,
// otherwise a private folder of the user under /tmp (created 0700 and only
// used when it is the user's own), otherwise the user's cache folder. Empty
// when there is none.
std::string InstanceGuardFolder(const char *runtimeDir);

// The guard file in the folder that the environment gives.
std::string InstanceGuardPath();

// Tests and takes the guard in one step: an exclusive non-blocking lock on
// the file, kept on a descriptor that is never closed and not inherited, so
// the kernel drops it exactly when the process ends, however it ends.
GuardOutcome TakeInstanceGuard(const std::string &path);

} // namespace lumacast
