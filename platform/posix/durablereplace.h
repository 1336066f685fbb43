#pragma once

#include "platform/posix/tempfiles.h"
#include "platform/posix/uniquefd.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace tarnwick::posix {

struct ReplaceOptions {
    // Permissions of a target that does not exist yet (an existing one keeps its own).
    mode_t newFileMode = 0600;
    // A symbolic link as target: true writes through to the file it points at (the link stays),
    // false refuses it.
    bool followSymlink = true;
    // Where the data is written before it moves into place; -1 beside the target. Another file
    // system works (the data is then copied beside the target at the end). Not owned.
    int scratchFolderFd = -1;
    // An existing file's owner and group go to the new one (an archive that is updated); false
    // gives the new file to whoever writes it (a copy, whose readers are the writer's business).
    bool keepOwner = true;
    // The file will only ever get a free name through commitAsNew: what exists under the target
    // name is not looked at.
    bool newNameOnly = false;
    TempNaming naming;
    // Remove what killed runs of ours left in the target folder before starting.
    bool sweep = true;
    // How the target is named in messages; empty: the path as given.
    std::string displayName;
};

// Replaces one file so that a crash, a kill or a failing disk at any moment leaves either the
// old or the complete new file, never a mix and never a half-written one under the real name:
// the data goes to a locked temporary file, is flushed, renamed over the target, and the folder
// is flushed. Targets that exist and are not regular files (folders, devices, FIFOs, sockets)
// are refused without being opened for I/O, so nothing ever blocks on them. The temporary file
// is removed when the object is dropped uncommitted or the process is ended by a signal.
class DurableReplace {
public:
    DurableReplace() = default;
    ~DurableReplace() { discard(); }
    DurableReplace(const DurableReplace&) = delete;
    DurableReplace& operator=(const DurableReplace&) = delete;

    // Prepares to replace `path`. `folderFd` (not owned, kept open until the end) is the folder
    // `path` is relative to; AT_FDCWD for the working folder.
    bool open(const std::string& path, const ReplaceOptions& options = {});
    bool openAt(int folderFd, const std::string& path, const ReplaceOptions& options = {});

    // The temporary file, open for reading and writing.
    int fd() const { return m_temp.get(); }
    bool write(const void* data, size_t size);

    // Whether the target existed, and what it was.
    bool targetExisted() const { return m_existed; }
    const struct stat& targetStat() const { return m_target; }
    // The permissions the file gets at commit (default: the old file's, else newFileMode).
    mode_t mode() const { return m_mode; }
    void setMode(mode_t mode) { m_mode = mode & 07777; }

    // Sets the permissions and flushes the data (commit does it when not done before); may run
    // on another thread than the rest.
    bool sync();
    // Flushes the data, moves it into place and flushes the folder.
    bool commit();
    // As commit, but under `name` in the target's folder, and only when that name is free:
    // false with errorCode() EEXIST when it is taken (the data stays, ready for another name).
    bool commitAsNew(const std::string& name);
    // Drops the temporary file (nothing happens to the target).
    void discard();

    int errorCode() const { return m_error; }
    // The target was refused for what it is (not a regular file, or a link not to be followed),
    // not because a step failed.
    bool refused() const { return m_refused; }
    // One line: what failed, on which file, and the system's reason.
    const std::string& errorMessage() const { return m_message; }
    // Set when a commit succeeded but left something behind (a second name of the data that
    // could not be removed): one line naming it and the reason. The new file itself is sound.
    const std::string& warning() const { return m_warning; }
    // The final file, resolved through a followed link.
    const std::string& targetName() const { return m_name; }
    const std::string& tempName() const { return m_tempName; }

private:
    bool fail(int err, const std::string& what, const std::string& path, bool withReason = true);
    bool finish(const std::string& name, unsigned flags);
    bool moveAcross(const std::string& name, unsigned flags);
    // Removes the temporary name once the data has its final one; a failure is a warning.
    void dropTempName(int folderFd, const std::string& name);

    std::string m_display; // the path as given, for messages
    UniqueFd m_folder;     // the target's folder
    std::string m_name;    // the target's name in it
    int m_scratchFd = -1;  // where the temporary file lies (m_folder's fd or the caller's)
    UniqueFd m_temp;
    std::string m_tempName;
    SignalCleanup m_cleanup;
    ReplaceOptions m_options;
    struct stat m_target {};
    bool m_existed = false;
    bool m_prepared = false;
    bool m_refused = false;
    mode_t m_mode = 0600;
    int m_error = 0;
    std::string m_message;
    std::string m_warning;
};

} // namespace tarnwick::posix
