#include "platform/posix/faults.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::posix {

namespace {

std::function<int(FaultPoint)>& injector() {
    static std::function<int(FaultPoint)> f;
    return f;
}

int injected(FaultPoint point) {
    const auto& f = injector();
    return f ? f(point) : 0;
}

} // namespace

void setFaultInjector(std::function<int(FaultPoint)> f) {
    injector() = std::move(f);
}

int writeAll(int fd, const void* data, size_t size) {
    if (const int e = injected(FaultPoint::Write)) return e;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        size -= size_t(n);
    }
    return 0;
}

int pwriteAll(int fd, const void* data, size_t size, off_t offset) {
    if (const int e = injected(FaultPoint::Write)) return e;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        offset += n;
        size -= size_t(n);
    }
    return 0;
}

int syncFile(int fd) {
    if (const int e = injected(FaultPoint::Sync)) return e;
    // Not retried on failure: after a failed fsync the kernel may have dropped the dirty pages.
    return ::fsync(fd) == 0 ? 0 : errno;
}

int syncFolder(int folderFd) {
    if (const int e = injected(FaultPoint::FolderSync)) return e;
    if (::fsync(folderFd) == 0) return 0;
    // Some file systems cannot flush a folder; their renames are as durable as they get.
    return errno == EINVAL || errno == EROFS ? 0 : errno;
}

int renameAt(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    if (const int e = injected(FaultPoint::Rename)) return e;
    if (flags == 0) return ::renameat(fromFolder, from, toFolder, to) == 0 ? 0 : errno;
    return ::renameat2(fromFolder, from, toFolder, to, flags) == 0 ? 0 : errno;
}

int unlinkAt(int folder, const char* name) {
    if (const int e = injected(FaultPoint::Unlink)) return e;
    return ::unlinkat(folder, name, 0) == 0 ? 0 : errno;
}

const char* errorText(int err) {
    return std::strerror(err);
}

} // namespace tarnwick::posix
