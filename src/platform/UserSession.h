#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumacast {

// What the system tells about the logon the process runs in, beyond what the
// environment says (which a process may change for its children).

// The kernel's audit session of the process: set at logon, inherited by
// every process started in it, and out of a process's own reach. None where
// the system keeps no audit sessions.
std::optional<std::uint32_t> AuditSession();

// The runtime folder that the system makes for the user at logon
// (/run/user/<uid>), whether or not the environment names it.
std::string SystemRuntimeFolder();

// Without a session bus, the toolkit's first look for one would start a bus
// daemon of its own that outlives the program. So where the environment names
// no bus and none listens in the runtime folder, name an address that finds
// none; where the system's runtime folder holds one that the environment
// does not lead to, name that. Call before the application object exists.
void KeepSessionBusFromAutolaunching();

} // namespace lumacast
