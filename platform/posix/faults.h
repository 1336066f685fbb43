#pragma once

#include <cstddef>
#include <functional>
#include <sys/types.h>

namespace tarnwick::posix {

// The steps of a durable write a test can make fail, as a test file system would.
enum class FaultPoint { Write, Sync, Rename, FolderSync, Unlink };

// Test seam: called before each step; returns the errno the step fails with, or 0 to let it run.
// Process-wide; an empty function turns injection off.
void setFaultInjector(std::function<int(FaultPoint)> injector);

// The checked calls behind every durable write. Each returns 0 or the errno of the failure.
int writeAll(int fd, const void* data, size_t size);
int pwriteAll(int fd, const void* data, size_t size, off_t offset);
int syncFile(int fd);
int syncFolder(int folderFd);
int renameAt(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags = 0);
int unlinkAt(int folder, const char* name);

// errno as text, without Qt.
const char* errorText(int err);

} // namespace tarnwick::posix
