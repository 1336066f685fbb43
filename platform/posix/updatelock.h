#pragma once

#include "platform/posix/uniquefd.h"

#include <string>

namespace tarnwick::posix {

// Holds an exclusive lock for a whole read-modify-replace of the file at `path`, so that a second
// run waits instead of losing the first one's work. A replaced file is a new inode, so the lock
// is taken on the file and then checked to still be the one under the name; a file that does not
// exist yet is covered by a lock on its folder until it does. Never blocks on a FIFO or device:
// a path that is not a regular file is refused.
class UpdateLock {
public:
    UpdateLock() = default;
    // Waits for the lock; false with a one-line reason in error() when it cannot be had.
    bool lock(const std::string& path);
    void unlock() { m_fd.reset(); }
    bool locked() const { return m_fd.valid(); }
    const std::string& error() const { return m_error; }
    // Whether another run held the lock when this one asked (the caller may say it waited).
    bool waited() const { return m_waited; }

private:
    UniqueFd m_fd;
    std::string m_error;
    bool m_waited = false;
};

} // namespace tarnwick::posix
