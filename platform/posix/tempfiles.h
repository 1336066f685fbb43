#pragma once

#include "platform/posix/uniquefd.h"

#include <string>
#include <sys/types.h>

namespace tarnwick::posix {

// Our temporary files are named "<prefix><pid>-<6 random>[suffix]", created 0600 and kept
// locked (flock) by their writer until they are renamed or removed. That is how a later run
// tells a file of a dead writer of ours from anything else in the folder.
struct TempNaming {
    std::string prefix = ".tarnwick-";
    std::string suffix = ".part";
};

class SignalCleanup;

// Creates and locks a new temporary file in `folderFd`. Returns the descriptor, its name in
// `name`; on failure an invalid descriptor with errno set. With `cleanup`, the file is armed
// there before a signal can end the process, so that no signal finds it in place unarmed.
UniqueFd createTemp(int folderFd, const TempNaming& naming, std::string* name,
                    SignalCleanup* cleanup = nullptr);

// Removes the temporary files in `folderFd` that a run of ours left behind when it was killed:
// named by `naming`, regular, owned by us, unlocked, and written by a process that is gone (or,
// for names without a process id, untouched for a while). Anyone else's files stay.
// Returns how many were removed.
int sweepOrphans(int folderFd, const TempNaming& naming);

// While registered, a temporary file is removed when the process is ended by SIGINT, SIGTERM or
// SIGHUP; the signal then ends the process as it would have. Handlers are installed on first
// use, only for signals nobody else handles (a program that handles them cleans up itself).
class SignalCleanup {
public:
    SignalCleanup() = default;
    SignalCleanup(int folderFd, const std::string& name) { arm(folderFd, name); }
    ~SignalCleanup() { disarm(); }
    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;

    // `folderFd` must stay open while armed. False when the table is full (not fatal).
    bool arm(int folderFd, const std::string& name);
    void disarm();

private:
    int m_slot = -1;
};

} // namespace tarnwick::posix
