#pragma once

// What the command-line programs share about their output: names written as their exact bytes,
// one-line errors, and a failed write to standard output counted as a failure.

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarnwick::cli {

// Call last: flushes standard output; a write that failed (a full disk, a closed pipe) turns
// `status` into a failure, said on standard error. Returns the exit status to use.
inline int finishOutput(const char* program, int status, int failure) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int err = errno ? errno : EIO;
        std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
                     std::strerror(err));
        return status == 0 ? failure : status;
    }
    return status;
}

} // namespace tarnwick::cli
