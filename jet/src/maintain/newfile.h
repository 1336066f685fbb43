#pragma once

#include "platform/posix/tempfiles.h"
#include "platform/posix/uniquefd.h"

#include <string>

namespace tarnwick::jet {

// A new database file is written under a temporary name beside its destination and renamed
// into place, never over anything, once it is verified and synced. Nobody finds a half-written
// database under the name, and what a kill leaves is a temporary file that the next writer in
// the folder sweeps. Unless published, the temporary file goes with the object.
class NewFileBeside {
public:
    // Throws RewriteRefused when `destination` exists (a link included), JetError when its folder
    // takes no temporary file.
    explicit NewFileBeside(const std::string& destination);
    ~NewFileBeside();
    NewFileBeside(const NewFileBeside&) = delete;
    NewFileBeside& operator=(const NewFileBeside&) = delete;

    // Where to write: a free name, for a writer that creates the file itself (O_EXCL).
    std::string tempPath() const { return m_folder + '/' + m_temp; }
    // Gives the written and synced file its name; throws if the name was taken meanwhile.
    void publish();

private:
    std::string m_destination, m_folder, m_name, m_temp;
    posix::UniqueFd m_dir;
    posix::SignalCleanup m_cleanup;
    bool m_published = false;
};

} // namespace tarnwick::jet
