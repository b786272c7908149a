#pragma once

#include <string>

namespace lumacast {

enum class GuardOutcome {
    Taken, // this copy holds the guard until the process ends
    HeldElsewhere, // another copy holds it: give way
    NoGuard, // no folder could keep the guard: run without one
};

// The folders that may keep the guard file, best first. Each is used only
// when it is the user's own and private: a real folder (not a link), owned
// by the user, with no access for group or others. Anything else, whoever
// left it there, only sends the guard on to the next one.
struct GuardFolders {
    std::string runtime; // the runtime folder, used as it is
    // The system's runtime folder of the user, used as it is: a copy started
    // without the runtime folder's name still meets one started with it.
    std::string systemRuntime;
    // Holds the folder "lumacast2-<uid>", made when missing; where that is
    // not ours, the first of "lumacast2-<uid>.1" to ".7" that is.
    std::string temp;
    std::string cache; // holds the folder "lumacast2", both made when missing
};

// The runtime folder that the environment names, the system's runtime
// folder of the user, /tmp and the user's cache folder.
GuardFolders GuardFoldersOfUser();

// Tests and takes the guard file `fileName` in the first folder that can keep
// it, in one step: an exclusive non-blocking lock, kept on a descriptor that
// is never closed and not inherited, so the kernel drops it exactly when the
// process ends, however it ends. The file must be a regular file of the
// user's with no other link; it is opened without following links.
GuardOutcome TakeInstanceGuard(const std::string &fileName, const GuardFolders &folders);
GuardOutcome TakeInstanceGuard(const std::string &fileName);

} // namespace lumacast
