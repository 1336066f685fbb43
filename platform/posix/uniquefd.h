#pragma once

#include <cerrno>
#include <unistd.h>

namespace tarnwick::posix {

// Owns one file descriptor and closes it when dropped.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    explicit operator bool() const { return valid(); }

    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0) {
            const int saved = errno;
            ::close(m_fd);
            errno = saved;
        }
        m_fd = fd;
    }
    // Closes now and says how it went: after writing, a failed close is a failed write.
    // Returns 0 or the errno.
    int close() {
        if (m_fd < 0) return 0;
        const int fd = release();
        return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int m_fd = -1;
};

} // namespace tarnwick::posix
